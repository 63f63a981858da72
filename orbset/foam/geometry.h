// Cell centres computed as OpenFOAM 1912 computes them, bit for bit: face
// centres and areas, then cell centres, in the same operations and the
// same order (built without contraction into fused multiply-adds).
#pragma once

#include <vector>

#include "mesh.h"

namespace foam {

// The centre of every cell of m, as OpenFOAM's cellCentres() gives it;
// and, where `volumes` is given, every cell's volume (cellVolumes()).
std::vector<Vec> cell_centres(const Mesh &m, std::vector<double> *volumes = nullptr);

// The centre of every face of m, as OpenFOAM's faceCentres() gives it.
std::vector<Vec> face_centres(const Mesh &m);

}  // namespace foam
