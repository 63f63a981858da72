// How a run opens its files so that no failure costs the user a file: the
// input is opened and its first block read before the output is touched,
// and the output is emptied only when it is not the input itself and no
// other run is writing it. Each function reports its own failure in one
// line and returns false.
#pragma once

#include "reader.h"
#include "writer.h"

namespace textio {

// Opens path and reads its first block.
bool open_input(Reader &r, const char *path);

// Opens path to replace it with the output of a run that reads `input`:
// refused when path is the input itself (a symbolic or hard link to it) or
// while another run holds it; otherwise locked for this run until it is
// closed, and emptied.
bool open_output(Sink &s, const char *path, const Reader &input);

// The reading that writes: open_input, then open_output; when the output
// may not be opened, the input is closed again.
bool open_input_and_output(Reader &r, const char *input, Sink &s, const char *output);

}  // namespace textio
