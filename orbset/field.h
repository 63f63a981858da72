// A volScalarField file as setFields reads and writes it: the cells'
// values from internalField, the entries of boundaryField given to the
// mesh's patches as OpenFOAM gives them (by name, by group, by pattern),
// and every other byte of the file kept as it was written.
#pragma once

#include <string>
#include <vector>

#include "foam/lexer.h"
#include "foam/polymesh.h"
#include "out.h"
#include "patchkind.h"

namespace orbset {

// A stretch [begin, end) of the file's text.
struct Span {
    const char *begin = nullptr, *end = nullptr;
};

// An entry of boundaryField.
struct PatchEntry {
    foam::Token key;  // a word (a patch or a group) or a quoted pattern
    bool is_dict = false;
    Span body;        // inside its braces
    std::string type;
    Span value;       // of its `value` entry, when it has one
};

// What a patch of the mesh takes from the file.
struct PatchPlan {
    int entry = -1;        // -1: an empty patch, which needs none
    bool literal = false;  // the entry bears the patch's own name
    PatchKind kind = PatchKind::no_value;
};

struct FieldFile {
    foam::Text text;              // as read; text.name is the file to replace; none for
                                  // a field the case does not have
    bool present() const { return text.data != nullptr; }
    foam::Header header;
    Span internal;                // the value of internalField
    bool internal_uniform = false;
    std::vector<double> values;   // one a cell
    const char *boundary_close = nullptr;  // the '}' closing boundaryField
    std::vector<PatchEntry> entries;
    std::vector<Span> refs;       // $internalField: given the old value when written
    std::vector<PatchPlan> patches;  // one a mesh patch
};

// Reads a field file of a mesh of n_cells cells from its text; throws
// foam::Bad. A field of another size is refused with mesh_hint, what may
// be wrong with the mesh, or else as a field of another mesh.
FieldFile read_field(foam::Text text, foam::label n_cells, const std::string &mesh_hint = "");

// Gives every patch of the mesh its entry, as OpenFOAM does when it reads
// the field, and checks the values that stay; throws foam::Bad for a patch
// with no entry. Adds a warning for each entry of a type orbset does not
// know.
void resolve_patches(FieldFile &f, const std::vector<foam::BoundaryPatch> &patches,
                     std::vector<std::string> &warnings);

// The owner cell of every boundary face, from the first one on.
struct BoundaryCells {
    foam::label first_face;
    std::vector<foam::label> owner;
};

// Writes the file anew: f.values in internalField, the adjacent cells'
// values in the patches that take them, everything else as it was.
void write_field(const FieldFile &f, const std::vector<foam::BoundaryPatch> &patches,
                 const BoundaryCells &cells, int precision, Out &out);

}  // namespace orbset
