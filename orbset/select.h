// Which cells a region of system/setFieldsDict takes, with the tests of
// OpenFOAM's topoSet sources, through a spatial index over the cell
// centres so that the cost grows with the cells taken, not with the mesh.
#pragma once

#include <span>
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
// inner is innerRadius*innerRadius when innerRadius > 0 and -1 otherwise
// (ESI's test); or, `inclusive`, when d2 <= radius*radius (the
// Foundation's).
struct Sphere {
    Vec origin;
    double radius;
    double inner_radius;  // 0 when the dictionary gives none
    bool inclusive = false;
};

// cylinderToCell: with axis = p2 - p1, d = centre - p1 and a = d & axis,
// a cell is taken when 0 < a < magSqr(axis) and d2 = (d & d) -
// a*a/magSqr(axis) satisfies d2 < radius*radius and, where `inner_test`
// (ESI's test; the Foundation's has none), d2 > inner, inner as for a
// sphere.
struct Cylinder {
    Vec p1, p2;
    double radius;
    double inner_radius;
    bool inner_test = true;
};

// rotatedBoxToCell: the hexahedron of corners origin + combinations of i, j
// and k; a cell is taken when its centre lies on the inner side of (or on)
// every face's plane, each face's normal its area vector as OpenFOAM's
// face::areaNormal gives it. The corners are summed left to right, as
// (origin + i) + j; `grouped`, as origin + (i + j) (ESI's v2212 and later).
struct RotatedBox {
    Vec origin, i, j, k;
    bool grouped = false;
};

// The spatial index over the cell centres: a uniform grid of bins of one
// size along every axis, about one cell a bin, the cells listed bin after
// bin (x fastest, then y, then z) with copies of their centres in the same
// order, so that a query reads a few runs of memory.
struct CellIndex {
    Vec lo;                        // corner of the grid: the least centre
    double bins_per_length;        // 1 / the size of a bin
    int n[3];                      // bins along x, y, z
    std::vector<label> bin_start;  // n[0] * n[1] * n[2] + 1 offsets into cells
    std::vector<label> cells;
    std::vector<Vec> centres;      // centres[k] is the centre of cells[k]
};

// The index holds its own copy of the centres: they may be dropped after.
CellIndex build_index(const std::vector<Vec> &centres);

// Append to `cells` every cell that the region takes, each once, in no
// particular order.
void cells_in_boxes(const CellIndex &index, std::span<const Box> boxes, std::vector<label> &cells);
void cells_in_sphere(const CellIndex &index, const Sphere &sphere, std::vector<label> &cells);
void cells_in_cylinder(const CellIndex &index, const Cylinder &cylinder,
                       std::vector<label> &cells);
void cells_in_rotated_box(const CellIndex &index, const RotatedBox &box,
                          std::vector<label> &cells);

// The tests above on one point: whether the region takes a cell of that
// centre (boxToFace takes the faces whose centres lie in its boxes).
bool in_boxes(std::span<const Box> boxes, const Vec &p);
bool in_sphere(const Sphere &sphere, const Vec &p);
bool in_cylinder(const Cylinder &cylinder, const Vec &p);
bool in_rotated_box(const RotatedBox &box, const Vec &p);

}  // namespace orbset
