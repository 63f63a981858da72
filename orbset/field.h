// A volume field file as setFields reads and writes it: the cells' values
// from internalField, the entries of boundaryField given to the mesh's
// patches as OpenFOAM gives them (by name, by group, by pattern, from the
// file or from the files it includes), and every other byte of the file
// kept as it was written.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "foam/dictionary.h"
#include "foam/lexer.h"
#include "foam/polymesh.h"
#include "out.h"
#include "patchkind.h"
#include "plan.h"

namespace orbset {

// What a patch of the mesh takes from the file.
struct PatchPlan {
    const foam::DictEntry *entry = nullptr;  // null: an empty patch, which needs none
    bool in_place = false;  // its entry bears its name and is written once in the file
    std::string type;
    PatchRule rule{PatchKind::no_value, ValueRead::ignored};
};

// What the writer puts in a patch's value.
struct PatchOut {
    enum class How {
        keep,    // the entry as it is
        cells,   // the values of the cells next to its faces
        values,  // `values`, one a face
        drop,    // the value removed: the type writes none
    } how = How::keep;
    std::vector<double> values;  // faces x components
};

// A $variable of the file, and the entry it named when read.
struct Ref {
    const char *begin, *end;
    const foam::DictEntry *target;
};

struct FieldFile {
    // As read, text->name the file to replace; none for a field the case
    // does not have. Held where it stays while the FieldFile moves: the
    // entries point into it.
    std::unique_ptr<foam::Text> text;
    std::unique_ptr<foam::ReadDictionary> dict;  // its entries, and what it includes
    foam::Header header;
    FieldType type = FieldType::scalar;
    const foam::DictEntry *internal = nullptr;
    bool internal_uniform = false;
    std::vector<double> values;    // cells x components
    const foam::DictEntry *boundary = nullptr;
    std::vector<Ref> refs;         // in the text
    std::vector<PatchPlan> patches;  // one a mesh patch
    std::vector<PatchOut> out;       // one a mesh patch

    bool present() const { return text != nullptr; }
    int components() const { return orbset::components(type); }
};

// Reads a field file of the given type on a mesh of n_cells cells from its
// text, its includes found through inc; throws foam::Bad. A field of
// another size is refused with mesh_hint, what may be wrong with the mesh,
// or else as a field of another mesh.
FieldFile read_field(foam::Text text, FieldType type, foam::label n_cells,
                     const foam::Includes &inc, const std::string &mesh_hint = "");

// Gives every patch of the mesh its entry, as OpenFOAM does when it reads
// the field, and checks the values it reads; throws foam::Bad for a patch
// with no entry. Adds a warning for each entry of a type orbset does not
// know (every_type as for patch_rule).
void resolve_patches(FieldFile &f, const std::vector<foam::BoundaryPatch> &patches,
                     const std::vector<std::string> &libs, std::vector<std::string> &warnings,
                     bool every_type = true);

// The values a patch's entry holds, faces x components: its value, or
// where it has none, the value its type writes from another entry
// (PatchRule::value_from); throws foam::Bad where there is neither.
// A value given as a function of time is taken at time `time`.
std::vector<double> patch_values(const FieldFile &f, std::size_t patch,
                                 const std::vector<foam::BoundaryPatch> &patches,
                                 double time = 0);

// The owner cell of every boundary face, from the first one on.
struct BoundaryCells {
    foam::label first_face;
    std::vector<foam::label> owner;
};

// Writes the file anew: f.values in internalField, f.out in the patches,
// everything else as it was.
void write_field(const FieldFile &f, const std::vector<foam::BoundaryPatch> &patches,
                 const BoundaryCells &cells, int precision, Out &out);

}  // namespace orbset
