// orbtint: dump.txt to system/setFieldsDict for the field h.
#include "convert.h"
#include "tool.h"

namespace {

constexpr textio::Tool kTool{
    "orbtint",
    "Run it with no arguments in an OpenFOAM case directory. It reads the sphere\n"
    "list dump.txt (x y z r: four numbers per sphere) and writes\n"
    "system/setFieldsDict, which sets the field h to 586500 inside a fixed box\n"
    "and inside every sphere after the first, and to 140878 elsewhere. It prints\n"
    "a progress trace. Manual: man orbtint\n",
    true,
};

}  // namespace

int main(int argc, char **argv)
{
    if (auto end = textio::start(argc, argv, kTool))
        return *end;
    return regiondict::convert(regiondict::kH);
}
