// The reducing run: depth/depth.txt, read two records at a time, becomes
// depth/depth2.txt, one line for every complete pair.
#pragma once

namespace pairlow {

// The whole run in the working directory; returns the exit status.
int reduce();

}  // namespace pairlow
