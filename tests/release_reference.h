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

}  // namespace reference
