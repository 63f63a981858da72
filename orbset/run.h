// One mesh's part of a run, the case itself or one processorN directory of
// a decomposed case: its mesh read, its fields read and given the values of
// the dictionary, ready to be written.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "control.h"
#include "field.h"
#include "plan.h"
#include "release.h"
#include "select.h"

namespace orbset {

struct Part {
    std::string dir;                           // "" for the current directory
    std::string region;                        // -region NAME, or ""
    foam::Includes includes;                   // what its files include is found through
    std::vector<std::string> libs;             // the libraries setFields loads
    Release release;                           // whose setFields the run reproduces
    bool parallel = false;                     // a processor's part of a -parallel run
    double time = 0;                           // the start time's value
    foam::MeshDirs mesh;                       // where its mesh's files are
    foam::MeshDirs instances;                  // the instances holding them: "constant", "0.5"
    std::vector<std::string> paths;            // of its fields' files, a field of the plan
    std::vector<foam::BoundaryPatch> patches;
    BoundaryCells cells;
    foam::label n_cells = 0;
    CellIndex index;                           // of the cells' centres
    std::vector<label> to_whole;               // a processor's cells in the whole mesh
    // per region: the cells a zone, label or set source lists
    std::vector<std::vector<label>> listed_cells;
    // per region of faces: the boundary faces it takes (numbered from the
    // first boundary face), and how many internal faces it takes, which
    // setFields ignores
    std::vector<std::vector<label>> boundary_faces;
    std::vector<long long> internal_faces;
    std::vector<FieldFile> fields;             // a field of the plan
    std::vector<long long> set;                // cells a region set, a field
    // cells of each field whose value the regions of each kind of source
    // set (by Region::Source), and the boundary faces regions of faces set
    std::vector<std::vector<long long>> set_by;
    std::vector<long long> faces_set;
    std::vector<long long> taken;              // cells a region's source took
    std::vector<std::string> warnings;
    std::string mesh_hint;                     // what may be wrong with the mesh, or ""
    // the centre of the cell beside each boundary face, for the values of
    // patches that take the cells' values before the last region
    std::vector<Vec> boundary_centres;
    // the listed cells of the mesh whose cells the regions took: this
    // part's, or the whole mesh's
    const std::vector<std::vector<label>> *claim_listed = &listed_cells;
};

// rel under the directory dir, "" being the current one.
std::string under(const std::string &dir, const std::string &rel);

// The directory of a mesh in an instance: "polyMesh", or "NAME/polyMesh"
// for a region NAME of a multi-region case.
std::string mesh_subdir(const std::string &region);

// Finds the file of every field of the plan in the start time's directory
// of part.dir, or else in constant/, as setFields looks for them; one that
// is in neither is left out with a warning, unless none is there (throws
// foam::Bad).
void locate_fields(Part &part, const Plan &plan, const Control &control);

// Finds the files of the mesh of part.dir where OpenFOAM finds them: in
// the start time's polyMesh, an earlier time's or constant's.
void locate_mesh(Part &part, const Control &control);

// Reads the part's mesh, indexes its cells' centres, and finds the cells
// and faces of the plan's regions that are not chosen by their centres
// (zones, labels, sets; every region of faces). The plan comes from
// `plan`, which may wait for it while the mesh is read, and gives null
// where there is none (the run ends); a copy of the centres goes to
// `centres` where given. Throws foam::Bad.
void read_geometry(Part &part, const std::function<const Plan *()> &plan, const Control &control,
                   std::vector<Vec> *centres = nullptr);

// Reads a processor's mesh, and the cellProcAddressing beside its faces:
// where each of its cells is in the whole mesh `whole`, whose centres
// `whole_centres` choose its values; and, through faceProcAddressing, the
// faces the regions of faces take in the whole mesh. Throws foam::Bad
// naming the processor where a cell's centre in its own mesh is not its
// centre in the whole mesh: an addressing of another decomposition, or a
// whole mesh made again since.
void read_mapped_geometry(Part &part, const Plan &plan, const Part &whole,
                          const std::vector<Vec> &whole_centres);

// Whether every cell of the whole mesh of `whole_cells` cells, in
// whole_dir, belongs to exactly one of the processors' meshes; throws
// foam::Bad naming the first cellProcAddressing that says otherwise.
void check_decomposition(const std::vector<Part> &parts, label whole_cells,
                         const std::string &whole_dir);

// For every field of the plan, the last region to take each cell, or -1;
// empty for a field no region of cells sets. And, for every region, how
// many cells its source took.
struct Claims {
    std::vector<std::vector<std::int32_t>> cells;
    std::vector<long long> taken;
};

// The cells every region takes in the part's mesh, indexed by
// read_geometry, on up to `threads` threads; the index is dropped after.
Claims claim_cells(Part &part, const Plan &plan, unsigned threads);

// Gives every processor patch of the parts of a decomposed case, in each
// field a region sets, the values of the cells beside its faces in the
// neighbour processor, as ESI's v2306 and later leave them after setting
// (evaluateCoupled); throws foam::Bad where the processors do not pair.
void couple_processor_patches(std::vector<Part> &parts, const Plan &plan);

// Reads the part's fields and gives their cells the plan's values: the
// defaults, then the claims of its own cells or, after
// read_mapped_geometry, of its cells in the whole mesh; and their patches
// the values setFields leaves in them; throws foam::Bad.
void set_fields(Part &part, const Plan &plan, const Claims &claims);

}  // namespace orbset
