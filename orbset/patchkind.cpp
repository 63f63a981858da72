#include "patchkind.h"

#include <algorithm>

namespace orbset {

namespace {

using K = PatchKind;
using V = ValueRead;

// The library a type comes from, where it is not the finite volume one,
// and the libraries that bring it in when controlDict's libs names them
// (those that link to it).
enum class Library { finite_volume, turbulence, two_phase, waves, overset };

struct Known {
    const char *type;
    PatchRule rule;
    Library library;
};

// The kinds of the types of each library, from the constructor each type
// reads a dictionary with, its assignment operator and its write().
// Plain mixed is not here: it evaluates itself when read, so the value it
// writes depends on the old cells, its coefficients and the mesh.
constexpr Known kKnown[] = {
    {"calculated", {K::adjacent, V::required}, Library::finite_volume},
    {"extrapolatedCalculated", {K::adjacent, V::ignored, false, nullptr, true}, Library::finite_volume},
    {"processor", {K::adjacent, V::if_present}, Library::finite_volume},
    {"processorCyclic", {K::adjacent, V::if_present}, Library::finite_volume},
    {"cyclicAMI", {K::adjacent, V::if_present}, Library::finite_volume},
    {"cyclicACMI", {K::adjacent, V::if_present}, Library::finite_volume},
    {"fixedFluxPressure", {K::adjacent, V::if_present}, Library::finite_volume},
    {"fixedFluxExtrapolatedPressure", {K::adjacent, V::if_present}, Library::finite_volume},
    {"uniformFixedGradient", {K::adjacent, V::ignored, false, nullptr, true}, Library::finite_volume},
    {"fixedValue", {K::kept, V::required}, Library::finite_volume},
    {"uniformFixedValue", {K::kept, V::if_present, false, "uniformValue"}, Library::finite_volume},
    {"inletOutlet", {K::kept, V::if_present, false, "inletValue"}, Library::finite_volume},
    {"outletInlet", {K::kept, V::if_present, false, "outletValue"}, Library::finite_volume},
    {"uniformInletOutlet", {K::kept, V::if_present, false, "uniformInletValue"},
     Library::finite_volume},
    {"fixedMean", {K::kept, V::required}, Library::finite_volume},
    {"fixedMeanOutletInlet", {K::kept, V::required}, Library::finite_volume},
    {"totalPressure", {K::kept, V::if_present, false, "p0"}, Library::finite_volume},
    {"prghPressure", {K::kept, V::if_present, false, "p"}, Library::finite_volume},
    {"variableHeightFlowRate", {K::kept, V::if_present, false, ""}, Library::finite_volume},
    {"advective", {K::kept, V::if_present, false, ""}, Library::finite_volume},
    {"waveTransmissive", {K::kept, V::if_present, false, ""}, Library::finite_volume},
    {"outletMappedUniformInlet", {K::kept, V::required}, Library::finite_volume},
    {"zeroGradient", {K::no_value, V::ignored}, Library::finite_volume},
    {"fixedGradient", {K::no_value, V::ignored}, Library::finite_volume},
    {"fixedInternalValue", {K::no_value, V::ignored}, Library::finite_volume},
    {"empty", {K::no_value, V::ignored}, Library::finite_volume},
    {"cyclic", {K::no_value, V::ignored}, Library::finite_volume},
    {"cyclicSlip", {K::no_value, V::ignored}, Library::finite_volume},
    {"nonuniformTransformCyclic", {K::no_value, V::ignored}, Library::finite_volume},
    {"wedge", {K::no_value, V::ignored}, Library::finite_volume},
    {"symmetryPlane", {K::no_value, V::ignored}, Library::finite_volume},
    {"symmetry", {K::no_value, V::ignored}, Library::finite_volume},
    {"slip", {K::no_value, V::ignored}, Library::finite_volume},
    {"partialSlip", {K::no_value, V::ignored}, Library::finite_volume},
    // zeroGradient that writes its value
    {"kqRWallFunction", {K::adjacent, V::ignored, false, nullptr, true}, Library::turbulence},
    // fixedValue that takes the cells' values when read
    {"epsilonWallFunction", {K::before, V::required, false, nullptr, true}, Library::turbulence},
    {"omegaWallFunction", {K::before, V::required, false, nullptr, true}, Library::turbulence},
    // fixedGradient, at the cells' values unless a gradient is given, that
    // writes its value (a gradient of 0 gives the cells' values too)
    {"constantAlphaContactAngle", {K::adjacent, V::ignored, false, nullptr, true}, Library::two_phase},
    {"dynamicAlphaContactAngle", {K::adjacent, V::ignored, false, nullptr, true}, Library::two_phase},
    {"timeVaryingAlphaContactAngle", {K::adjacent, V::ignored, false, nullptr, true}, Library::two_phase},
    // fixedValue, set by the wave model only when the solver runs
    {"waveAlpha", {K::kept, V::required}, Library::waves},
    // zeroGradient that writes its value
    {"overset", {K::adjacent, V::ignored, false, nullptr, true}, Library::overset},
};

// Every other type of OpenFOAM 1912's finite volume library: setFields
// knows them, orbset does not model them.
constexpr const char *kOtherFiniteVolume[] = {
    "activeBaffleVelocity", "activePressureForceBaffleVelocity", "codedFixedValue", "codedMixed",
    "cylindricalInletVelocity", "directionMixed", "fan", "fanPressure", "fixedJump",
    "fixedJumpAMI", "fixedNormalInletOutletVelocity", "fixedNormalSlip",
    "fixedPressureCompressibleDensity", "fixedProfile", "flowRateInletVelocity",
    "flowRateOutletVelocity", "fluxCorrectedVelocity", "freestream", "freestreamPressure",
    "freestreamVelocity", "inletOutletTotalTemperature", "interfaceCompression",
    "interstitialInletVelocity", "jumpCyclic", "jumpCyclicAMI", "mapped", "mappedField",
    "mappedFixedInternalValue", "mappedFixedPushedInternalValue", "mappedFlowRate",
    "mappedVelocityFlux", "matchedFlowRateOutletVelocity", "mixed", "movingWallVelocity",
    "noSlip", "outletPhaseMeanVelocity", "phaseHydrostaticPressure", "plenumPressure",
    "pressureDirectedInletOutletVelocity", "pressureDirectedInletVelocity",
    "pressureInletOutletParSlipVelocity", "pressureInletOutletVelocity",
    "pressureInletUniformVelocity", "pressureInletVelocity", "pressureNormalInletOutletVelocity",
    "pressurePIDControlInletVelocity", "prghTotalHydrostaticPressure", "prghTotalPressure",
    "rotatingPressureInletOutletVelocity", "rotatingTotalPressure", "rotatingWallVelocity",
    "sampled", "scaledFixedValue", "sliced", "supersonicFreestream", "surfaceNormalFixedValue",
    "swirlFanVelocity", "swirlFlowRateInletVelocity", "swirlInletVelocity", "syringePressure",
    "timeVaryingMappedFixedValue", "totalTemperature", "transform", "translatingWallVelocity",
    "turbulentDFSEMInlet", "turbulentDigitalFilterInlet", "turbulentInlet",
    "turbulentIntensityKineticEnergyInlet", "uniformDensityHydrostaticPressure", "uniformJump",
    "uniformJumpAMI", "uniformNormalFixedValue", "uniformTotalPressure",
    "variableHeightFlowRateInletVelocity", "waveSurfacePressure",
};

// The libraries (as controlDict's libs names them) that bring in each
// library's types: itself and those that link to it, as Debian's OpenFOAM
// 1912 builds them.
constexpr const char *kTurbulence[] = {
    "libturbulenceModels.so", "libCompressibleMultiPhaseTurbulenceModels.so",
    "libCompressibleTwoPhaseMixtureTurbulenceModels.so", "libDPMTurbulenceModels.so",
    "libIncompressibleMultiphaseSystems.so", "libVoFphaseCompressibleTurbulenceModels.so",
    "libadjointOptimisation.so", "libatmosphericModels.so", "libcoalCombustion.so",
    "libcombustionModels.so", "libcompressibleEulerianInterfacialModels.so",
    "libcompressibleTurbulenceModels.so", "libcompressibleTwoPhaseSystem.so", "libengine.so",
    "libfieldFunctionObjects.so", "libforces.so", "libfvMotionSolvers.so", "libfvOptions.so",
    "libhelpTypes.so", "libincompressibleTurbulenceModels.so",
    "libinitialisationFunctionObjects.so", "libinterfaceTrackingFvMesh.so",
    "liblagrangianFunctionObjects.so", "liblagrangianSpray.so", "liblagrangianTurbulence.so",
    "libliquidPropertiesFvPatchFields.so", "libmultiphaseReactingTurbulenceModels.so",
    "libphaseCompressibleTurbulenceModels.so", "libpyrolysisModels.so",
    "libreactingEulerFoamFunctionObjects.so", "libreactingEulerianFvPatchFields.so",
    "libreactingEulerianInterfacialModels.so", "libreactingMultiphaseSystem.so",
    "libreactingPhaseSystem.so", "libreactingTwoPhaseSystem.so", "libregionCoupling.so",
    "librigidBodyMeshMotion.so", "libsemiPermeableBaffle.so", "libsixDoFRigidBodyMotion.so",
    "libsixDoFRigidBodyState.so", "libsnappyHexMesh.so", "libsolverFunctionObjects.so",
    "libsurfaceFilmDerivedFvPatchFields.so", "libthermalBaffleModels.so",
    "libturbulenceModelSchemes.so", "libtwoPhaseReactingTurbulenceModels.so",
    "libwaveModels.so",
};
constexpr const char *kTwoPhase[] = {
    "libtwoPhaseProperties.so", "libCompressibleTwoPhaseMixtureTurbulenceModels.so",
    "libVoFphaseCompressibleTurbulenceModels.so", "libimmiscibleIncompressibleTwoPhaseMixture.so",
    "libphaseChangeTwoPhaseMixtures.so", "libphaseTemperatureChangeTwoPhaseMixtures.so",
};
constexpr const char *kWaves[] = {"libwaveModels.so"};
constexpr const char *kOverset[] = {"liboverset.so", "libsnappyHexMesh.so"};

template <std::size_t N>
bool any_of(const std::vector<std::string> &libs, const char *const (&names)[N])
{
    return std::any_of(libs.begin(), libs.end(), [&](const std::string &l) {
        return std::any_of(std::begin(names), std::end(names),
                           [&](const char *n) { return l == n; });
    });
}

bool loaded(Library library, const std::vector<std::string> &libs)
{
    switch (library) {
    case Library::finite_volume:
        return true;
    case Library::turbulence:
        return any_of(libs, kTurbulence);
    case Library::two_phase:
        return any_of(libs, kTwoPhase);
    case Library::waves:
        return any_of(libs, kWaves);
    case Library::overset:
        return any_of(libs, kOverset);
    }
    return false;
}

// genericFvPatchField: a value is required, and the assignment sets it.
constexpr PatchRule kGeneric{K::adjacent, V::required, true};

}  // namespace

PatchRule patch_rule(std::string_view type, const std::vector<std::string> &libs,
                     bool every_type)
{
    constexpr PatchRule kUnknown{K::unknown, V::ignored};
    for (const Known &k : kKnown) {
        if (type != k.type)
            continue;
        if (k.library == Library::finite_volume || libs.empty())
            return loaded(k.library, libs) ? k.rule : kGeneric;
        // which libraries hold the type, and link to those, is 1912's
        return every_type ? (loaded(k.library, libs) ? k.rule : kGeneric) : kUnknown;
    }
    for (const char *t : kOtherFiniteVolume)
        if (type == t)
            return kUnknown;
    // where controlDict loads libraries, one of them may hold the type;
    // another release's finite volume library may too
    if (!libs.empty() || !every_type)
        return kUnknown;
    return kGeneric;
}

}  // namespace orbset
