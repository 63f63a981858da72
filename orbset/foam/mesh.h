// A polyhedral mesh as OpenFOAM keeps it in constant/polyMesh: points,
// faces as lists of point labels, the owner cell of every face and the
// neighbour cell of every internal face (the first faces), and the patches
// that group the boundary faces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace foam {

using label = std::int32_t;

struct Vec {
    double x, y, z;
};

struct Patch {
    std::string name;
    std::string type;    // patch, wall, empty, symmetryPlane, processor, ...
    label start, size;   // its faces: start to start + size - 1
};

struct Mesh {
    std::vector<Vec> points;
    std::vector<label> face_start;   // n_faces() + 1 offsets into face_points
    std::vector<label> face_points;  // the point labels of every face, back to back
    std::vector<label> owner;        // one cell a face
    std::vector<label> neighbour;    // one cell an internal face
    std::vector<Patch> patches;
    label n_cells;
    // the files read, as named in diagnostics
    std::string faces_file, owner_file, neighbour_file;
    // the first cell of fewer faces than a closed cell has, or -1: a stray
    // label in owner or neighbour makes one
    label open_cell = -1;
    unsigned open_cell_faces = 0;

    label n_faces() const { return static_cast<label>(owner.size()); }
    label n_internal_faces() const { return static_cast<label>(neighbour.size()); }
};

}  // namespace foam
