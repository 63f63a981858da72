// The field files of a run written and given their names together.
#pragma once

#include <vector>

#include "plan.h"
#include "run.h"

namespace orbset {

// Opens the replacement of every field file of every part, writes them all
// (ascii values with `precision` digits), and gives them their names only
// when every one has been written and put on disk. Returns the exit status:
// 0, or 1 after the one line that says why; throws foam::Bad for a field
// that could not be written, every replacement then dropped.
int replace_fields(const std::vector<Part> &parts, const Plan &plan, int precision);

}  // namespace orbset
