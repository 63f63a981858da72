// References that follow OpenFOAM's sources line by line, for the tests
// of what orbset does as each release: the Foundation's cell centres, and a
// mesh on which they part from ESI's.
#pragma once

#include <vector>

#include "foam/mesh.h"

namespace reference {

// The Foundation's cell centres (8 on), as its sources compute them.
std::vector<foam::Vec> foundation_centres(const foam::Mesh &m);

// A lattice of n^3 hexahedra whose points are moved at random by up to a
// third of a cell: no face is flat, no two cells alike.
foam::Mesh warped_lattice(int n);

// Whether ESI's rotatedBoxToCell of v2212 and later takes a cell of centre
// c: its box's points summed as origin + (i + j) and so on, its faces'
// normals as face::areaNormal computes them.
bool rotated_box_v2212(foam::Vec origin, foam::Vec i, foam::Vec j, foam::Vec k, foam::Vec c);

}  // namespace reference
