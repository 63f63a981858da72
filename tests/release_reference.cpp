#include "release_reference.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <map>
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
    // every cell's six faces, outwards; a face met again is internal, its
    // second cell the neighbour
    std::map<std::array<label, 4>, std::size_t> seen;
    std::vector<std::array<label, 4>> faces;
    std::vector<label> owner, neighbour;
    for (label c = 0; c < n * n * n; ++c) {
        const label o = c % n + c / n % n * np + c / (n * n) * np * np;
        const label x = 1, y = np, z = np * np;
        const std::array<label, 4> sides[6] = {
            {o, o + z, o + y + z, o + y},         {o + x, o + x + y, o + x + y + z, o + x + z},
            {o, o + x, o + x + z, o + z},         {o + y, o + y + z, o + x + y + z, o + x + y},
            {o, o + y, o + x + y, o + x},         {o + z, o + x + z, o + x + y + z, o + y + z}};
        for (const auto &f : sides) {
            std::array<label, 4> key = f;
            std::sort(key.begin(), key.end());
            if (auto at = seen.find(key); at != seen.end()) {
                neighbour[at->second] = c;
                continue;
            }
            seen.emplace(key, faces.size());
            faces.push_back(f);
            owner.push_back(c);
            neighbour.push_back(-1);
        }
    }
    // the internal faces first, then the boundary
    m.face_start = {0};
    for (int internal : {1, 0})
        for (std::size_t f = 0; f < faces.size(); ++f)
            if ((neighbour[f] >= 0) == internal) {
                m.face_points.insert(m.face_points.end(), faces[f].begin(), faces[f].end());
                m.face_start.push_back(static_cast<label>(m.face_points.size()));
                m.owner.push_back(owner[f]);
                if (internal)
                    m.neighbour.push_back(neighbour[f]);
            }
    m.n_cells = n * n * n;
    return m;
}

bool rotated_box_v2212(Vec origin, Vec i, Vec j, Vec k, Vec c)
{
    auto add = [](Vec a, Vec b) { return Vec{a.x + b.x, a.y + b.y, a.z + b.z}; };
    auto sub = [](Vec a, Vec b) { return Vec{a.x - b.x, a.y - b.y, a.z - b.z}; };
    auto cross = [](Vec a, Vec b) {
        return Vec{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
    };
    // pointField boxPoints(8, origin_); boxPoints[1] += i_; boxPoints[2] += i_ + j_; ...
    Vec box[8];
    for (Vec &p : box)
        p = origin;
    box[1] = add(box[1], i);
    box[2] = add(box[2], add(i, j));
    box[3] = add(box[3], j);
    box[4] = add(box[4], k);
    box[5] = add(box[5], add(k, i));
    box[6] = add(box[6], add(add(k, i), j));
    box[7] = add(box[7], add(k, j));
    // hexCell::modelFaces()
    const int faces[6][4] = {{0, 4, 7, 3}, {1, 2, 6, 5}, {0, 1, 5, 4},
                             {3, 7, 6, 2}, {0, 3, 2, 1}, {4, 5, 6, 7}};
    for (const auto &f : faces) {
        Vec centre{0, 0, 0};
        for (int q : f)
            centre = add(centre, box[q]);
        centre = {centre.x / 4, centre.y / 4, centre.z / 4};
        Vec n{0, 0, 0};
        for (int q = 0; q < 4; ++q) {
            const Vec a = box[f[q]], b = box[f[(q + 1) % 4]];
            const Vec t = cross(sub(b, a), sub(centre, a));
            n = add(n, Vec{0.5 * t.x, 0.5 * t.y, 0.5 * t.z});
        }
        const Vec d = sub(c, box[f[0]]);
        if (d.x * n.x + d.y * n.y + d.z * n.z > 0)
            return false;
    }
    return true;
}

}  // namespace reference
