// orbfill: dump.txt to system/setFieldsDict for the field alpha.phase1.
#include "convert.h"
#include "tool.h"

namespace {

constexpr textio::Tool kTool{
    "orbfill",
    "Run it with no arguments in an OpenFOAM case directory. It reads the sphere\n"
    "list dump.txt (x y z r: four numbers per sphere) and writes\n"
    "system/setFieldsDict, which sets the field alpha.phase1 to 1 inside a fixed\n"
    "box and inside every sphere after the first, and to 0 elsewhere. It prints a\n"
    "progress trace. Manual: man orbfill\n",
    true,
};

}  // namespace

int main(int argc, char **argv)
{
    if (auto end = textio::start(argc, argv, kTool))
        return *end;
    return regiondict::convert(regiondict::kAlphaPhase1);
}
