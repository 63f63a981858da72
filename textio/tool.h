// What each program does before its run: its name in diagnostics, its
// command line (none, or --help, or --version), and the signals and
// standard descriptors that must not cost it its output.
#pragma once

#include <optional>

namespace textio {

struct Tool {
    const char *name;
    const char *about;  // what the run reads and writes, for --help
    bool prints;        // standard output carries a count or a trace
};

// Returns the exit status when the program ends here (help, version, a
// wrong command line, a closed standard output), or nothing when the run
// goes on.
std::optional<int> start(int argc, char **argv, const Tool &tool);

}  // namespace textio
