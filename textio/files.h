// How a run opens its files so that no failure costs the user a file: the
// input is opened and its first block read before the output is touched,
// the output is replaced whole when the run has succeeded (replace.h), and
// standard output may not be a file of the run. Each function reports its
// own failure in one line.
#pragma once

#include "reader.h"
#include "replace.h"
#include "writer.h"

namespace textio {

// Opens path and reads its first block; false when it cannot.
bool open_input(Reader &r, const char *path);

// The reading that writes: open_input, then open_replacement of output
// against that input; when the output may not be replaced, the input is
// closed again.
bool open_input_and_replacement(Reader &r, const char *input, Replacement &rep, Sink &s,
                                const char *output);

// True, reported in one line, when standard output is `file` (the same
// regular file, through any link): as cat refuses to, a run does not print
// into its own input (which the shell has emptied) or output. `role` names
// the file's part in the run: "input" or "output".
bool stdout_onto(const char *file, const char *role);

}  // namespace textio
