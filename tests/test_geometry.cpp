// Cell centres of a small mesh whose cells each take another path through
// OpenFOAM's geometry, against the bits that postProcess -func
// writeCellCentres of OpenFOAM 1912 wrote for the same mesh. The tests
// against OpenFOAM itself cover real meshes; these cover the guards that
// real meshes do not reach, and run where OpenFOAM is not installed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "foam/geometry.h"

namespace {

using foam::label;
using foam::Vec;

// The faces of a hexahedron of points o..o+7, normals outwards (as
// blockMesh names them).
std::vector<std::vector<label>> hex_faces(label o)
{
    return {{o, o + 4, o + 7, o + 3}, {o + 1, o + 2, o + 6, o + 5}, {o, o + 1, o + 5, o + 4},
            {o + 3, o + 7, o + 6, o + 2}, {o, o + 3, o + 2, o + 1}, {o + 4, o + 5, o + 6, o + 7}};
}

// Cell 0: a skewed hexahedron. Cell 1: a prism on its x+ face, that face
// its only neighbour face and the first face of the mesh. Cell 2: a
// hexahedron with every point in one plane. Cell 3: cell 0 scaled by
// 1e-110. Cell 4: a unit square from z = 2e-300 to the next double up, of
// volume 4e-316.
foam::Mesh mesh()
{
    foam::Mesh m;
    m.points = {{0.0, 0.0, 0.0},     {1.1, 0.1, 0.05},   {1.05, 0.95, -0.1}, {0.1, 1.2, 0.0},
                {0.05, -0.1, 1.0},   {1.2, 0.05, 1.1},   {0.9, 1.1, 0.95},   {-0.1, 1.0, 1.05},
                {2.37, 0.61, 0.13},  {2.11, 0.43, 1.27}, {3, 0, 0.3},        {4, 0.2, 0.3},
                {4.1, 1, 0.3},       {3.2, 0.9, 0.3},    {3, 0, 0.3},        {4, 0.2, 0.3},
                {4.1, 1, 0.3},       {3.2, 0.9, 0.3}};
    for (int i = 0; i < 8; ++i) {
        const Vec p = m.points[static_cast<std::size_t>(i)];
        m.points.push_back({p.x * 1e-110, p.y * 1e-110, p.z * 1e-110});
    }
    for (double z : {2e-300, std::nextafter(2e-300, 1.0)})
        for (Vec p : {Vec{0, 0, z}, Vec{1, 0, z}, Vec{1, 1, z}, Vec{0, 1, z}})
            m.points.push_back(p);
    std::vector<std::vector<label>> faces = hex_faces(0);
    std::swap(faces[0], faces[1]);  // the shared face first
    m.owner = {0, 0, 0, 0, 0, 0};
    m.neighbour = {1};
    for (const auto &f : std::vector<std::vector<label>>{{1, 2, 8}, {5, 9, 6}, {1, 8, 9, 5}, {2, 6, 9, 8}}) {
        faces.push_back(f);
        m.owner.push_back(1);
    }
    for (label cell : {2, 3, 4})
        for (const auto &f : hex_faces(cell == 2 ? 10 : cell == 3 ? 18 : 26)) {
            faces.push_back(f);
            m.owner.push_back(cell);
        }
    m.face_start = {0};
    for (const auto &f : faces) {
        m.face_points.insert(m.face_points.end(), f.begin(), f.end());
        m.face_start.push_back(static_cast<label>(m.face_points.size()));
    }
    m.n_cells = 5;
    return m;
}

struct Row {
    const char *name, *why;
    label cell;
    Vec openfoam;  // writeCellCentres, OpenFOAM 1912
};

const Row kRows[] = {
    {"quadrilaterals", "quadrilateral faces, no fused multiply-add", 0,
     {0x1.0c9d7f9f4597bp-1, 0x1.0d4d8de7a212fp-1, 0x1.08f338b2c46a3p-1}},
    {"neighbour_face_first",
     "owner faces summed before the neighbour face that comes first in the mesh; triangles", 1,
     {0x1.762926ef41b2ap+0, 0x1.15afd21330361p-1, 0x1.215d8ad536946p-1}},
    {"no_volume", "no volume: the average of the face centres, some of them of faces with no area",
     2,
     {0x1.c89edaa44a106p+1, 0x1.098fbe7cb8822p-1, 0x1.3333333333332p-2}},
    {"below_vsmall", "faces below ROOTVSMALL in area and a volume below VSMALL", 3,
     {0x1.9da4e4435bcb1p-367, 0x1.9da4e4435bcbp-367, 0x1.85985403e8513p-367}},
    {"tiny_volume", "a volume of 4e-316, not 0 but below VSMALL: the average of the face centres", 4,
     {0.5, 0.5, 2e-300}},
};

void PrintTo(const Row &row, std::ostream *os) { *os << row.name << ": " << row.why; }

class Centres : public ::testing::TestWithParam<Row> {};

TEST_P(Centres, AsOpenFoamWritesThem)
{
    const Row &row = GetParam();
    const std::vector<Vec> centres = foam::cell_centres(mesh());
    ASSERT_EQ(centres.size(), 5u);
    const Vec c = centres[static_cast<std::size_t>(row.cell)];
    EXPECT_EQ(std::memcmp(&c, &row.openfoam, sizeof c), 0)
        << row.why << ": (" << c.x << " " << c.y << " " << c.z << ")";
}

INSTANTIATE_TEST_SUITE_P(Cells, Centres, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace

namespace {

// The Foundation's geometry (8 on), literally as its sources compute it:
// primitiveMeshFaceCentresAndAreas.C every face into one list, then
// primitiveMeshCellCentresAndVols.C sweeping the owners and then the
// neighbours of all faces.
std::vector<Vec> foundation_reference(const foam::Mesh &m)
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

// A lattice of n^3 hexahedra whose points are moved at random by up to a
// third of a cell: no face is flat, no two cells alike.
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

// The Foundation's centres, against the reference that follows its
// sources, on the cells of the guards above and on a mesh of warped
// faces, where they part from ESI's.
TEST(FoundationCentres, AsItsSourcesComputeThem)
{
    for (const foam::Mesh &m : {mesh(), warped_lattice(14)}) {
        const std::vector<Vec> got = foam::cell_centres(m, nullptr, foam::Centres::foundation);
        const std::vector<Vec> want = foundation_reference(m);
        const std::vector<Vec> esi = foam::cell_centres(m);
        ASSERT_EQ(got.size(), want.size());
        std::size_t differ = 0;
        for (std::size_t c = 0; c < got.size(); ++c) {
            EXPECT_EQ(std::memcmp(&got[c], &want[c], sizeof(Vec)), 0) << "cell " << c;
            differ += std::memcmp(&got[c], &esi[c], sizeof(Vec)) != 0;
        }
        // the two lines' centres part on a good share of the cells
        EXPECT_GT(differ, got.size() / 10);
    }
}

}  // namespace
