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
#include "release_reference.h"

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

// The Foundation's centres, against the reference that follows its
// sources, on the cells of the guards above and on a mesh of warped
// faces, where they part from ESI's.
TEST(FoundationCentres, AsItsSourcesComputeThem)
{
    for (const foam::Mesh &m : {mesh(), reference::warped_lattice(14)}) {
        const std::vector<Vec> got = foam::cell_centres(m, nullptr, foam::Centres::foundation);
        const std::vector<Vec> want = reference::foundation_centres(m);
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
