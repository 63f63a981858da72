#include "run.h"

#include <algorithm>

#include "foam/bad.h"
#include "foam/geometry.h"
#include "foam/text.h"
#include "select.h"

namespace orbset {

namespace {

std::string under(const std::string &dir, const std::string &rel)
{
    return dir.empty() ? rel : dir + "/" + rel;
}

// Sets the cells of every region in every field it names, the last region
// to take a cell setting it, and counts the cells the regions set.
void apply(Part &part, const Plan &plan, const CellIndex &index)
{
    auto n = static_cast<std::size_t>(part.n_cells);
    for (const Setting &s : plan.defaults)
        part.fields[static_cast<std::size_t>(s.field)].values.assign(n, s.value);
    std::vector<std::vector<unsigned char>> taken(plan.fields.size());
    std::vector<label> cells;
    std::vector<Box> boxes;
    for (const Region &r : plan.regions) {
        if (r.n_settings == 0)
            continue;
        cells.clear();
        if (r.source == Region::Source::box) {
            auto from = plan.boxes.begin() + static_cast<std::ptrdiff_t>(r.first_box);
            boxes.assign(from, from + static_cast<std::ptrdiff_t>(r.n_boxes));
            cells_in_boxes(index, boxes, cells);
        } else {
            cells_in_sphere(index, r.sphere, cells);
        }
        for (std::size_t k = 0; k < r.n_settings; ++k) {
            const Setting &s = plan.settings[r.first_setting + k];
            auto field = static_cast<std::size_t>(s.field);
            std::vector<double> &values = part.fields[field].values;
            std::vector<unsigned char> &mark = taken[field];
            if (mark.empty())
                mark.assign(n, 0);
            for (label c : cells) {
                values[static_cast<std::size_t>(c)] = s.value;
                mark[static_cast<std::size_t>(c)] = 1;
            }
        }
    }
    part.set.assign(plan.fields.size(), 0);
    for (std::size_t f = 0; f < taken.size(); ++f)
        part.set[f] = std::count(taken[f].begin(), taken[f].end(), 1);
}

}  // namespace

void locate_fields(Part &part, const Plan &plan, const Control &control)
{
    std::string time = start_time_name(control, part.dir);
    part.paths.clear();
    for (const std::string &name : plan.fields) {
        std::string path = under(part.dir, time + "/" + name);
        if (foam::find_file(path).empty()) {
            std::string constant = under(part.dir, "constant/" + name);
            if (foam::find_file(constant).empty())
                throw foam::Bad(path + ": no such field file (nor " + name + ".gz, nor in " +
                                under(part.dir, "constant") +
                                "); setFields would only warn, orbset writes nothing");
            path = constant;
        }
        part.paths.push_back(path);
    }
}

void prepare(Part &part, const Plan &plan)
{
    foam::Mesh mesh = foam::read_mesh(part.dir);
    part.patches = foam::read_boundary(foam::polymesh_dir(part.dir) + "boundary");
    part.n_cells = mesh.n_cells;
    part.cells.first_face = mesh.n_internal_faces();
    part.cells.owner.assign(mesh.owner.begin() + mesh.n_internal_faces(), mesh.owner.end());
    for (const std::string &path : part.paths) {
        part.fields.push_back(read_field(path, part.n_cells));
        resolve_patches(part.fields.back(), part.patches, part.warnings);
    }
    // the mesh goes before the index comes, the centres once it has its copy
    std::vector<Vec> centres = foam::cell_centres(mesh);
    mesh = foam::Mesh{};
    CellIndex index = build_index(centres);
    std::vector<Vec>().swap(centres);
    apply(part, plan, index);
}

}  // namespace orbset
