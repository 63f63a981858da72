// A decomposed case: its processorN directories, each a part of the run
// with its own mesh and fields.
#pragma once

#include <string>
#include <vector>

#include "control.h"
#include "plan.h"
#include "run.h"

namespace orbset {

// processor0, processor1, ... of the case in `root`, in order; throws
// foam::Bad where there is none, or for the collated format
// (processors4, ...), which orbset does not read.
std::vector<std::string> processor_dirs(const std::string &root);

// Reads the mesh and fields of every part and gives them the plan's values,
// several parts at once: the cells chosen through the centres of the whole
// mesh of the case in `case_dir` where it is still there, with every
// part's cellProcAddressing, and else through each part's own; throws
// foam::Bad.
void set_decomposed(std::vector<Part> &parts, const Plan &plan, const Control &control,
                    const std::string &case_dir);

}  // namespace orbset
