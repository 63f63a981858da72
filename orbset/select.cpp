#include "select.h"

namespace orbset {

// placeholders until the index lands
CellIndex build_index(const std::vector<Vec> &centres)
{
    return CellIndex{&centres, {0, 0, 0}, 1.0, 0, 0, 0, {0}, {}};
}

void cells_in_boxes(const CellIndex &, const std::vector<Box> &, std::vector<label> &) {}
void cells_in_sphere(const CellIndex &, const Sphere &, std::vector<label> &) {}

}  // namespace orbset
