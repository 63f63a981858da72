// The trimming run: dump0.txt, counted in a first scan, is copied without
// its header lines to dump.txt in a second; the count goes to standard
// output.
#pragma once

namespace headcut {

// The whole run in the working directory; returns the exit status.
int trim();

}  // namespace headcut
