#include "patchkind.h"

namespace orbset {

namespace {

struct Known {
    const char *type;
    PatchKind kind;
};

// Each seen in the field setFields wrote, with a region that set every cell.
// Plain mixed is not here: it evaluates itself when read, so the value it
// writes depends on the old cells and its coefficients.
constexpr Known kKnown[] = {
    {"calculated", PatchKind::adjacent},
    {"extrapolatedCalculated", PatchKind::adjacent},
    {"processor", PatchKind::adjacent},
    {"processorCyclic", PatchKind::adjacent},
    {"constantAlphaContactAngle", PatchKind::adjacent},
    {"fixedFluxPressure", PatchKind::adjacent},
    {"uniformFixedGradient", PatchKind::adjacent},
    {"fixedValue", PatchKind::kept},
    {"uniformFixedValue", PatchKind::kept},
    {"inletOutlet", PatchKind::kept},
    {"outletInlet", PatchKind::kept},
    {"uniformInletOutlet", PatchKind::kept},
    {"fixedMean", PatchKind::kept},
    {"fixedMeanOutletInlet", PatchKind::kept},
    {"totalPressure", PatchKind::kept},
    {"prghPressure", PatchKind::kept},
    {"variableHeightFlowRate", PatchKind::kept},
    {"advective", PatchKind::kept},
    {"waveTransmissive", PatchKind::kept},
    {"outletMappedUniformInlet", PatchKind::kept},
    {"zeroGradient", PatchKind::no_value},
    {"fixedGradient", PatchKind::no_value},
    {"empty", PatchKind::no_value},
    {"cyclic", PatchKind::no_value},
    {"wedge", PatchKind::no_value},
    {"symmetryPlane", PatchKind::no_value},
    {"symmetry", PatchKind::no_value},
    {"slip", PatchKind::no_value},
    {"partialSlip", PatchKind::no_value},
    {"fixedInternalValue", PatchKind::no_value},
};

}  // namespace

PatchKind patch_kind(std::string_view type)
{
    for (const Known &k : kKnown)
        if (type == k.type)
            return k.kind;
    return PatchKind::unknown;
}

}  // namespace orbset
