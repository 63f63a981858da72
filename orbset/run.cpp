#include "run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>
#include <cstdint>
#include <system_error>
#include <thread>

#include "bounds.h"
#include "cores.h"
#include "foam/bad.h"
#include "foam/geometry.h"
#include "foam/text.h"
#include "select.h"

namespace orbset {

namespace {

// 3 x 10 bits of a sphere's place, interleaved: spheres close in this
// order are close in space, so their cells are close in memory.
std::uint32_t morton(const Vec &p, const Vec &lo, const Vec &scale)
{
    auto spread = [](double t) {
        std::uint32_t v = t > 0 ? static_cast<std::uint32_t>(std::min(t, 1023.0)) : 0;
        v = (v | v << 16) & 0x030000FF;
        v = (v | v << 8) & 0x0300F00F;
        v = (v | v << 4) & 0x030C30C3;
        v = (v | v << 2) & 0x09249249;
        return v;
    };
    return spread((p.x - lo.x) * scale.x) | spread((p.y - lo.y) * scale.y) << 1 |
           spread((p.z - lo.z) * scale.z) << 2;
}

// The regions that set something, boxes first, then the spheres in space
// order: with the last region a cell's claim, the order they are looked at
// in does not matter.
std::vector<std::uint32_t> working_order(const Plan &plan)
{
    std::vector<std::uint32_t> order;
    Vec lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
    for (std::size_t r = 0; r < plan.regions.size(); ++r) {
        const Region &region = plan.regions[r];
        if (region.n_settings == 0)
            continue;
        order.push_back(static_cast<std::uint32_t>(r));
        if (region.source != Region::Source::sphere)
            continue;
        const Vec &o = region.sphere.origin;
        lo = {std::min(lo.x, o.x), std::min(lo.y, o.y), std::min(lo.z, o.z)};
        hi = {std::max(hi.x, o.x), std::max(hi.y, o.y), std::max(hi.z, o.z)};
    }
    auto per = [](double a, double b) { return b > a ? 1024 / (b - a) : 0.0; };
    Vec scale{per(lo.x, hi.x), per(lo.y, hi.y), per(lo.z, hi.z)};
    std::vector<std::pair<std::uint32_t, std::uint32_t>> keyed;
    keyed.reserve(order.size());
    for (std::uint32_t r : order) {
        const Region &region = plan.regions[r];
        bool sphere = region.source == Region::Source::sphere;
        keyed.emplace_back(sphere ? 1 + morton(region.sphere.origin, lo, scale) : 0, r);
    }
    std::sort(keyed.begin(), keyed.end());
    for (std::size_t i = 0; i < keyed.size(); ++i)
        order[i] = keyed[i].second;
    return order;
}

// Claims for the regions order[from, to).
void claim(const Plan &plan, const CellIndex &index, std::size_t n_cells,
           const std::vector<std::uint32_t> &order, std::size_t from, std::size_t to,
           Claims &last)
{
    last.assign(plan.fields.size(), {});
    std::vector<label> cells;
    std::vector<Box> boxes;
    for (std::size_t i = from; i < to; ++i) {
        const Region &r = plan.regions[order[i]];
        cells.clear();
        if (r.source == Region::Source::box) {
            auto first = plan.boxes.begin() + static_cast<std::ptrdiff_t>(r.first_box);
            boxes.assign(first, first + static_cast<std::ptrdiff_t>(r.n_boxes));
            cells_in_boxes(index, boxes, cells);
        } else {
            cells_in_sphere(index, r.sphere, cells);
        }
        auto region = static_cast<std::int32_t>(order[i]);
        for (std::size_t k = 0; k < r.n_settings; ++k) {
            std::vector<std::int32_t> &mine =
                last[static_cast<std::size_t>(plan.settings[r.first_setting + k].field)];
            if (mine.empty())
                mine.assign(n_cells, -1);
            for (label c : cells) {
                std::int32_t &l = mine[static_cast<std::size_t>(c)];
                l = std::max(l, region);
            }
        }
    }
}

// The claims of several threads, each of a share of the regions, made one:
// the last region of all to take a cell.
Claims merge(std::vector<Claims> &claims, std::size_t n_cells)
{
    Claims &all = claims[0];
    for (std::size_t f = 0; f < all.size(); ++f)
        for (std::size_t t = 1; t < claims.size(); ++t) {
            std::vector<std::int32_t> &other = claims[t][f];
            if (all[f].empty())
                all[f].swap(other);
            else if (!other.empty())
                for (std::size_t c = 0; c < n_cells; ++c)
                    all[f][c] = std::max(all[f][c], other[c]);
        }
    return std::move(all);
}

// Gives the part's cells the values of the plan: the defaults, then the
// value of the last region to claim each cell (its cell of the whole mesh
// where the part has one), and counts the cells the regions set.
void give_values(Part &part, const Plan &plan, const Claims &claims)
{
    auto n = static_cast<std::size_t>(part.n_cells);
    for (const Setting &s : plan.defaults)
        if (part.fields[static_cast<std::size_t>(s.field)].present())
            part.fields[static_cast<std::size_t>(s.field)].values.assign(n, s.value);
    auto cell_of = [&](std::size_t c) {
        return part.to_whole.empty() ? c : static_cast<std::size_t>(part.to_whole[c]);
    };
    part.set.assign(plan.fields.size(), 0);
    std::vector<double> value_of(plan.regions.size());
    for (std::size_t f = 0; f < plan.fields.size(); ++f) {
        const std::vector<std::int32_t> &last = claims[f];
        if (last.empty() || !part.fields[f].present())
            continue;
        // the value a region gives the field: its last setting of it
        for (std::size_t r = 0; r < plan.regions.size(); ++r) {
            const Region &region = plan.regions[r];
            for (std::size_t k = 0; k < region.n_settings; ++k) {
                const Setting &s = plan.settings[region.first_setting + k];
                if (static_cast<std::size_t>(s.field) == f)
                    value_of[r] = s.value;
            }
        }
        std::vector<double> &values = part.fields[f].values;
        long long set = 0;
        for (std::size_t c = 0; c < n; ++c)
            if (std::int32_t l = last[cell_of(c)]; l >= 0) {
                values[c] = value_of[static_cast<std::size_t>(l)];
                ++set;
            }
        part.set[f] = set;
    }
}

// Reads the part's mesh: its cell count, patches and the cells beside its
// boundary faces, all a field needs. The mesh is returned for its centres.
foam::Mesh read_topology(Part &part)
{
    if (foam::find_file(part.mesh.points + "points").empty() &&
        foam::find_file(part.mesh.faces + "faces").empty()) {
        bool processor = part.dir.rfind('/') == std::string::npos
                             ? part.dir.starts_with("processor")
                             : part.dir.substr(part.dir.rfind('/') + 1).starts_with("processor");
        throw foam::Bad(part.mesh.faces + ": no mesh (no points, no faces): " +
                        (processor ? "run decomposePar first" : "run blockMesh first"));
    }
    foam::Mesh mesh = foam::read_mesh(part.mesh);
    if (mesh.open_cell >= 0)
        part.mesh_hint = "; cell " + std::to_string(mesh.open_cell) + " of the mesh has " +
                         std::to_string(mesh.open_cell_faces) + " face" +
                         (mesh.open_cell_faces == 1 ? "" : "s") + ", too few for a cell: a " +
                         "stray label in " + mesh.owner_file + " or " + mesh.neighbour_file + "?";
    part.patches = foam::read_boundary(part.mesh.boundary + "boundary");
    part.n_cells = mesh.n_cells;
    part.cells.first_face = mesh.n_internal_faces();
    part.cells.owner.assign(mesh.owner.begin() + mesh.n_internal_faces(), mesh.owner.end());
    return mesh;
}

}  // namespace

Claims claim_cells_of(Part &part, const Plan &plan, unsigned threads);

std::string under(const std::string &dir, const std::string &rel)
{
    return dir.empty() ? rel : dir + "/" + rel;
}

namespace {

// The field files in dir, sorted, without their .gz; at most kShown of them.
std::string fields_in(const std::string &dir)
{
    constexpr std::size_t kShown = 8;
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            struct stat st;
            if (name[0] == '.' || stat((dir + "/" + name).c_str(), &st) != 0 ||
                !S_ISREG(st.st_mode))
                continue;
            if (name.ends_with(".gz"))
                name.resize(name.size() - 3);
            names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    std::string list;
    for (std::size_t i = 0; i < names.size() && i < kShown; ++i)
        list += (i ? i + 1 == names.size() ? " and " : ", " : "") + names[i];
    if (names.size() > kShown)
        list += " and " + std::to_string(names.size() - kShown) + " more";
    return list;
}

// Why the field `name` is not at `path`, in the time directory `time` of
// the part, and what to do: the fields the case has instead, or the
// directory where a case made from a tutorial keeps its initial fields.
std::string missing_field(const Part &part, const std::string &time, const std::string &name,
                          const std::string &path)
{
    const std::string dir = under(part.dir, time), orig = under(part.dir, time + ".orig");
    std::string why = path + ": no such field file (nor " + name + ".gz, nor in " +
                      under(part.dir, "constant") + ")";
    if (!foam::find_file(orig + "/" + name).empty())
        return why + "; the case keeps it in " + orig + ": copy that directory to " + dir +
               " first (cp -r " + orig + " " + dir + ")";
    std::string others = fields_in(dir);
    if (others.empty())
        return why;
    return why + "; " + dir + " holds " + others + ": name one of those in the dictionary, or " +
           "copy the field to be set to " + name;
}

}  // namespace

void locate_fields(Part &part, const Plan &plan, const Control &control)
{
    std::string time = start_time_name(control, part.dir);
    part.paths.clear();
    std::vector<std::string> missing;
    std::vector<std::pair<dev_t, ino_t>> files;
    for (const std::string &name : plan.fields) {
        std::string path = under(part.dir, time + "/" + name);
        if (foam::find_file(path).empty()) {
            std::string constant = under(part.dir, "constant/" + name);
            if (foam::find_file(constant).empty()) {
                missing.push_back(missing_field(part, time, name, path));
                part.paths.emplace_back();
                files.emplace_back();
                continue;
            }
            path = constant;
        }
        // two names of one file would be set twice, the second one's
        // values winning in setFields
        struct stat st;
        if (stat(foam::find_file(path).c_str(), &st) == 0) {
            for (std::size_t f = 0; f < files.size(); ++f)
                if (files[f] == std::pair(st.st_dev, st.st_ino) && !part.paths[f].empty())
                    throw foam::Bad(path + " and " + part.paths[f] +
                                    " are one file (a link): give each field a file of its own");
            files.emplace_back(st.st_dev, st.st_ino);
        } else {
            files.emplace_back();
        }
        part.paths.push_back(path);
    }
    if (missing.size() == plan.fields.size() && !missing.empty())
        throw foam::Bad(missing.front());
    for (const std::string &m : missing)
        part.warnings.push_back(m + "; the other fields are set, as setFields sets them");
}

void locate_mesh(Part &part, const Control &control)
{
    part.instances = {mesh_instance(control, part.dir, "points"),
                      mesh_instance(control, part.dir, "faces"),
                      mesh_instance(control, part.dir, "boundary")};
    auto dir = [&](const std::string &instance) {
        return under(part.dir, instance + "/polyMesh/");
    };
    part.mesh = {dir(part.instances.points), dir(part.instances.faces),
                 dir(part.instances.boundary)};
}

void read_geometry(Part &part, std::vector<Vec> &centres)
{
    foam::Mesh mesh = read_topology(part);
    // the mesh goes before the index comes
    naming("the cell centres of " + part.mesh.faces, [&] {
        centres = foam::cell_centres(mesh);
        mesh = foam::Mesh{};
        part.index = build_index(centres);
    });
}

void read_geometry(Part &part)
{
    std::vector<Vec> centres;
    read_geometry(part, centres);
}

void read_mapped_geometry(Part &part, const std::vector<Vec> &whole, const std::string &whole_dir)
{
    foam::Mesh mesh = read_topology(part);
    const std::string path = part.mesh.faces + "cellProcAddressing";
    part.to_whole = foam::read_cell_addressing(path, part.n_cells,
                                               static_cast<label>(whole.size()));
    std::vector<double> volumes;
    const std::vector<Vec> mine = foam::cell_centres(mesh, &volumes);
    // The same cell, its faces listed in another order, has its centre
    // within a few units in the last place; another cell lies a good part
    // of a cell away.
    constexpr double kOfTheSize = 1e-6, kOfTheCoordinate = 1e-12;
    for (std::size_t i = 0; i < mine.size(); ++i) {
        const Vec &p = mine[i], &q = whole[static_cast<std::size_t>(part.to_whole[i])];
        const double apart = std::max({std::fabs(p.x - q.x), std::fabs(p.y - q.y),
                                       std::fabs(p.z - q.z)});
        const double size = std::cbrt(std::fabs(volumes[i]));
        const double far = std::max({std::fabs(q.x), std::fabs(q.y), std::fabs(q.z)});
        if (!(apart <= kOfTheSize * size + kOfTheCoordinate * far)) {
            char text[200];
            std::snprintf(text, sizeof text,
                          ": cell %zu of %s is cell %d of the whole mesh, but their centres lie "
                          "%.3g apart, the cell %.3g across",
                          i, part.dir.c_str(), part.to_whole[i], apart, size);
            throw foam::Bad(path + text + ": this addressing does not fit the whole mesh in " +
                            whole_dir + " (made again since decomposePar?); run decomposePar "
                            "again");
        }
    }
}

void check_decomposition(const std::vector<Part> &parts, label whole_cells,
                         const std::string &whole_dir)
{
    std::vector<unsigned char> taken(static_cast<std::size_t>(whole_cells), 0);
    std::size_t count = 0;
    for (const Part &part : parts) {
        count += part.to_whole.size();
        for (label c : part.to_whole)
            if (taken[static_cast<std::size_t>(c)]++)
                throw foam::Bad(part.mesh.faces + "cellProcAddressing: cell " + std::to_string(c) +
                                " of the whole mesh, which an earlier processor holds too; "
                                "run decomposePar again");
    }
    if (count != taken.size())
        throw foam::Bad((parts.size() == 1 ? parts.front().dir
                                           : parts.front().dir + " to " + parts.back().dir) +
                        ": the processors hold " + std::to_string(count) + " of the " +
                        std::to_string(whole_cells) + " cells of the whole mesh in " + whole_dir +
                        " (a processor directory missing?); run decomposePar again");
}

Claims claim_cells(Part &part, const Plan &plan, unsigned threads)
{
    Claims claims;
    naming("the cells of the regions in " + part.mesh.faces,
           [&] { claims = claim_cells_of(part, plan, threads); });
    return claims;
}

Claims claim_cells_of(Part &part, const Plan &plan, unsigned threads)
{
    auto n = static_cast<std::size_t>(part.n_cells);
    std::vector<std::uint32_t> order = working_order(plan);
    threads = static_cast<unsigned>(std::clamp<std::size_t>(order.size() / 64, 1, threads));
    std::vector<Claims> claims(threads);
    {
        // joined when the block ends, also when a thread is refused
        std::vector<std::jthread> pool;
        try {
            for (unsigned t = 1; t < threads; ++t)
                pool.emplace_back([&, t] {
                    claim(plan, part.index, n, order, order.size() * t / threads,
                          order.size() * (t + 1) / threads, claims[t]);
                });
        } catch (const std::system_error &e) {
            pool.clear();
            throw foam::Bad("a thread to find the regions' cells: " + e.code().message());
        }
        claim(plan, part.index, n, order, 0, order.size() / threads, claims[0]);
    }
    part.index = CellIndex{};
    return merge(claims, n);
}

void set_fields(Part &part, const Plan &plan, const Claims &claims)
{
    for (const std::string &path : part.paths) {
        if (path.empty()) {
            part.fields.emplace_back();  // missing: nothing to set or write
            continue;
        }
        naming(path, [&] {
            foam::Bound bound = field_bound(part.n_cells, part.cells.owner.size());
            part.fields.push_back(
                read_field(foam::load_text(path, bound), part.n_cells, part.mesh_hint));
            resolve_patches(part.fields.back(), part.patches, part.warnings);
        });
    }
    naming("the values of the fields in " + part.dir, [&] { give_values(part, plan, claims); });
}

}  // namespace orbset
