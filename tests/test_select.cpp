// The cells that the index finds for a box or sphere against every cell
// tested one by one with the tests of boxToCell and sphereToCell, on sets
// of centres chosen to meet the index's edges: surfaces through centres,
// degenerate extents, centres that are not numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>
#include <random>
#include <vector>

#include "release_reference.h"
#include "select.h"

namespace {

using orbset::Box;
using orbset::label;
using orbset::Sphere;
using orbset::Vec;

enum class Centres { lattice, jittered, slab, one_point, none, with_nan, outlier };

// lattice: integer points 0..9 along each axis, so that distances squared
// are exact and surfaces pass through centres.
std::vector<Vec> centres_of(Centres kind)
{
    std::vector<Vec> v;
    std::mt19937_64 random(17);
    std::uniform_real_distribution<double> unit(0, 1);
    for (int k = 0; k < 10; ++k)
        for (int j = 0; j < 10; ++j)
            for (int i = 0; i < 10; ++i) {
                Vec p{double(i), double(j), double(k)};
                if (kind == Centres::jittered)
                    p = {i + 0.9 * unit(random), j + 0.9 * unit(random), k + 0.9 * unit(random)};
                if (kind == Centres::slab)
                    p.z = 0.25;
                if (kind == Centres::one_point)
                    p = {1, 2, 3};
                v.push_back(p);
            }
    if (kind == Centres::none)
        v.clear();
    if (kind == Centres::with_nan)
        v[123] = {std::nan(""), 1, 1};
    if (kind == Centres::outlier)
        v[7] = {1e12, -1e12, 4};
    return v;
}

struct Region {
    std::vector<Sphere> spheres;  // one query each
    std::vector<Box> boxes;       // one query for all
    std::vector<orbset::Cylinder> cylinders = {};      // one query each
    std::vector<orbset::RotatedBox> rotated = {};      // one query each
};

struct Row {
    const char *name, *why;
    Centres centres;
    Region region;
};

// jittered centres, 300 spheres of every size, some beyond the mesh
Region random_spheres()
{
    Region r;
    std::mt19937_64 random(5);
    std::uniform_real_distribution<double> place(-2, 12), size(-3, 4);
    for (int i = 0; i < 300; ++i)
        r.spheres.push_back({{place(random), place(random), place(random)}, size(random),
                             i % 3 == 0 ? size(random) : 0});
    return r;
}

const double kHuge = std::numeric_limits<double>::max();

const Row kRows[] = {
    // spheres
    {"on_surface", "a centre on the surface is outside: d2 < radius^2 is strict", Centres::lattice,
     {{{{4, 4, 4}, 3, 0}, {{4, 5, 4}, 5, 0}}, {}}},
    {"inner_surface", "a centre on the inner surface is outside: d2 > innerRadius^2 is strict",
     Centres::lattice, {{{{4, 4, 4}, 5, 3}}, {}}},
    {"negative_radius", "a negative radius takes by its size", Centres::lattice,
     {{{{4, 4, 4}, -3.5, 0}}, {}}},
    {"inner_zero", "an inner radius not above zero takes the centre at the origin",
     Centres::lattice, {{{{4, 4, 4}, 2, -1}, {{4, 4, 4}, 2, 0}}, {}}},
    {"huge_sphere", "a sphere bigger than the mesh takes every cell", Centres::jittered,
     {{{{4, 4, 4}, 1e6, 0}, {{0, 0, 0}, kHuge, 0}}, {}}},
    {"beyond_the_mesh", "spheres beyond the mesh take none, even where the distance overflows",
     Centres::jittered,
     {{{{40, 4, 4}, 3, 0}, {{-kHuge, 0, 0}, 1e300, 0}, {{4, 4, 4}, 1e-200, 0}}, {}}},
    {"scattered", "spheres of every size and place on scattered centres", Centres::jittered,
     random_spheres()},
    {"one_plane", "all centres in one plane", Centres::slab, {{{{4.2, 4.1, 0}, 2.5, 0}}, {}}},
    {"one_point", "all centres at one point", Centres::one_point, {{{{1, 2, 3.5}, 0.6, 0}}, {}}},
    {"no_cells", "no cells", Centres::none, {{{{1, 2, 3}, 5, 0}}, {{{0, 0, 0}, {1, 1, 1}}}}},
    {"nan_centre", "a centre that is not a number is never taken", Centres::with_nan,
     {{{{3, 2, 1}, 3, 0}, {{0, 0, 0}, kHuge, 0}}, {{{-1, -1, -1}, {kHuge, kHuge, kHuge}}}}},
    {"outlier", "one centre far from the rest", Centres::outlier,
     {{{{1e12, -1e12, 4}, 1, 0}, {{4, 4, 4}, 2.5, 0}}, {}}},
    {"on_surface_inclusive", "a centre on the surface is inside, the Foundation's test d2 <= radius^2",
     Centres::lattice, {{{{4, 4, 4}, 3, 0, true}, {{4, 5, 4}, -5, 0, true}}, {}}},
    {"far_inclusive", "the Foundation's test far from the origin, where d2 rounds",
     Centres::outlier, {{{{1e12 - 3, -1e12 + 4, 4}, 5, 0, true}}, {}}},

    // boxes
    {"on_box_face", "a centre on a face of the box is inside: min <= p <= max", Centres::lattice,
     {{}, {{{2, 3, 4}, {5, 5, 8}}}}},
    {"min_above_max", "a box with min above max along one axis takes nothing", Centres::lattice,
     {{}, {{{2, 6, 4}, {5, 3, 8}}}}},
    {"two_boxes", "a cell in two boxes is listed once", Centres::lattice,
     {{}, {{{0, 0, 0}, {5, 5, 5}}, {{3, 3, 3}, {9, 9, 9}}, {{4, 4, 4}, {4, 4, 4}}}}},
    {"box_around_mesh", "a box around the whole mesh takes every cell", Centres::jittered,
     {{}, {{{-kHuge, -kHuge, -kHuge}, {kHuge, kHuge, kHuge}}}}},
    {"box_in_a_plane", "a box in a plane of centres", Centres::slab,
     {{}, {{{1, 1, 0.25}, {3.5, 7, 0.25}}}}},

    // cylinders and rotated boxes: the index's bounds around them
    {"cylinder_ends", "a cylinder whose surface and ends pass through centres", Centres::lattice,
     {{}, {}, {{{2, 4, 5}, {7, 4, 5}, 2, 0}, {{4, 1, 1}, {4, 8, 8}, 3, 1.5}}}},
    {"cylinder_thin", "a long thin cylinder across the lattice, and one of negative radius",
     Centres::jittered, {{}, {}, {{{-1e3, 4.5, 4.5}, {1e3, 4.6, 4.4}, 0.5, 0}, {{0, 0, 0}, {9, 9, 9}, -2, 0}}}},
    {"rotated_boxes", "boxes turned 45 degrees with faces through centres, and a flat one",
     Centres::lattice,
     {{}, {}, {}, {{{4, 0, 0}, {3, 3, 0}, {-3, 3, 0}, {0, 0, 9}}, {{0, 0, 4}, {9, 0, 0}, {0, 9, 0}, {0, 0, 0}}}}},
};

bool in_box(const Box &b, const Vec &p)
{
    return b.min.x <= p.x && p.x <= b.max.x && b.min.y <= p.y && p.y <= b.max.y &&
           b.min.z <= p.z && p.z <= b.max.z;
}

bool sphere_takes(const Sphere &s, const Vec &p)
{
    const double dx = p.x - s.origin.x, dy = p.y - s.origin.y, dz = p.z - s.origin.z;
    const double d2 = dx * dx + dy * dy + dz * dz;
    if (s.inclusive)
        return d2 <= s.radius * s.radius;
    const double inner = s.inner_radius > 0 ? s.inner_radius * s.inner_radius : -1;
    return d2 < s.radius * s.radius && d2 > inner;
}

template <class Test>
std::vector<label> every_cell_where(const std::vector<Vec> &centres, Test takes)
{
    std::vector<label> v;
    for (std::size_t i = 0; i < centres.size(); ++i)
        if (takes(centres[i]))
            v.push_back(static_cast<label>(i));
    return v;
}

std::vector<label> sorted(std::vector<label> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

void PrintTo(const Row &row, std::ostream *os) { *os << row.name << ": " << row.why; }

class Select : public ::testing::TestWithParam<Row> {};

TEST_P(Select, FindsTheCellsOfEveryTest)
{
    const Row &row = GetParam();
    const std::vector<Vec> centres = centres_of(row.centres);
    const orbset::CellIndex index = orbset::build_index(centres);
    for (const Sphere &s : row.region.spheres) {
        std::vector<label> found{-1};  // appended to what is there
        orbset::cells_in_sphere(index, s, found);
        ASSERT_EQ(found.front(), -1);
        found.erase(found.begin());
        const auto want = every_cell_where(centres, [&](const Vec &p) { return sphere_takes(s, p); });
        EXPECT_EQ(sorted(found), want) << "sphere (" << s.origin.x << " " << s.origin.y << " "
                                       << s.origin.z << ") " << s.radius;
    }
    for (const orbset::Cylinder &c : row.region.cylinders) {
        std::vector<label> found;
        orbset::cells_in_cylinder(index, c, found);
        EXPECT_EQ(sorted(found),
                  every_cell_where(centres, [&](const Vec &p) { return orbset::in_cylinder(c, p); }));
    }
    for (const orbset::RotatedBox &b : row.region.rotated) {
        std::vector<label> found;
        orbset::cells_in_rotated_box(index, b, found);
        EXPECT_EQ(sorted(found),
                  every_cell_where(centres, [&](const Vec &p) { return orbset::in_rotated_box(b, p); }));
    }
    if (!row.region.boxes.empty()) {
        std::vector<label> found;
        orbset::cells_in_boxes(index, row.region.boxes, found);
        const auto want = every_cell_where(centres, [&](const Vec &p) {
            return std::any_of(row.region.boxes.begin(), row.region.boxes.end(),
                               [&](const Box &b) { return in_box(b, p); });
        });
        EXPECT_EQ(sorted(found), want);
    }
}

INSTANTIATE_TEST_SUITE_P(Regions, Select, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

// ESI's rotated boxes of v2212 on, their corners summed in another order,
// against the reference that follows that release's source, at points on
// their faces' planes, where the order of the sums decides.
TEST(RotatedBox, CornersAsV2212SumsThem)
{
    std::mt19937_64 random(2212);
    std::uniform_real_distribution<double> u(-1.3, 1.7);
    long parted = 0;
    for (int n = 0; n < 2000; ++n) {
        const Vec o{u(random) * 7, u(random), u(random) * 3}, i{u(random), u(random), u(random)},
            j{u(random), u(random) * 0.3, u(random)}, k{u(random), u(random), u(random) * 11};
        const orbset::RotatedBox grouped{o, i, j, k, true}, left{o, i, j, k, false};
        // a point on the face of corners 2, 6, ...: o + i + j + s k + t ...
        const double s = (random() % 1024) / 1024.0, t = (random() % 1024) / 1024.0;
        const Vec p{o.x + i.x + j.x + s * k.x - t * i.x, o.y + i.y + j.y + s * k.y - t * i.y,
                    o.z + i.z + j.z + s * k.z - t * i.z};
        EXPECT_EQ(orbset::in_rotated_box(grouped, p), reference::rotated_box_v2212(o, i, j, k, p));
        parted += orbset::in_rotated_box(grouped, p) != orbset::in_rotated_box(left, p);
    }
    EXPECT_GT(parted, 0);  // the orders of the sums part on some of them
}

}  // namespace
