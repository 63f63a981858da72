#include "patchkind.h"

namespace orbset {

namespace {

struct Known {
    const char *type;
    PatchRule rule;
};

using K = PatchKind;
using V = ValueRead;

// Each seen in the field setFields wrote, with a region that set every cell;
// the reading of `value` as each type's constructor from a dictionary does
// it. Plain mixed is not here: it evaluates itself when read, so the value
// it writes depends on the old cells and its coefficients.
constexpr Known kKnown[] = {
    {"calculated", {K::adjacent, V::required}},
    {"extrapolatedCalculated", {K::adjacent, V::ignored}},
    {"processor", {K::adjacent, V::if_present}},
    {"processorCyclic", {K::adjacent, V::if_present}},
    {"constantAlphaContactAngle", {K::adjacent, V::ignored}},
    {"fixedFluxPressure", {K::adjacent, V::if_present}},
    {"uniformFixedGradient", {K::adjacent, V::ignored}},
    {"fixedValue", {K::kept, V::required}},
    {"uniformFixedValue", {K::kept, V::if_present}},
    {"inletOutlet", {K::kept, V::if_present}},
    {"outletInlet", {K::kept, V::if_present}},
    {"uniformInletOutlet", {K::kept, V::if_present}},
    {"fixedMean", {K::kept, V::required}},
    {"fixedMeanOutletInlet", {K::kept, V::required}},
    {"totalPressure", {K::kept, V::if_present}},
    {"prghPressure", {K::kept, V::if_present}},
    {"variableHeightFlowRate", {K::kept, V::if_present}},
    {"advective", {K::kept, V::if_present}},
    {"waveTransmissive", {K::kept, V::if_present}},
    {"outletMappedUniformInlet", {K::kept, V::required}},
    {"zeroGradient", {K::no_value, V::ignored}},
    {"fixedGradient", {K::no_value, V::ignored}},
    {"empty", {K::no_value, V::ignored}},
    {"cyclic", {K::no_value, V::ignored}},
    {"wedge", {K::no_value, V::ignored}},
    {"symmetryPlane", {K::no_value, V::ignored}},
    {"symmetry", {K::no_value, V::ignored}},
    {"slip", {K::no_value, V::ignored}},
    {"partialSlip", {K::no_value, V::ignored}},
    {"fixedInternalValue", {K::no_value, V::ignored}},
};

}  // namespace

PatchRule patch_rule(std::string_view type)
{
    for (const Known &k : kKnown)
        if (type == k.type)
            return k.rule;
    return {PatchKind::unknown, ValueRead::ignored};
}

}  // namespace orbset
