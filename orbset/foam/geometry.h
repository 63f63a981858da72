// Cell centres computed as OpenFOAM computes them, bit for bit: face
// centres and areas, then cell centres, in the same operations and the
// same order (built without contraction into fused multiply-adds).
#pragma once

#include <vector>

#include "mesh.h"

namespace foam {

// Whose arithmetic: ESI's, in every release (primitiveMeshTools.C): the
// centre of a face of more than three points is the average of the
// centres of the triangles from its edges to its points' average,
// weighted by their areas; or the Foundation's from 8 on ("Corrected
// face-centre calculations"; face::areaAndCentre from 12 on): weighted by
// their areas along the face's normal. The cell centres follow from the
// face centres in the same way in both, each line with its own smallest
// volume.
enum class Centres { esi, foundation };

// The centre of every cell of m, as OpenFOAM's cellCentres() gives it;
// and, where `volumes` is given, every cell's volume (cellVolumes()).
std::vector<Vec> cell_centres(const Mesh &m, std::vector<double> *volumes = nullptr,
                              Centres how = Centres::esi);

// The centre of every face of m, as OpenFOAM's faceCentres() gives it.
std::vector<Vec> face_centres(const Mesh &m, Centres how = Centres::esi);

}  // namespace foam
