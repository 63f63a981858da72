// The whole road through OpenFOAM: headcut, orbfill or orbtint, blockMesh
// and setFields in a case directory, then every cell of the field read back
// and checked against the box and the spheres that the dictionary lists.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "casedir.h"

namespace {

using Vec = std::array<double, 3>;

struct Sphere {
    Vec centre;
    double radius;
};

// Cell centres of the example mesh lie on a 50-micron grid offset by 25
// microns; every centre and radius here keeps the sphere surfaces away from
// them. The first sphere covers cells that no other region does.
const Sphere kSpheres[] = {
    {{-175e-6, 375e-6, 75e-6}, 60e-6},   // never written: stays default
    {{1125e-6, 375e-6, 75e-6}, 60e-6},   // outside the box
    {{1125e-6, -75e-6, -375e-6}, 85e-6}, // outside, reaching diagonals
    {{-125e-6, -75e-6, 25e-6}, 60e-6},
    {{525e-6, 125e-6, -125e-6}, 60e-6},  // inside the box
    {{275e-6, 225e-6, -175e-6}, 110e-6}, // straddles the box face
    {{875e-6, 25e-6, -25e-6}, 60e-6},
    {{675e-6, 375e-6, -275e-6}, 60e-6},
    {{-175e-6, 175e-6, -325e-6}, 60e-6},
    {{425e-6, -75e-6, 75e-6}, 60e-6},
    {{1075e-6, 275e-6, -125e-6}, 60e-6},
    {{320e-6, 330e-6, 30e-6}, 60e-6},    // off the grid
};
const Vec kBoxMin{0, 0.00001, -0.000235}, kBoxMax{0.001, 0.00029, 0};

bool toolchain_present()
{
    return std::system("command -v blockMesh >/dev/null 2>&1 && "
                       "command -v setFields >/dev/null 2>&1") == 0;
}

// The values of a field's internalField, uniform or listed.
std::vector<std::string> internal_field(const std::string &text, std::size_t cells)
{
    std::size_t at = text.find("internalField");
    std::istringstream in(text.substr(at + 13));
    std::string word;
    in >> word;
    if (word == "uniform") {
        in >> word;
        if (word.back() == ';')
            word.pop_back();
        return std::vector<std::string>(cells, word);
    }
    std::size_t n = 0;
    in >> word >> n >> word;  // List<...>, the count, "("
    std::vector<std::string> v;
    std::string line;
    std::getline(in, line);
    for (std::size_t i = 0; i < n && std::getline(in, line); ++i)
        v.push_back(line);
    return v;
}

// The sphere entries of a dictionary: "centre  (x y z);        radius  r;".
std::vector<Sphere> listed_spheres(const std::string &dict)
{
    std::vector<Sphere> v;
    for (std::size_t at = 0; (at = dict.find("centre  (", at)) != std::string::npos;) {
        Sphere s;
        std::sscanf(dict.c_str() + at, "centre  (%lf %lf %lf);        radius  %lf",
                    &s.centre[0], &s.centre[1], &s.centre[2], &s.radius);
        v.push_back(s);
        ++at;
    }
    return v;
}

bool inside(const Vec &c, const Sphere &s)
{
    double d2 = 0;
    for (int k = 0; k < 3; ++k)
        d2 += (c[k] - s.centre[k]) * (c[k] - s.centre[k]);
    return d2 <= s.radius * s.radius;
}

bool in_box(const Vec &c)
{
    for (int k = 0; k < 3; ++k)
        if (c[k] < kBoxMin[k] || c[k] > kBoxMax[k])
            return false;
    return true;
}

void road(const char *program, const char *field, const char *deflt, const char *region)
{
    if (!toolchain_present()) {
        if (std::getenv("CASETOOLS_REQUIRE_OPENFOAM"))
            FAIL() << "blockMesh and setFields are required here but not installed";
        GTEST_SKIP() << "OpenFOAM's blockMesh and setFields are not installed "
                        "(Debian: apt-get install openfoam); the end-to-end test is skipped";
    }
    setenv("WM_PROJECT_DIR", "/usr/share/openfoam", 0);
    CaseDir c;
    c.mkdir("constant");
    ASSERT_EQ(c.sh("cp -r '" EXAMPLE_CASE "/system' . && mkdir 0 && cp '" EXAMPLE_CASE
                   "/0/" + std::string(field) + "' 0/").status, 0);
    std::string dump0 = dump_header();
    for (const Sphere &s : kSpheres) {
        char line[160];
        std::snprintf(line, sizeof line, "%.9g\t%.9g\t%.9g\t%.9g\n", s.centre[0], s.centre[1],
                      s.centre[2], s.radius);
        dump0 += line;
    }
    c.write("dump0.txt", dump0);

    Outcome cut = c.run("headcut");
    ASSERT_EQ(cut.status, 0) << cut.err;
    EXPECT_EQ(cut.out, "30");
    Outcome gen = c.run(program);
    ASSERT_EQ(gen.status, 0) << gen.err;
    EXPECT_EQ(gen.out.rfind("12T1A1B2A2B", 0), 0u);
    for (const char *step : {"blockMesh", "setFields", "postProcess -func writeCellCentres -time 0"}) {
        Outcome o = c.sh(step);
        ASSERT_EQ(o.status, 0) << step << ":\n" << o.out << o.err;
    }

    std::vector<Sphere> listed = listed_spheres(c.read("system/setFieldsDict"));
    ASSERT_EQ(listed.size(), std::size(kSpheres) - 1);
    for (std::size_t i = 0; i < listed.size(); ++i)
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(listed[i].centre[k], kSpheres[i + 1].centre[k], 5e-7);

    std::vector<std::string> cx = internal_field(c.read("0/Cx"), 0);
    std::vector<std::string> cy = internal_field(c.read("0/Cy"), 0);
    std::vector<std::string> cz = internal_field(c.read("0/Cz"), 0);
    ASSERT_EQ(cx.size(), 2800u);
    ASSERT_EQ(cy.size(), cx.size());
    ASSERT_EQ(cz.size(), cx.size());
    std::vector<std::string> values = internal_field(c.read(std::string("0/") + field), cx.size());
    ASSERT_EQ(values.size(), cx.size());

    int set = 0, first_only = 0, spheres_outside_box = 0;
    for (std::size_t i = 0; i < cx.size(); ++i) {
        Vec centre{std::stod(cx[i]), std::stod(cy[i]), std::stod(cz[i])};
        bool want = in_box(centre);
        bool by_sphere = false;
        for (const Sphere &s : listed)
            by_sphere = by_sphere || inside(centre, s);
        if (by_sphere && !want)
            ++spheres_outside_box;
        want = want || by_sphere;
        if (!want && inside(centre, kSpheres[0]))
            ++first_only;
        set += want;
        ASSERT_EQ(values[i], want ? region : deflt)
            << "cell " << i << " at (" << cx[i] << " " << cy[i] << " " << cz[i] << ")";
    }
    // the checks above meant something: all three kinds of cells exist
    EXPECT_GT(first_only, 0);
    EXPECT_GT(spheres_outside_box, 20);
    EXPECT_GT(set, 400);
}

}  // namespace

TEST(SetFields, OrbfillSetsAlphaPhase1) { road("orbfill", "alpha.phase1", "0", "1"); }

TEST(SetFields, OrbtintSetsH) { road("orbtint", "h", "140878", "586500"); }
