// pairlow: depth/depth.txt to depth/depth2.txt, one line for every two
// records: the smallest first-column value not above 1000 and the
// second-column value that came with it.
#include "reduce.h"
#include "tool.h"

namespace {

constexpr textio::Tool kTool{
    "pairlow",
    "Run it with no arguments in an OpenFOAM case directory. It reads the\n"
    "two-column table depth/depth.txt two records at a time and writes to\n"
    "depth/depth2.txt, for every pair, the smaller first-column value (one above\n"
    "1000 is never chosen) with its second-column value. Manual: man pairlow\n",
    false,
};

}  // namespace

int main(int argc, char **argv)
{
    if (auto end = textio::start(argc, argv, kTool))
        return *end;
    return pairlow::reduce();
}
