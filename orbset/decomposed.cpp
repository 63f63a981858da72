#include "decomposed.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <optional>

#include "cores.h"
#include "foam/bad.h"
#include "foam/text.h"

namespace orbset {

namespace {

// Each part of a decomposed case on a core of its own, its cells chosen
// through the centres of its own mesh.
void set_parts(std::vector<Part> &parts, const Plan &plan, const Control &control)
{
    each_on_cores(parts.size(), "to set a processor's fields", [&](std::size_t i) {
        read_geometry(parts[i], [&] { return &plan; }, control);
        const Claims claims = claim_cells(parts[i], plan, 1);
        parts[i].taken = claims.taken;
        set_fields(parts[i], plan, claims);
    });
}

// Each part of a decomposed case on a core of its own, its cells chosen
// through the centres of the whole mesh: a processor mesh lists a cell's
// faces in another order, which moves its centre by a unit in the last
// place, enough to move a cell across a sphere's surface.
void set_parts_as_whole(Part &whole, std::vector<Part> &parts, const Plan &plan,
                        const Control &control)
{
    std::vector<Vec> centres;
    read_geometry(whole, [&] { return &plan; }, control, &centres);
    const Claims claims = claim_cells(whole, plan, cores());
    parts.front().taken = claims.taken;  // the whole mesh's, once
    each_on_cores(parts.size(), "to set a processor's fields", [&](std::size_t i) {
        read_mapped_geometry(parts[i], plan, whole, centres);
        set_fields(parts[i], plan, claims);
    });
    check_decomposition(parts, whole.n_cells, whole.mesh.faces);
}

// The whole mesh of a decomposed case, where it is the mesh the processors'
// meshes were cut from, at the time they are read, with the
// cellProcAddressing of every processor, which say where their cells are in
// it; otherwise none. A processor mesh read from another instance than the
// whole mesh (a mesh that moved, or changed, after decomposePar) is not
// that mesh. A whole mesh without addressings is named in a warning.
std::optional<Part> whole_mesh(const std::string &case_dir, const Control &control,
                               std::vector<Part> &parts)
{
    Part whole;
    whole.dir = case_dir;
    whole.region = parts.front().region;
    whole.includes = parts.front().includes;
    whole.libs = parts.front().libs;
    whole.release = parts.front().release;
    locate_mesh(whole, control);
    if (foam::find_file(whole.mesh.faces + "faces").empty())
        return std::nullopt;
    for (const Part &part : parts)
        if (part.instances.points != whole.instances.points ||
            part.instances.faces != whole.instances.faces ||
            part.instances.boundary != whole.instances.boundary)
            return std::nullopt;
    for (Part &part : parts)
        if (foam::find_file(part.mesh.faces + "cellProcAddressing").empty()) {
            part.warnings.push_back(
                part.mesh.faces + "cellProcAddressing: no such file; the cells are chosen "
                "through the centres of the processor meshes, as setFields -parallel chooses "
                "them, not through those of " + whole.mesh.faces);
            return std::nullopt;
        }
    return whole;
}

}  // namespace

std::vector<std::string> processor_dirs(const std::string &root)
{
    std::vector<std::pair<long, std::string>> found;
    std::string collated;
    DIR *d = opendir(root.empty() ? "." : root.c_str());
    if (!d)
        throw foam::Bad((root.empty() ? "." : root) + ": " + std::strerror(errno));
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name.rfind("processors", 0) == 0 && foam::is_dir(under(root, name)))
            collated = name;
        else if (name.rfind("processor", 0) == 0 && name.size() > 9 && name.size() <= 18 &&
                 std::all_of(name.begin() + 9, name.end(),
                             [](char c) { return c >= '0' && c <= '9'; }) &&
                 foam::is_dir(under(root, name)))
            found.emplace_back(std::stol(name.substr(9)), name);
    }
    closedir(d);
    if (found.empty() && !collated.empty())
        throw foam::Bad(under(root, collated) +
                        ": a decomposed case in the collated format, which orbset does not read; "
                        "use setFields, or decompose with -fileHandler uncollated");
    if (found.empty())
        throw foam::Bad((root.empty() ? "." : root) +
                        ": -parallel, but no processorN directory (run decomposePar first)");
    std::sort(found.begin(), found.end());
    std::vector<std::string> dirs;
    for (auto &f : found)
        dirs.push_back(under(root, f.second));
    return dirs;
}

