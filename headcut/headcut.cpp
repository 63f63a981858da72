// headcut: dump0.txt to dump.txt without its 18 header lines; prints the
// number of lines it counted.
#include "tool.h"
#include "trim.h"

namespace {

constexpr textio::Tool kTool{
    "headcut",
    "Run it with no arguments in an OpenFOAM case directory. It copies the\n"
    "particle dump dump0.txt to dump.txt without its first 18 lines and prints\n"
    "how many lines it counted. Manual: man headcut\n",
    true,
};

}  // namespace

int main(int argc, char **argv)
{
    if (auto end = textio::start(argc, argv, kTool))
        return *end;
    return headcut::trim();
}
