// What setFields leaves in a patch's entry of a field, by its type: it
// assigns every patch the values of the cells next to its faces, and then
// writes the field. And how the type reads a `value` entry when OpenFOAM
// reads the field: setFields stops at a field whose patch lacks a value
// its type requires, or holds one of another size. From OpenFOAM 1912's
// patch field classes, and measured with its setFields.
#pragma once

#include <string_view>

namespace orbset {

enum class PatchKind {
    adjacent,  // the value becomes the adjacent cells' values (calculated, processor, ...)
    kept,      // the assignment does nothing: the value stays (fixedValue, inletOutlet, ...)
    no_value,  // no value is written: the entry stays (zeroGradient, empty, symmetry, ...)
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
};

PatchRule patch_rule(std::string_view type);
inline PatchKind patch_kind(std::string_view type) { return patch_rule(type).kind; }

}  // namespace orbset