void set_decomposed(std::vector<Part> &parts, const Plan &plan, const Control &control,
                    const std::string &case_dir)
{
    if (std::optional<Part> whole = whole_mesh(case_dir, control, parts)) {
        set_parts_as_whole(*whole, parts, plan, control);
        for (const std::string &w : whole->warnings)
            parts.front().warnings.push_back(w);
    } else {
        set_parts(parts, plan, control);
    }
    if (parts.front().release.esi(2306))
        couple_processor_patches(parts, plan);
}

namespace {

// The number N of a part's directory processorN.
long processor_number(const Part &part)
{
    return std::stol(part.dir.substr(part.dir.rfind("processor") + 9));
}

// The processor patch of `part` whose neighbour is processor `of`.
std::size_t patch_towards(const Part &part, long of, const Part &from)
{
    for (std::size_t p = 0; p < part.patches.size(); ++p)
        if (part.patches[p].patch.type == "processor" && part.patches[p].neighbour_processor == of)
            return p;
    throw foam::Bad(part.mesh.boundary + "boundary: no processor patch towards processor " +
                    std::to_string(of) + ", whose " + from.mesh.boundary +
                    "boundary has one towards it; run decomposePar again");
}

}  // namespace

void couple_processor_patches(std::vector<Part> &parts, const Plan &plan)
{
    std::vector<long> number;
    for (const Part &part : parts)
        number.push_back(processor_number(part));
    for (std::size_t i = 0; i < parts.size(); ++i) {
        Part &part = parts[i];
        for (std::size_t p = 0; p < part.patches.size(); ++p) {
            const foam::BoundaryPatch &b = part.patches[p];
            if (b.patch.type != "processor")
                continue;
            auto at = std::find(number.begin(), number.end(), b.neighbour_processor);
            if (at == number.end())
                throw foam::Bad(part.mesh.boundary + "boundary: patch " + b.patch.name +
                                " faces processor " + std::to_string(b.neighbour_processor) +
                                ", which the case does not have");
            const Part &other = parts[static_cast<std::size_t>(at - number.begin())];
            const foam::Patch &twin = other.patches[patch_towards(other, number[i], part)].patch;
            if (twin.size != b.patch.size)
                throw foam::Bad(part.mesh.boundary + "boundary: patch " + b.patch.name + " has " +
                                std::to_string(b.patch.size) + " faces, its twin in " +
                                other.mesh.boundary + "boundary " + std::to_string(twin.size) +
                                "; run decomposePar again");
            for (std::size_t f = 0; f < plan.fields.size(); ++f) {
                if (!part.fields[f].present() || part.fields[f].out[p].how != PatchOut::How::values)
                    continue;
                const FieldFile &across = other.fields[f];
                if (!across.present())
                    throw foam::Bad(part.paths[f] + ": its processor patch " + b.patch.name +
                                    " takes the values of processor " +
                                    std::to_string(b.neighbour_processor) +
                                    "'s cells, whose field is missing");
                const auto nc = static_cast<std::size_t>(across.components());
                std::vector<double> &values = part.fields[f].out[p].values;
                for (std::size_t k = 0; k < static_cast<std::size_t>(twin.size); ++k) {
                    const auto cell = static_cast<std::size_t>(
                        other.cells.owner[static_cast<std::size_t>(twin.start - other.cells.first_face) + k]);
                    std::copy(across.values.begin() + static_cast<std::ptrdiff_t>(cell * nc),
                              across.values.begin() + static_cast<std::ptrdiff_t>((cell + 1) * nc),
                              values.begin() + static_cast<std::ptrdiff_t>(k * nc));
                }
            }
        }
    }
}

}  // namespace orbset
