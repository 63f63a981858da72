// Reading the mesh of a case, constant/polyMesh, in every form OpenFOAM
// writes it: ascii or binary (32- or 64-bit labels), each file plain or
// compressed (name.gz), faces as faceList or faceCompactList. Every input
// that OpenFOAM would not take as a sound mesh is refused with Bad.
#pragma once

#include <string>
#include <vector>

#include "mesh.h"

namespace foam {

// The directory of a case's mesh: "constant/polyMesh/" under case_dir
// ("" or "." for the current directory).
std::string polymesh_dir(const std::string &case_dir);

// The directories of a mesh's files, each ending in '/': of the points, of
// the faces (with owner and neighbour beside them) and of the boundary.
// OpenFOAM looks for each on its own: a mesh that moves keeps its points
// in a time directory, its faces in constant.
struct MeshDirs {
    std::string points, faces, boundary;
};

// Reads points, faces, owner, neighbour and boundary of a mesh and checks
// that they make one: every point, face and cell label within its range,
// every cell with a face, the patches covering the boundary faces in order.
Mesh read_mesh(const MeshDirs &dirs);
// The same, every file in the case's constant/polyMesh.
Mesh read_mesh(const std::string &case_dir);

// A patch as constant/polyMesh/boundary describes it, with the groups it
// belongs to: its inGroups, and its type where that is a constraint type
// (empty, processor, cyclic, symmetryPlane, wedge, ...), as OpenFOAM adds it.
struct BoundaryPatch {
    Patch patch;
    std::vector<std::string> groups;
    label neighbour_processor = -1;  // neighbProcNo, of a processor patch
};

// Reads a boundary file, e.g. polymesh_dir(case) + "boundary".
std::vector<BoundaryPatch> read_boundary(const std::string &path);

// Reads the cellProcAddressing file that decomposePar writes beside a
// processor mesh's faces: for each of the processor's `cells` cells, its
// cell in the whole mesh of `whole_cells` cells. Throws Bad for a list of
// another size or a label out of that range.
std::vector<label> read_cell_addressing(const std::string &path, label cells, label whole_cells);

// Reads the faceProcAddressing file that decomposePar writes beside a
// processor mesh's faces: for each of its `faces` faces, the face of the
// whole mesh of `whole_faces` faces (decomposePar writes it one more, and
// negative where the face is turned). Throws Bad.
std::vector<label> read_face_addressing(const std::string &path, label faces, label whole_faces);

// A zone of a mesh: its name and the labels of its cells or faces.
struct Zone {
    std::string name;
    std::vector<label> labels;
};

// Reads the cellZones or faceZones file at path: each zone's cellLabels or
// faceLabels (`labels_key`). Throws Bad.
std::vector<Zone> read_zones(const std::string &path, const char *labels_key);

// Reads a set that topoSet wrote (cellSet, faceSet): its labels, in the
// file's order (topoSet writes them as text in either format). Throws Bad.
std::vector<label> read_set(const std::string &path, const char *cls);

}  // namespace foam
