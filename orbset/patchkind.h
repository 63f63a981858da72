// What setFields leaves in a patch's entry of a field, by its type: it
// assigns every patch the values of the cells next to its faces, and then
// writes the field. And how the type reads a `value` entry when OpenFOAM
// reads the field: setFields stops at a field whose patch lacks a value
// its type requires, or holds one of another size.
//
// setFields knows the types of OpenFOAM's finite volume library, and those
// of the libraries controlDict's `libs` loads; any other type it reads as
// a generic patch field, which requires a value and takes the cells'. From
// OpenFOAM 1912's patch field classes, and checked with its setFields.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orbset {

enum class PatchKind {
    adjacent,  // the value becomes the adjacent cells' values (calculated, processor, ...)
    kept,      // the assignment does nothing: the value stays (fixedValue, inletOutlet, ...)
    before,    // set to the adjacent cells' values when read, then kept: the cells'
               // values before the last region of cells (epsilonWallFunction, ...)
    no_value,  // no value is written: a value in the file is dropped (zeroGradient, ...)
    unknown,   // not measured: the entry stays, with a warning
};

enum class ValueRead {
    ignored,     // never read: any text will do
    if_present,  // read, and so checked, when the entry has one
    required,    // read; its absence stops setFields
};

struct PatchRule {
    PatchKind kind;
    ValueRead value;
    bool generic = false;  // a type setFields does not know
    // Where a kept type without a value takes the one it writes: the
    // entry of that name (inletValue, p0, ...); "" for the cells' values
    // when read; null where orbset does not model it.
    const char *value_from = nullptr;
    // Its value becomes the cells' whenever setFields reads the field
    // (zeroGradient and its kin, extrapolatedCalculated, ...), not the
    // value the file holds.
    bool reset = false;
};

// The rule of a patch type, for a setFields that has loaded `libs` (the
// names controlDict's libs gives, such as "libturbulenceModels.so").
// `every_type`: the release is 1912, whose libraries' types are all listed
// here; another release's finite volume library may hold types 1912's
// does not, and its libraries others than 1912's, so there a type that is
// not 1912's own finite volume type nor one of a library not loaded is
// kept, with a warning, rather than taken for a generic patch field.
PatchRule patch_rule(std::string_view type, const std::vector<std::string> &libs = {},
                     bool every_type = true);

}  // namespace orbset
