#include "run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>
#include <cstdint>
#include <optional>
#include <system_error>
#include <thread>

#include "bounds.h"
#include "cores.h"
#include "foam/bad.h"
#include "foam/geometry.h"
#include "foam/regex.h"
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
        if (region.n_settings == 0 || region.of_faces())
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

// The cells region r takes, appended to `cells`.
void cells_of(const Plan &plan, const CellIndex &index,
              const std::vector<std::vector<label>> &listed, std::size_t r,
              std::vector<label> &cells)
{
    const Region &region = plan.regions[r];
    using S = Region::Source;
    switch (region.source) {
    case S::box:
        cells_in_boxes(index, plan.boxes_of(region), cells);
        break;
    case S::sphere:
        cells_in_sphere(index, region.sphere, cells);
        break;
    case S::cylinder:
        cells_in_cylinder(index, region.cylinder, cells);
        break;
    case S::rotated_box:
        cells_in_rotated_box(index, region.rotated, cells);
        break;
    default:
        cells = listed[r];
        break;
    }
}

// Claims for the regions order[from, to).
void claim(const Plan &plan, const CellIndex &index, const std::vector<std::vector<label>> &listed,
           std::size_t n_cells, const std::vector<std::uint32_t> &order, std::size_t from,
           std::size_t to, Claims &last)
{
    last.cells.assign(plan.fields.size(), {});
    last.taken.assign(plan.regions.size(), 0);
    std::vector<label> cells;
    for (std::size_t i = from; i < to; ++i) {
        const Region &r = plan.regions[order[i]];
        cells.clear();
        cells_of(plan, index, listed, order[i], cells);
        last.taken[order[i]] = static_cast<long long>(cells.size());
        auto region = static_cast<std::int32_t>(order[i]);
        for (std::size_t k = 0; k < r.n_settings; ++k) {
            std::vector<std::int32_t> &mine =
                last.cells[static_cast<std::size_t>(plan.settings[r.first_setting + k].field)];
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
    for (std::size_t t = 1; t < claims.size(); ++t)
        for (std::size_t r = 0; r < all.taken.size(); ++r)
            all.taken[r] += claims[t].taken[r];
    for (std::size_t f = 0; f < all.cells.size(); ++f)
        for (std::size_t t = 1; t < claims.size(); ++t) {
            std::vector<std::int32_t> &other = claims[t].cells[f];
            if (all.cells[f].empty())
                all.cells[f].swap(other);
            else if (!other.empty())
                for (std::size_t c = 0; c < n_cells; ++c)
                    all.cells[f][c] = std::max(all.cells[f][c], other[c]);
        }
    return std::move(all);
}

// The value each region gives field f: its last setting of it.
std::vector<Value> values_of(const Plan &plan, std::size_t f)
{
    std::vector<Value> value_of(plan.regions.size());
    for (std::size_t r = 0; r < plan.regions.size(); ++r) {
        const Region &region = plan.regions[r];
        for (std::size_t k = 0; k < region.n_settings; ++k) {
            const Setting &s = plan.settings[region.first_setting + k];
            if (static_cast<std::size_t>(s.field) == f)
                value_of[r] = s.value;
        }
    }
    return value_of;
}

// Whether the entry's value was read through $internalField from a file
// orbset does not write: read again, it would name the new cells.
bool names_internal_elsewhere(const FieldFile &file, const foam::DictEntry *entry)
{
    const foam::DictEntry *value = entry ? entry->dict->find("value") : nullptr;
    if (!value || !value->expanded || value->file == file.text.get())
        return false;
    for (const foam::VarRef &r : file.dict->refs)
        if (r.file == value->file && r.begin >= value->written_begin &&
            r.end <= value->written_end && r.target->key == "internalField")
            return true;
    return false;
}

// What setFields leaves in each patch of field f: the cells' values where a
// region of cells came last (for the patches that take them), the values
// of the regions of faces that took a face after that, the entry as it is
// elsewhere.
// Whether region r takes the cell of centre p and number c in the mesh
// that chose the cells.
bool takes(const Plan &plan, const Part &part, std::size_t r, const Vec &p, label c)
{
    const Region &region = plan.regions[r];
    using S = Region::Source;
    switch (region.source) {
    case S::box:
        return in_boxes(plan.boxes_of(region), p);
    case S::sphere:
        return in_sphere(region.sphere, p);
    case S::cylinder:
        return in_cylinder(region.cylinder, p);
    case S::rotated_box:
        return in_rotated_box(region.rotated, p);
    default: {
        const std::vector<label> &listed = (*part.claim_listed)[r];
        return std::find(listed.begin(), listed.end(), c) != listed.end();
    }
    }
}

// The value field f's cell beside boundary face b had before region
// `last` set the cells: that of the latest region before it to take the
// cell, else of the defaults, else the old one.
Value before_last(const Part &part, const Plan &plan, std::size_t f, int last, std::size_t b,
                  const std::vector<Value> &value_of, const Value &old)
{
    const label c = part.to_whole.empty()
                        ? part.cells.owner[b]
                        : part.to_whole[static_cast<std::size_t>(part.cells.owner[b])];
    for (int r = last - 1; r >= 0; --r) {
        const Region &region = plan.regions[static_cast<std::size_t>(r)];
        if (!region.of_faces() && plan.sets(region, f) &&
            takes(plan, part, static_cast<std::size_t>(r), part.boundary_centres[b], c))
            return value_of[static_cast<std::size_t>(r)];
    }
    Value v = old;
    for (const Setting &s : plan.defaults)
        if (static_cast<std::size_t>(s.field) == f)
            v = s.value;
    return v;
}

// Whether the mesh patch is coupled to faces other than those of its own
// part's cells: cyclic and its kin, and under -parallel a processor patch
// through a cyclic. ESI's v2306 and later evaluate them after setting.
bool coupled_across(const std::string &type, bool parallel)
{
    return type.starts_with("cyclic") || type == "nonuniformTransformCyclic" ||
           (parallel && type == "processorCyclic");
}

// What setFields leaves in each patch of field f. It reads the field anew
// for the defaults and for every region that names f, each patch taking a
// value as its type reads one (the file's, or the cells' of then where
// the type resets it); a region of cells then sets its cells and assigns
// every patch its cells' values (which some types ignore), a region of
// faces forces its faces' values; and it writes the field. So a face's
// last value comes from the last of those steps that set it, found by
// walking back from the last step.
void give_patch_values(Part &part, const Plan &plan, const Claims &claims, std::size_t f,
                       const std::vector<Value> &value_of, const std::vector<double> &old)
{
    FieldFile &file = part.fields[f];
    const auto nc = static_cast<std::size_t>(file.components());
    // the steps that name f: -1 the defaults, then the regions in order
    std::vector<int> steps;
    for (const Setting &s : plan.defaults)
        if (static_cast<std::size_t>(s.field) == f && steps.empty())
            steps.push_back(-1);
    std::vector<std::vector<char>> selects(plan.regions.size());
    for (std::size_t r = 0; r < plan.regions.size(); ++r) {
        if (!plan.sets(plan.regions[r], f))
            continue;
        steps.push_back(static_cast<int>(r));
        if (!plan.regions[r].of_faces())
            continue;
        selects[r].assign(part.cells.owner.size(), 0);
        for (label b : part.boundary_faces[r])
            selects[r][static_cast<std::size_t>(b)] = 1;
    }
    auto of_faces = [&](int step) {
        return step >= 0 && plan.regions[static_cast<std::size_t>(step)].of_faces();
    };
    const int last = steps.empty() ? -2 : steps.back();
    for (std::size_t p = 0; p < part.patches.size(); ++p) {
        const PatchPlan &plan_p = file.patches[p];
        PatchOut &out = file.out[p];
        if (!plan_p.entry || steps.empty())
            continue;
        PatchRule rule = plan_p.rule;
        const bool valueless = !plan_p.entry->dict->find("value");
        if (rule.kind == PatchKind::no_value) {
            if (!valueless)
                out.how = PatchOut::How::drop;
            continue;
        }
        const foam::Patch &patch = part.patches[p].patch;
        if (part.release.esi(2306) && coupled_across(patch.type, part.parallel))
            throw foam::Bad(file.text->name + ": patch " + patch.name + " of type " + patch.type +
                            ": the setFields of OpenFOAM " + part.release.name() +
                            " gives its field the values across the coupling, which orbset does "
                            "not compute; use setFields");
        if (rule.kind == PatchKind::unknown)
            continue;
        const auto first = static_cast<std::size_t>(patch.start - part.cells.first_face);
        const auto n = static_cast<std::size_t>(patch.size);
        const bool assign = rule.kind == PatchKind::adjacent;
        // the value before the first step: the file's, or its type's own
        std::vector<double> initial;
        auto initial_of = [&](std::size_t i) -> const double * {
            if (initial.empty()) {
                if (!valueless || (rule.value_from && *rule.value_from))
                    initial = patch_values(file, p, part.patches, part.time);
                else  // the cells' values when read, the old ones
                    initial.assign(old.begin() + static_cast<std::ptrdiff_t>(first * nc),
                                   old.begin() + static_cast<std::ptrdiff_t>((first + n) * nc));
            }
            return initial.data() + i * nc;
        };
        std::vector<double> values(n * nc);
        bool untouched = true;  // every face keeps the entry's own value
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t b = first + i;
            const double *v = nullptr;
            Value held{};
            bool from_entry = false;
            for (std::size_t k = steps.size(); k-- > 0;) {
                const int step = steps[k];
                if (of_faces(step) && selects[static_cast<std::size_t>(step)][b]) {
                    v = value_of[static_cast<std::size_t>(step)].data();
                    break;
                }
                if (!of_faces(step) && assign) {
                    v = file.values.data() + static_cast<std::size_t>(part.cells.owner[b]) * nc;
                    break;
                }
                if (rule.reset) {
                    // read anew: the cells' values of before this step
                    if (of_faces(step) || step != last) {
                        v = file.values.data() + static_cast<std::size_t>(part.cells.owner[b]) * nc;
                    } else {
                        Value was{};
                        std::copy(old.begin() + static_cast<std::ptrdiff_t>(b * nc),
                                  old.begin() + static_cast<std::ptrdiff_t>((b + 1) * nc), was.begin());
                        const std::vector<std::int32_t> &claim = claims.cells[f];
                        const auto c = static_cast<std::size_t>(part.cells.owner[b]);
                        const auto in = part.to_whole.empty()
                                            ? c
                                            : static_cast<std::size_t>(part.to_whole[c]);
                        if (step >= 0 && !claim.empty() && claim[in] != step)
                            v = file.values.data() + c * nc;  // the last region left it
                        else {
                            held = step == -1 ? was
                                              : before_last(part, plan, f, step, b, value_of, was);
                            v = held.data();
                        }
                    }
                    break;
                }
            }
            if (!v) {
                v = initial_of(i);
                from_entry = !valueless;
            }
            untouched = untouched && from_entry;
            std::copy(v, v + nc, values.begin() + static_cast<std::ptrdiff_t>(i * nc));
        }
        if (untouched && !names_internal_elsewhere(file, plan_p.entry))
            continue;
        out.how = PatchOut::How::values;
        out.values = std::move(values);
    }
}

constexpr std::size_t kSources = static_cast<std::size_t>(Region::Source::face_boundary) + 1;

// Gives the part's cells the values of the plan: the defaults, then the
// value of the last region to claim each cell (its cell of the whole mesh
// where the part has one), and counts the cells the regions set; then its
// patches the values setFields leaves in them.
void give_values(Part &part, const Plan &plan, const Claims &claims)
{
    auto n = static_cast<std::size_t>(part.n_cells);
    // the old values of the cells beside the boundary, for the patches
    // that take the cells' values of before the last region
    std::vector<std::vector<double>> old_boundary(plan.fields.size());
    for (std::size_t f = 0; f < plan.fields.size(); ++f) {
        const FieldFile &file = part.fields[f];
        if (!file.present())
            continue;
        const auto nc = static_cast<std::size_t>(file.components());
        for (label c : part.cells.owner)
            for (std::size_t k = 0; k < nc; ++k)
                old_boundary[f].push_back(file.values[static_cast<std::size_t>(c) * nc + k]);
    }
    for (const Setting &s : plan.defaults) {
        FieldFile &file = part.fields[static_cast<std::size_t>(s.field)];
        if (!file.present())
            continue;
        const auto nc = static_cast<std::size_t>(file.components());
        file.values.resize(n * nc);
        for (std::size_t i = 0; i < n * nc; ++i)
            file.values[i] = s.value[i % nc];
    }
    auto cell_of = [&](std::size_t c) {
        return part.to_whole.empty() ? c : static_cast<std::size_t>(part.to_whole[c]);
    };
    part.set.assign(plan.fields.size(), 0);
    part.set_by.assign(plan.fields.size(), std::vector<long long>(kSources, 0));
    part.faces_set.assign(plan.fields.size(), 0);
    for (std::size_t f = 0; f < plan.fields.size(); ++f) {
        FieldFile &file = part.fields[f];
        if (!file.present())
            continue;
        const std::vector<Value> value_of = values_of(plan, f);
        const std::vector<std::int32_t> &last = claims.cells[f];
        const auto nc = static_cast<std::size_t>(file.components());
        long long set = 0;
        if (!last.empty())
            for (std::size_t c = 0; c < n; ++c)
                if (std::int32_t l = last[cell_of(c)]; l >= 0) {
                    const Value &v = value_of[static_cast<std::size_t>(l)];
                    for (std::size_t k = 0; k < nc; ++k)
                        file.values[c * nc + k] = v[k];
                    ++set;
                    ++part.set_by[f][static_cast<std::size_t>(plan.regions[static_cast<std::size_t>(l)].source)];
                }
        part.set[f] = set;
        std::vector<char> face(part.cells.owner.size(), 0);
        for (std::size_t r = 0; r < plan.regions.size(); ++r)
            if (plan.regions[r].of_faces() && plan.sets(plan.regions[r], f))
                for (label b : part.boundary_faces[r])
                    face[static_cast<std::size_t>(b)] = 1;
        part.faces_set[f] = std::count(face.begin(), face.end(), 1);
        give_patch_values(part, plan, claims, f, value_of, old_boundary[f]);
    }
}

// Reads the part's mesh: its cell count, patches and the cells beside its
// boundary faces, all a field needs. The mesh is returned for its centres.
foam::Mesh read_topology(Part &part)
{
    if (foam::find_file(part.mesh.points + "points").empty() &&
        foam::find_file(part.mesh.faces + "faces").empty()) {
        // the part's own directory, after the last '/' if any (npos + 1 is 0)
        bool processor = part.dir.substr(part.dir.rfind('/') + 1).starts_with("processor");
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
    part.time = start_value(control, part.dir);
    part.paths.clear();
    std::vector<std::string> missing;
    std::vector<std::pair<dev_t, ino_t>> files;
    const std::string region = part.region.empty() ? "" : part.region + "/";
    for (const Field &field : plan.fields) {
        const std::string &name = field.name;
        std::string path = under(part.dir, time + "/" + region + name);
        if (foam::find_file(path).empty()) {
            std::string constant = under(part.dir, "constant/" + region + name);
            if (foam::find_file(constant).empty()) {
                missing.push_back(missing_field(part, time + (part.region.empty() ? "" : "/" + part.region), name, path));
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

std::string mesh_subdir(const std::string &region)
{
    return region.empty() ? "polyMesh" : region + "/polyMesh";
}

void locate_mesh(Part &part, const Control &control)
{
    const std::string sub = mesh_subdir(part.region);
    part.instances = {mesh_instance(control, part.dir, sub + "/points"),
                      mesh_instance(control, part.dir, sub + "/faces"),
                      mesh_instance(control, part.dir, sub + "/boundary")};
    auto dir = [&](const std::string &instance) { return under(part.dir, instance + "/" + sub + "/"); };
    part.mesh = {dir(part.instances.points), dir(part.instances.faces),
                 dir(part.instances.boundary)};
}

namespace {

bool matches(const Name &n, const std::string &s)
{
    if (!n.pattern)
        return n.text == s;
    std::optional<bool> m = foam::regex_matches(n.text, s);
    return m && *m;
}

std::string names_text(const std::vector<Name> &names)
{
    std::string s;
    for (const Name &n : names)
        s += (s.empty() ? "" : " ") + (n.pattern ? "\"" + n.text + "\"" : n.text);
    return s;
}

// The labels of `labels` within [0, n), as topoSetSource::check keeps them.
std::vector<label> within(const std::vector<label> &labels, label n)
{
    std::vector<label> out;
    for (label l : labels)
        if (l >= 0 && l < n)
            out.push_back(l);
    return out;
}

// The labels a labelToCell or labelToFace region gives, each one of the
// mesh's n cells or faces: setFields 1912 takes them unchecked, and one out
// of range writes past the end of its field.
std::vector<label> checked_labels(const Plan &plan, const Region &r, label n, const char *what)
{
    for (label l : r.labels)
        if (l < 0 || l >= n)
            throw foam::Bad(plan.name + ": line " + std::to_string(r.line) + ": " + r.keyword +
                            ": label " + std::to_string(l) + " is not one of the mesh's " +
                            std::to_string(n) + " " + what + " (setFields would write past the "
                            "end of the field)");
    return r.labels;
}

// The labels of the zones of `file` that names match; a warning where
// none does, as setFields gives.
std::vector<label> zone_labels(Part &part, const Plan &plan, const Region &r,
                               const std::string &file, const char *key, label n)
{
    std::vector<foam::Zone> zones;
    if (!foam::find_file(file).empty())
        zones = foam::read_zones(file, key);
    std::vector<label> out;
    bool matched = false;
    for (const foam::Zone &z : zones)
        if (std::any_of(r.names.begin(), r.names.end(), [&](const Name &n) { return matches(n, z.name); })) {
            matched = true;
            for (label l : within(z.labels, n))
                out.push_back(l);
        }
    if (!matched)
        part.warnings.push_back(plan.name + ": line " + std::to_string(r.line) + ": " + r.keyword +
                                ": no zone in " + file + " matches " + names_text(r.names) +
                                "; the region takes nothing, as in setFields");
    return out;
}

// The labels of the sets a region names, read where OpenFOAM finds them.
std::vector<label> set_labels(const Part &part, const Control &control, const Region &r,
                              const char *cls, label n)
{
    std::vector<label> out;
    const std::string sub = mesh_subdir(part.region) + "/sets/";
    for (const Name &name : r.names) {
        std::string instance = mesh_instance(control, part.dir, sub + name.text);
        std::string path = under(part.dir, instance + "/" + sub + name.text);
        if (foam::find_file(path).empty())
            throw foam::Bad(path + ": no such set (" + r.keyword + " names it); write it with "
                                   "topoSet first");
        for (label l : within(foam::read_set(path, cls), n))
            out.push_back(l);
    }
    return out;
}

// The cells of the regions that list them rather than test centres.
void find_listed_cells(Part &part, const Plan &plan, const Control &control)
{
    part.listed_cells.assign(plan.regions.size(), {});
    for (std::size_t i = 0; i < plan.regions.size(); ++i) {
        const Region &r = plan.regions[i];
        using S = Region::Source;
        if (r.source == S::zone)
            part.listed_cells[i] =
                zone_labels(part, plan, r, part.mesh.faces + "cellZones", "cellLabels", part.n_cells);
        else if (r.source == S::labels)
            part.listed_cells[i] = checked_labels(plan, r, part.n_cells, "cells");
        else if (r.source == S::cell_set)
            part.listed_cells[i] = set_labels(part, control, r, "cellSet", part.n_cells);
    }
}

// The faces of every region of faces: those on the boundary, as boundary
// face numbers, and how many internal ones, which setFields ignores with a
// warning.
void find_faces(Part &part, const Plan &plan, const Control &control, const foam::Mesh &mesh)
{
    part.boundary_faces.assign(plan.regions.size(), {});
    part.internal_faces.assign(plan.regions.size(), 0);
    if (!plan.has_face_regions())
        return;
    const label n_faces = mesh.n_faces(), first = mesh.n_internal_faces();
    std::vector<Vec> centres;
    if (plan.has_source(Region::Source::face_box))
        centres = foam::face_centres(mesh, centres_of(part.release));
    std::vector<char> taken;
    for (std::size_t i = 0; i < plan.regions.size(); ++i) {
        const Region &r = plan.regions[i];
        if (!r.of_faces())
            continue;
        taken.assign(static_cast<std::size_t>(n_faces), 0);
        auto take = [&](label f) { taken[static_cast<std::size_t>(f)] = 1; };
        using S = Region::Source;
        switch (r.source) {
        case S::face_box: {
            for (label f = 0; f < n_faces; ++f)
                if (in_boxes(plan.boxes_of(r), centres[static_cast<std::size_t>(f)]))
                    take(f);
            break;
        }
        case S::face_patch: {
            bool any = false;
            for (const foam::BoundaryPatch &b : part.patches) {
                bool m = std::any_of(r.names.begin(), r.names.end(), [&](const Name &n) {
                    return matches(n, b.patch.name) ||
                           std::any_of(b.groups.begin(), b.groups.end(),
                                       [&](const std::string &g) { return matches(n, g); });
                });
                if (!m)
                    continue;
                any = true;
                for (label f = b.patch.start; f < b.patch.start + b.patch.size; ++f)
                    take(f);
            }
            if (!any)
                part.warnings.push_back(plan.name + ": line " + std::to_string(r.line) +
                                        ": patchToFace: no patch matches " +
                                        names_text(r.names) +
                                        "; the region takes nothing, as in setFields");
            break;
        }
        case S::face_zone:
            for (label f : zone_labels(part, plan, r, part.mesh.faces + "faceZones", "faceLabels", n_faces))
                take(f);
            break;
        case S::face_labels:
            for (label f : checked_labels(plan, r, n_faces, "faces"))
                take(f);
            break;
        case S::face_set:
            for (label f : set_labels(part, control, r, "faceSet", n_faces))
                take(f);
            break;
        case S::face_boundary:
            for (label f = first; f < n_faces; ++f)
                take(f);
            break;
        default:
            break;
        }
        for (label f = 0; f < n_faces; ++f) {
            if (!taken[static_cast<std::size_t>(f)])
                continue;
            if (f < first)
                ++part.internal_faces[i];
            else
                part.boundary_faces[i].push_back(f - first);
        }
        if (part.internal_faces[i] > 0)
            part.warnings.push_back(plan.name + ": line " + std::to_string(r.line) + ": " +
                                    r.keyword + " takes " + std::to_string(part.internal_faces[i]) +
                                    " internal face" + (part.internal_faces[i] == 1 ? "" : "s") +
                                    " of " + part.mesh.faces + ", which setFields ignores too");
    }
}

}  // namespace

void read_geometry(Part &part, const std::function<const Plan *()> &get_plan,
                   const Control &control, std::vector<Vec> *keep)
{
    foam::Mesh mesh = read_topology(part);
    std::vector<Vec> centres;
    naming("the cell centres of " + part.mesh.faces,
           [&] { centres = foam::cell_centres(mesh, nullptr, centres_of(part.release)); });
    const Plan *plan = get_plan();
    if (!plan)
        return;
    find_listed_cells(part, *plan, control);
    find_faces(part, *plan, control, mesh);
    part.boundary_centres.clear();
    for (label c : part.cells.owner)
        part.boundary_centres.push_back(centres[static_cast<std::size_t>(c)]);
    // the mesh goes before the index comes
    mesh = foam::Mesh{};
    naming("the cell centres of " + part.mesh.faces, [&] { part.index = build_index(centres); });
    if (keep)
        *keep = std::move(centres);
}

// The faces the regions of faces take in a processor's mesh: those that
// are, through faceProcAddressing, faces the regions take in the whole
// mesh, on its boundary (faces between processors are internal ones of the
// whole mesh, which setFields before decomposePar ignores).
void map_faces(Part &part, const Plan &plan, const Part &whole, const foam::Mesh &mesh)
{
    part.boundary_faces.assign(plan.regions.size(), {});
    part.internal_faces.assign(plan.regions.size(), 0);
    if (!plan.has_face_regions())
        return;
    const std::string path = part.mesh.faces + "faceProcAddressing";
    if (foam::find_file(path).empty())
        throw foam::Bad(path + ": no such file, which the regions of faces need to find their "
                               "faces in the processor's mesh; run decomposePar again");
    const std::vector<label> to_whole = foam::read_face_addressing(
        path, mesh.n_faces(), static_cast<label>(whole.cells.owner.size()) + whole.cells.first_face);
    std::vector<std::int32_t> of_whole(whole.cells.owner.size(), -1);
    for (std::size_t b = static_cast<std::size_t>(mesh.n_internal_faces()); b < to_whole.size(); ++b) {
        const label w = to_whole[b] - whole.cells.first_face;
        if (w >= 0)
            of_whole[static_cast<std::size_t>(w)] =
                static_cast<std::int32_t>(b - static_cast<std::size_t>(mesh.n_internal_faces()));
    }
    for (std::size_t r = 0; r < plan.regions.size(); ++r)
        for (label w : whole.boundary_faces[r])
            if (std::int32_t b = of_whole[static_cast<std::size_t>(w)]; b >= 0)
                part.boundary_faces[r].push_back(b);
}

void read_mapped_geometry(Part &part, const Plan &plan, const Part &whole,
                          const std::vector<Vec> &whole_centres)
{
    foam::Mesh mesh = read_topology(part);
    map_faces(part, plan, whole, mesh);
    part.claim_listed = &whole.listed_cells;
    const std::vector<Vec> &whole_ = whole_centres;
    const std::string whole_dir = whole.mesh.faces;
    const std::string path = part.mesh.faces + "cellProcAddressing";
    part.to_whole = foam::read_cell_addressing(path, part.n_cells,
                                               static_cast<label>(whole_.size()));
    part.boundary_centres.clear();
    for (label c : part.cells.owner)
        part.boundary_centres.push_back(
            whole_[static_cast<std::size_t>(part.to_whole[static_cast<std::size_t>(c)])]);
    std::vector<double> volumes;
    const std::vector<Vec> mine = foam::cell_centres(mesh, &volumes, centres_of(part.release));
    // The same cell, its faces listed in another order, has its centre
    // within a few units in the last place; another cell lies a good part
    // of a cell away.
    constexpr double kOfTheSize = 1e-6, kOfTheCoordinate = 1e-12;
    for (std::size_t i = 0; i < mine.size(); ++i) {
        const Vec &p = mine[i], &q = whole_[static_cast<std::size_t>(part.to_whole[i])];
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
                    claim(plan, part.index, part.listed_cells, n, order,
                          order.size() * t / threads, order.size() * (t + 1) / threads, claims[t]);
                });
        } catch (const std::system_error &e) {
            pool.clear();
            throw foam::Bad("a thread to find the regions' cells: " + e.code().message());
        }
        claim(plan, part.index, part.listed_cells, n, order, 0, order.size() / threads, claims[0]);
    }
    part.index = CellIndex{};
    return merge(claims, n);
}

void set_fields(Part &part, const Plan &plan, const Claims &claims)
{
    for (std::size_t f = 0; f < part.paths.size(); ++f) {
        const std::string &path = part.paths[f];
        if (path.empty()) {
            part.fields.emplace_back();  // missing: nothing to set or write
            continue;
        }
        naming(path, [&] {
            foam::Includes inc = part.includes;
            inc.bound = field_bound(part.n_cells, part.cells.owner.size());
            part.fields.push_back(read_field(foam::load_text(path, inc.bound), plan.fields[f].type,
                                             part.n_cells, inc, part.mesh_hint));
            // the patch types orbset lists are those of 1912's libraries
            const bool every_type = part.release.esi() && !part.release.esi(2006);
            resolve_patches(part.fields.back(), part.patches, part.libs, part.warnings,
                            every_type);
        });
    }
    naming("the values of the fields in " + part.dir, [&] { give_values(part, plan, claims); });
}

}  // namespace orbset
