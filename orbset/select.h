// Which cells a region of system/setFieldsDict takes, with the tests of
// OpenFOAM's topoSet sources, through a spatial index over the cell
// centres so that the cost grows with the cells taken, not with the mesh.
#pragma once

#include <vector>

#include "foam/mesh.h"

namespace orbset {

using foam::label;
using foam::Vec;

// boxToCell: a cell is taken when min <= centre <= max in every component.
struct Box {
    Vec min, max;
};

// sphereToCell: a cell is taken when d2 = magSqr(centre - origin), summed
// as (x*x + y*y) + z*z, satisfies d2 < radius*radius and d2 > inner, where
// inner is innerRadius*innerRadius when innerRadius > 0 and -1 otherwise.
struct Sphere {
    Vec origin;
    double radius;
    double inner_radius;  // 0 when the dictionary gives none
};

// The spatial index over the cell centres: a uniform grid of bins, each
// listing the cells whose centre lies in it.
struct CellIndex {
    const std::vector<Vec> *centres;  // must outlive the index
    Vec lo;                           // corner of the grid
    double bin_size;
    int nx, ny, nz;
    std::vector<label> bin_start;     // nx * ny * nz + 1 offsets into bin_cells
    std::vector<label> bin_cells;
};

CellIndex build_index(const std::vector<Vec> &centres);

// Appends to `cells` every cell that the region takes, each once.
void cells_in_boxes(const CellIndex &index, const std::vector<Box> &boxes,
                    std::vector<label> &cells);
void cells_in_sphere(const CellIndex &index, const Sphere &sphere, std::vector<label> &cells);

}  // namespace orbset
