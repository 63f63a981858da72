#include "release_reference.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <random>

namespace reference {

using foam::label;
using foam::Vec;

// The Foundation's geometry (8 on), literally as its sources compute it:
// primitiveMeshFaceCentresAndAreas.C every face into one list, then
// primitiveMeshCellCentresAndVols.C sweeping the owners and then the
// neighbours of all faces.
std::vector<Vec> foundation_centres(const foam::Mesh &m)
{
    const double v_small = std::numeric_limits<double>::min();
    auto add = [](Vec a, Vec b) { return Vec{a.x + b.x, a.y + b.y, a.z + b.z}; };
    auto sub = [](Vec a, Vec b) { return Vec{a.x - b.x, a.y - b.y, a.z - b.z}; };
    auto scale = [](double s, Vec v) { return Vec{s * v.x, s * v.y, s * v.z}; };
    auto div = [](Vec v, double s) { return Vec{v.x / s, v.y / s, v.z / s}; };
    auto dot = [](Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; };
    auto cross = [](Vec a, Vec b) {
        return Vec{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
    };
    const std::size_t n_faces = m.owner.size();
    std::vector<Vec> f_ctrs(n_faces), f_areas(n_faces);
    for (std::size_t facei = 0; facei < n_faces; ++facei) {
        std::vector<Vec> p;
        for (label k = m.face_start[facei]; k < m.face_start[facei + 1]; ++k)
            p.push_back(m.points[static_cast<std::size_t>(m.face_points[static_cast<std::size_t>(k)])]);
        const std::size_t n = p.size();
        if (n == 3) {
            f_ctrs[facei] = scale(1.0 / 3.0, add(add(p[0], p[1]), p[2]));
            f_areas[facei] = scale(0.5, cross(sub(p[1], p[0]), sub(p[2], p[0])));
            continue;
        }
        Vec p_avg = p[0];
        for (std::size_t pi = 1; pi < n; ++pi)
            p_avg = add(p_avg, p[pi]);
        p_avg = div(p_avg, static_cast<double>(n));
        Vec sum_a{0, 0, 0};
        for (std::size_t i = 0; i < n; ++i)
            sum_a = add(sum_a, cross(sub(p[(i + 1) % n], p[i]), sub(p_avg, p[i])));
        const double mag = std::sqrt(dot(sum_a, sum_a));
        const Vec sum_a_hat = mag > 0 ? div(sum_a, mag) : Vec{0, 0, 0};
        double sum_an = 0.0;
        Vec sum_anc{0, 0, 0};
        for (std::size_t i = 0; i < n; ++i) {
            const Vec a = cross(sub(p[(i + 1) % n], p[i]), sub(p_avg, p[i]));
            const Vec c = add(add(p[i], p[(i + 1) % n]), p_avg);
            const double an = dot(a, sum_a_hat);
            sum_an += an;
            sum_anc = add(sum_anc, scale(an, c));
        }
        f_ctrs[facei] = sum_an > v_small ? div(scale(1.0 / 3.0, sum_anc), sum_an) : p_avg;
        f_areas[facei] = scale(0.5, sum_a);
    }
    const auto cells = static_cast<std::size_t>(m.n_cells);
    std::vector<Vec> c_est(cells, Vec{0, 0, 0}), ctrs(cells, Vec{0, 0, 0});
    std::vector<double> vols(cells, 0.0), n_cell_faces(cells, 0.0);
    auto own = [&](std::size_t f) { return static_cast<std::size_t>(m.owner[f]); };
    auto nei = [&](std::size_t f) { return static_cast<std::size_t>(m.neighbour[f]); };
    for (std::size_t f = 0; f < n_faces; ++f) {
        c_est[own(f)] = add(c_est[own(f)], f_ctrs[f]);
        n_cell_faces[own(f)] += 1;
    }
    for (std::size_t f = 0; f < m.neighbour.size(); ++f) {
        c_est[nei(f)] = add(c_est[nei(f)], f_ctrs[f]);
        n_cell_faces[nei(f)] += 1;
    }
    for (std::size_t c = 0; c < cells; ++c)
        c_est[c] = div(c_est[c], n_cell_faces[c]);
    auto pyramid = [&](std::size_t f, std::size_t c, double pyr3_vol) {
        const Vec pc = add(scale(3.0 / 4.0, f_ctrs[f]), scale(1.0 / 4.0, c_est[c]));
        ctrs[c] = add(ctrs[c], scale(pyr3_vol, pc));
        vols[c] += pyr3_vol;
    };
    for (std::size_t f = 0; f < n_faces; ++f)
        pyramid(f, own(f), dot(f_areas[f], sub(f_ctrs[f], c_est[own(f)])));
    for (std::size_t f = 0; f < m.neighbour.size(); ++f)
        pyramid(f, nei(f), dot(f_areas[f], sub(c_est[nei(f)], f_ctrs[f])));
    for (std::size_t c = 0; c < cells; ++c)
        ctrs[c] = std::fabs(vols[c]) > v_small ? div(ctrs[c], vols[c]) : c_est[c];
    return ctrs;
}

foam::Mesh warped_lattice(int n)
{
    foam::Mesh m;
    std::mt19937_64 rng(8);
    std::uniform_real_distribution<double> jitter(-0.33, 0.33);
    const int np = n + 1;
    for (int k = 0; k < np; ++k)
        for (int j = 0; j < np; ++j)
            for (int i = 0; i < np; ++i)
                m.points.push_back({i + jitter(rng), j + jitter(rng), k + jitter(rng)});
    auto pt = [&](int i, int j, int k) { return static_cast<label>((k * np + j) * np + i); };
    auto cell = [&](int i, int j, int k) { return static_cast<label>((k * n + j) * n + i); };
    std::vector<std::vector<label>> faces;
    // internal faces in the order of their owners, then the boundary
    std::vector<std::vector<label>> boundary;
    std::vector<label> boundary_owner;
    for (int k = 0; k < n; ++k)
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const std::vector<label> sides[3] = {
                    {pt(i + 1, j, k), pt(i + 1, j + 1, k), pt(i + 1, j + 1, k + 1), pt(i + 1, j, k + 1)},
                    {pt(i, j + 1, k), pt(i, j + 1, k + 1), pt(i + 1, j + 1, k + 1), pt(i + 1, j + 1, k)},
                    {pt(i, j, k + 1), pt(i + 1, j, k + 1), pt(i + 1, j + 1, k + 1), pt(i, j + 1, k + 1)}};
                const bool inside[3] = {i + 1 < n, j + 1 < n, k + 1 < n};
                const label next[3] = {inside[0] ? cell(i + 1, j, k) : -1,
                                       inside[1] ? cell(i, j + 1, k) : -1,
                                       inside[2] ? cell(i, j, k + 1) : -1};
                for (int d = 0; d < 3; ++d)
                    if (inside[d]) {
                        faces.push_back(sides[d]);
                        m.owner.push_back(cell(i, j, k));
                        m.neighbour.push_back(next[d]);
                    } else {
                        boundary.push_back(sides[d]);
                        boundary_owner.push_back(cell(i, j, k));
                    }
                const std::vector<label> low[3] = {
                    {pt(i, j, k), pt(i, j, k + 1), pt(i, j + 1, k + 1), pt(i, j + 1, k)},
                    {pt(i, j, k), pt(i + 1, j, k), pt(i + 1, j, k + 1), pt(i, j, k + 1)},
                    {pt(i, j, k), pt(i, j + 1, k), pt(i + 1, j + 1, k), pt(i + 1, j, k)}};
                const bool at_low[3] = {i == 0, j == 0, k == 0};
                for (int d = 0; d < 3; ++d)
                    if (at_low[d]) {
                        boundary.push_back(low[d]);
                        boundary_owner.push_back(cell(i, j, k));
                    }
            }
    faces.insert(faces.end(), boundary.begin(), boundary.end());
    m.owner.insert(m.owner.end(), boundary_owner.begin(), boundary_owner.end());
    m.face_start = {0};
    for (const auto &f : faces) {
        m.face_points.insert(m.face_points.end(), f.begin(), f.end());
        m.face_start.push_back(static_cast<label>(m.face_points.size()));
    }
    m.n_cells = n * n * n;
    return m;
}

}  // namespace reference
