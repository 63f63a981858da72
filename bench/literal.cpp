// The tools written the literal way, with the C library's buffered streams
// (fscanf, fprintf, getc, putc): the tests' reference runs, on files, as a
// yardstick for the tools. No checks: this is what the tools would cost
// done the obvious way.
//
//   literal orbfill | orbtint | headcut | pairlow     (in a case directory)
#include <cstdio>
#include <cstring>

#include "oracle.h"

int main(int argc, char **argv)
{
    const char *tool = argc > 1 ? argv[1] : "";
    auto open = [](const char *path) { return [path] { return std::fopen(path, "r"); }; };
    if (!std::strcmp(tool, "orbfill") || !std::strcmp(tool, "orbtint")) {
        bool h = !std::strcmp(tool, "orbtint");
        oracle::regiondict_run(open("dump.txt"), std::fopen("system/setFieldsDict", "w"), stdout,
                               h ? oracle::kHeaderH : oracle::kHeaderAlpha,
                               h ? oracle::kSuffixH : oracle::kSuffixAlpha);
    } else if (!std::strcmp(tool, "headcut")) {
        oracle::headcut_run(open("dump0.txt"), std::fopen("dump.txt", "w"), stdout);
    } else if (!std::strcmp(tool, "pairlow")) {
        oracle::pairlow_run(std::fopen("depth/depth.txt", "r"), std::fopen("depth/depth2.txt", "w"));
    } else {
        std::fprintf(stderr, "usage: literal orbfill | orbtint | headcut | pairlow\n");
        return 2;
    }
    return 0;  // exit() flushes and closes the streams
}
