// system/setFieldsDict as setFields reads it, for the part of it that
// orbset applies: defaultFieldValues, and regions of boxToCell and
// sphereToCell with volScalarFieldValue entries. Anything else is refused
// before anything is written, in one line that names the file, the line
// and the entry and says to use setFields.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "foam/text.h"
#include "select.h"

namespace orbset {

// A volScalarFieldValue entry: a field (an index into Plan::fields) and
// the value it gives the cells.
struct Setting {
    int field;
    double value;
};

struct Region {
    enum class Source { box, sphere } source;
    std::size_t first_box, n_boxes;         // into Plan::boxes, for box
    Sphere sphere;                          // for sphere
    std::size_t first_setting, n_settings;  // into Plan::settings
};

struct Plan {
    std::vector<std::string> fields;  // every field named, in the order first named
    std::vector<Setting> defaults;    // defaultFieldValues, in order
    std::vector<Region> regions;      // in order: the last one to take a cell sets it
    std::vector<Box> boxes;
    std::vector<Setting> settings;    // the fieldValues of every region, region by region
};

// Reads the dictionary; throws foam::Bad.
Plan read_plan(const foam::Text &dict);

}  // namespace orbset
