// One mesh's part of a run, the case itself or one processorN directory of
// a decomposed case: its mesh read, its fields read and given the values of
// the dictionary, ready to be written.
#pragma once

#include <string>
#include <vector>

#include "control.h"
#include "field.h"
#include "plan.h"
#include "select.h"

namespace orbset {

struct Part {
    std::string dir;                           // "" for the current directory
    foam::MeshDirs mesh;                       // where its mesh's files are
    std::vector<std::string> paths;            // of its fields' files, a field of the plan
    std::vector<foam::BoundaryPatch> patches;
    BoundaryCells cells;
    foam::label n_cells = 0;
    CellIndex index;                           // of the cells' centres
    std::vector<FieldFile> fields;             // a field of the plan
    std::vector<long long> set;                // cells a region set, a field
    std::vector<std::string> warnings;
};

// Finds the file of every field of the plan in the start time's directory
// of part.dir, or else in constant/, as setFields looks for them; throws
// foam::Bad for one that is in neither.
void locate_fields(Part &part, const Plan &plan, const Control &control);

// Finds the files of the mesh of part.dir where OpenFOAM finds them: in
// the start time's polyMesh, an earlier time's or constant's.
void locate_mesh(Part &part, const Control &control);

// Reads the part's mesh, and indexes its cells' centres; throws foam::Bad.
void read_geometry(Part &part);

// Reads the part's fields and applies the plan to them: the defaults, then
// the regions in order, on up to `threads` threads; throws foam::Bad.
void set_fields(Part &part, const Plan &plan, unsigned threads);

}  // namespace orbset
