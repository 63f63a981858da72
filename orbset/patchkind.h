// What setFields leaves in a patch's entry of a scalar field, by its type:
// it assigns every patch the values of the cells next to its faces, and
// then writes the field. Measured with OpenFOAM 1912's setFields.
#pragma once

#include <string_view>

namespace orbset {

enum class PatchKind {
    adjacent,  // the value becomes the adjacent cells' values (calculated, processor, ...)
    kept,      // the assignment does nothing: the value stays (fixedValue, inletOutlet, ...)
    no_value,  // no value is written: the entry stays (zeroGradient, empty, symmetry, ...)
    unknown,   // not measured: the entry stays, with a warning
};

PatchKind patch_kind(std::string_view type);

}  // namespace orbset
