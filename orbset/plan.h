// system/setFieldsDict as setFields reads it: defaultFieldValues, and
// regions of the topoSet sources orbset applies (cells by box, sphere,
// cylinder, rotated box, zone, label or cell set; boundary faces by box,
// patch, zone, label, face set, or all of them), each with its fieldValues
// of the volume field types setFields sets. Anything else is refused before
// anything is written, in one line that names the file, the line and the
// entry and says to use setFields.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "foam/dictionary.h"
#include "foam/text.h"
#include "release.h"
#include "select.h"

namespace orbset {

// The volume field types setFields sets, and the components of a value.
enum class FieldType { scalar, vector, sphericalTensor, symmTensor, tensor };

int components(FieldType t);
// "volScalarField", ...: the class of the field's file.
const char *class_name(FieldType t);
// "scalar", ...: the type of its lists, List<scalar>.
const char *item_name(FieldType t);

struct Field {
    std::string name;
    FieldType type;
};

using Value = std::array<double, 9>;

// A fieldValues entry such as volVectorFieldValue U (1 0 0): a field (an
// index into Plan::fields) and the value it gives.
struct Setting {
    int field;
    Value value;
};

// A name of a zone, a patch or a set: a word, or a quoted regular
// expression.
struct Name {
    std::string text;
    bool pattern = false;
};

struct Region {
    enum class Source {
        // sets of cells
        box, sphere, cylinder, rotated_box, zone, labels, cell_set,
        // sets of faces
        face_box, face_patch, face_zone, face_labels, face_set, face_boundary,
    } source;
    std::string keyword;                    // boxToCell, ...: for diagnostics
    long long line = 0;                     // where it is written in the dictionary
    std::size_t first_box = 0, n_boxes = 0; // into Plan::boxes, for box and face_box
    Sphere sphere{};
    Cylinder cylinder{};
    RotatedBox rotated{};
    std::vector<Name> names;                // zones, patches, sets
    std::vector<label> labels;
    std::size_t first_setting = 0, n_settings = 0;  // into Plan::settings

    bool of_faces() const { return source >= Source::face_box; }
};

struct Plan {
    std::vector<Field> fields;        // every field named, in the order first named
    std::vector<Setting> defaults;    // defaultFieldValues, in order
    std::vector<Region> regions;      // in order: the last one to take a cell sets it
    std::vector<Box> boxes;
    std::vector<Setting> settings;    // the fieldValues of every region, region by region
    std::string name;                 // the dictionary's file, for diagnostics
    std::vector<std::string> warnings;  // values the release's setFields does not read

    bool has_face_regions() const;
    bool has_source(Region::Source s) const;
    // Whether region r sets field f.
    bool sets(const Region &r, std::size_t f) const;
    // The boxes of a box or face_box region.
    std::span<const Box> boxes_of(const Region &r) const
    {
        return std::span<const Box>(boxes).subspan(r.first_box, r.n_boxes);
    }
};

// Reads the dictionary, its includes found through inc, as the setFields
// of `release` reads it; throws foam::Bad.
Plan read_plan(const foam::Text &dict, const foam::Includes &inc,
               const Release &release = kDebianRelease);

}  // namespace orbset
