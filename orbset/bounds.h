// How large an input other than the mesh may be: generous bounds, so that
// an input linked to a device that never ends, or a small .gz that
// inflates to gigabytes, is refused in one line naming it instead of
// filling the memory.
#pragma once

#include <cstddef>

#include "foam/mesh.h"
#include "foam/text.h"

namespace orbset {

// system/controlDict: a few kilobytes, whatever the case.
inline constexpr foam::Bound kControlBound{std::size_t{16} << 20, "a controlDict needs"};
// system/fvSchemes, read for its geometry scheme: as small.
inline constexpr foam::Bound kSchemesBound{kControlBound.bytes, "an fvSchemes needs"};

// system/setFieldsDict: a region takes some 180 bytes as orbfill writes
// it, so this is room for some 6 million spheres.
inline constexpr foam::Bound kDictionaryBound{std::size_t{1} << 30,
                                              "orbset reads as a setFieldsDict"};

// A field, or a set of cells, of a mesh: the values of every cell and
// boundary face, each up to a tensor of 17 digits in ascii with room for
// the entries a patch keeps beside its value, and room for comments.
inline foam::Bound field_bound(foam::label cells, std::size_t boundary_faces)
{
    constexpr std::size_t kBase = std::size_t{64} << 20, kPerItem = 1024;
    return {kBase + kPerItem * (static_cast<std::size_t>(cells) + boundary_faces),
            "a field of this mesh can need"};
}

}  // namespace orbset
