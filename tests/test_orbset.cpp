// orbset: numbers read as each OpenFOAM release reads them, the mesh in every form
// OpenFOAM writes it, and every malformed input refused in one line that
// names the file and the line.
#include <gtest/gtest.h>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "casedir.h"
#include "oracle.h"
#include "release_reference.h"
#include "foam/bad.h"
#include "foam/geometry.h"
#include "foam/polymesh.h"
#include "foam/scalar.h"
#include "foam/text.h"

namespace {

#ifdef CASETOOLS_SANITIZE
constexpr long kRandomDecimals = 100000;
#else
constexpr long kRandomDecimals = 1000000;
#endif

std::uint64_t bits(double d)
{
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// OpenFOAM 1912's ScalarRead, literally: strtold, the range and the
// conversion checked, then values within VSMALL of 0 taken as 0 and the
// rest narrowed to double.
struct Reference {
    bool ok;
    double value;
};
Reference strtold_narrowed(const std::string &s)
{
    const long double vsmall = 1.0e-300, vgreat = 1.0e+300;
    char *end = nullptr;
    errno = 0;
    long double v = std::strtold(s.c_str(), &end);
    if (errno || end != s.c_str() + s.size() || end == s.c_str() || v < -vgreat || v > vgreat)
        return {false, 0};
    return {true, (v >= -vsmall && v <= vsmall) ? 0.0 : static_cast<double>(v)};
}

// The Foundation's readScalar (doubleScalar.H), literally: strtod, the
// token taken whole. Its infinity, beyond the largest double, orbset
// refuses.
Reference strtod_once(const std::string &s)
{
    char *end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (*end || std::isinf(v))
        return {false, 0};
    return {true, v};
}

// The Foundation's ISstream reads a token of '-' and digits as an int32
// (Foam::read of ints/int32IO.C) before readScalar; from 12 on, as int32,
// uint32, int64 or uint64, the first that takes it.
Reference integers_then_strtod(const std::string &s, bool wide)
{
    const bool integer = s.find_first_not_of("0123456789", s[0] == '-') == std::string::npos &&
                         s.size() > (s[0] == '-');
    char *end = nullptr;
    if (integer) {
        errno = 0;
        const std::intmax_t i = std::strtoimax(s.c_str(), &end, 10);
        if (!*end && !errno && i >= INT32_MIN && i <= INT32_MAX)
            return {true, static_cast<double>(i)};
        if (!wide)
            return strtod_once(s);
        errno = 0;
        const std::uintmax_t u = std::strtoumax(s.c_str(), &end, 10);
        if (!*end && !errno && u <= UINT32_MAX)
            return {true, static_cast<double>(u)};
        errno = 0;
        const std::intmax_t i64 = std::strtoimax(s.c_str(), &end, 10);
        if (!*end && !errno)
            return {true, static_cast<double>(i64)};
        errno = 0;
        const std::uintmax_t u64 = std::strtoumax(s.c_str(), &end, 10);
        if (!*end && !errno)
            return {true, static_cast<double>(u64)};
    }
    return strtod_once(s);
}
Reference int32_then_strtod(const std::string &s) { return integers_then_strtod(s, false); }
Reference wide_then_strtod(const std::string &s) { return integers_then_strtod(s, true); }

// A release's reading, and the reference that follows its source.
struct ReadingRow {
    const char *name;
    foam::Reading reading;
    Reference (*reference)(const std::string &);
};

const ReadingRow kReadings[] = {
    {"esi", {}, strtold_narrowed},
    {"foundation_8", {true, false, false, false}, int32_then_strtod},
    {"foundation_12", {true, true, true, false}, wide_then_strtod},
};

// The reading of a row for one test, Debian's after it.
struct Reading {
    explicit Reading(const foam::Reading &r) { foam::set_reading(r); }
    ~Reading() { foam::set_reading({}); }
};

// The number token s as orbset reads it, from a text padded with NULs as
// every text read is.
foam::Converted converted(const std::string &s)
{
    static std::string padded;
    padded = s + std::string(16, '\0');
    foam::Converted c = foam::convert_number(padded.c_str());
    c.end = s.c_str() + (c.end - padded.c_str());
    return c;
}

void expect_as_openfoam(const std::string &s, Reference (*reference)(const std::string &))
{
    foam::Converted got = converted(s);
    Reference want = reference(s);
    ASSERT_EQ(got.status == foam::Conv::ok, want.ok) << s;
    ASSERT_EQ(got.end, s.c_str() + s.size()) << s;
    if (want.ok) {
        ASSERT_EQ(bits(got.value), bits(want.value)) << s;
    }
}

// A decimal of `digits` significant digits with the point and the
// exponent placed at random, in the forms a mesh or a dictionary holds.
std::string random_decimal(std::mt19937_64 &rng, int digits)
{
    std::string m;
    for (int i = 0; i < digits; ++i)
        m += static_cast<char>('0' + rng() % 10);
    if (m[0] == '0')
        m[0] = '1';
    std::string s = rng() % 2 ? "-" : "";
    auto point = static_cast<std::size_t>(rng() % static_cast<unsigned>(digits + 2));
    if (point == 0)
        s.append("0.");
    s.append(m);
    if (point > 0 && point <= m.size())
        s.insert(s.size() - m.size() + point, 1, '.');
    if (rng() % 2) {
        s.push_back(rng() % 2 ? 'e' : 'E');
        s.append(std::to_string(static_cast<int>(rng() % 81) - 40));
    }
    return s;
}

}  // namespace

// ---- numbers ---------------------------------------------------------------

class OrbsetNumbers : public ::testing::TestWithParam<ReadingRow> {};

TEST_P(OrbsetNumbers, RandomDecimals)
{
    Reading as(GetParam().reading);
    std::mt19937_64 rng(1912);
    for (long i = 0; i < kRandomDecimals; ++i)
        expect_as_openfoam(random_decimal(rng, 1 + static_cast<int>(rng() % 25)),
                           GetParam().reference);
}

// Decimals next to the midpoint of two neighbouring doubles: where rounding
// twice (to long double, then to double) and rounding once part.
TEST_P(OrbsetNumbers, NearMidpointsOfDoubles)
{
    Reading as(GetParam().reading);
    std::mt19937_64 rng(26);
    long readings_differ = 0;
    for (long i = 0; i < kRandomDecimals / 4; ++i) {
        double d = std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 80) - 100);
        long double mid = (static_cast<long double>(d) + std::nextafter(d, 1e300)) / 2;
        char s[64];
        std::snprintf(s, sizeof s, "%.*Le", static_cast<int>(16 + rng() % 3), mid);
        expect_as_openfoam(s, GetParam().reference);
        if (std::strtod(s, nullptr) != strtold_narrowed(s).value)
            ++readings_differ;
    }
    // the cases do reach double rounding
    EXPECT_GT(readings_differ, 100);
}

TEST_P(OrbsetNumbers, HandPicked)
{
    Reading as(GetParam().reading);
    const char *cases[] = {
        "0", "-0", "-0.0", "0.0e-999", "00000000000000000001", // zero and signs
        "0.1", "1e-5", "0.00001", "-0.000235", "1.0", "5.", ".5", "-.5",
        "2147483647", "2147483648", "-2147483648", "-2147483649",  // label bounds
        "9007199254740993", "9007199254740993e-16",               // 2^53 + 1
        "9999999999999999999", "9999999999999999999e27", "9999999999999999999e-27",
        "1e27", "1e28", "1e-27", "1e-28", "12345678901234567890",  // fast path edges
        "1e-300", "-1e-300", "1.0000000000000001e-300", "1e-301", "1e-320", // VSMALL
        "1.00000000000000002506e-300", "-1.00000000000000002506e-300",      // it, widened
        "1e300", "1.0000001e300", "-1e301", "1e5000", "1e-5000",          // VGREAT, range
        "1.00000000000000011102230246251565404236316680908203125",          // halfway
        "1.000000000000000111022302462515654042363166809082031250001",
        "4294967295", "-9223372036854775809", "-10000000000000000000",      // 64-bit integers
        "-18446744073709551615", "-18446744073709551616", "18446744073709551616",
        "1e", "1e+", "1.2.3", "1-2", "1e5e5", "-", ".", "-.", "--1", "1..", // not numbers
    };
    for (const char *s : cases)
        expect_as_openfoam(s, GetParam().reference);
    const bool foundation = GetParam().reading.one_rounding;
    EXPECT_EQ(bits(converted("-0.0").value), bits(foundation ? -0.0 : 0.0));
    EXPECT_TRUE(converted("-2147483648").is_label);
    EXPECT_FALSE(converted("2147483648").is_label);
    EXPECT_FALSE(converted("1.0").is_label);
    std::string long_token(128, '1');
    EXPECT_EQ(converted(long_token).status,
              GetParam().reading.any_length ? foam::Conv::ok : foam::Conv::too_long);
    EXPECT_EQ(converted(long_token.substr(1)).status, foam::Conv::ok);
}

INSTANTIATE_TEST_SUITE_P(Releases, OrbsetNumbers, ::testing::ValuesIn(kReadings),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- the mesh ----------------------------------------------------------------

namespace {

// Two unit hexahedra side by side along x: 12 points, 1 internal face and
// 10 boundary faces in two patches.
const std::vector<std::vector<int>> kFaces = {
    {1, 4, 10, 7},                                                 // internal
    {0, 6, 9, 3}, {2, 5, 11, 8},                                   // ends
    {0, 1, 7, 6}, {3, 9, 10, 4}, {0, 3, 4, 1}, {6, 7, 10, 9},      // sides of cell 0
    {1, 2, 8, 7}, {4, 10, 11, 5}, {1, 4, 5, 2}, {7, 8, 11, 10},    // sides of cell 1
};
const std::vector<int> kOwner = {0, 0, 1, 0, 0, 0, 0, 1, 1, 1, 1};
const std::vector<int> kNeighbour = {1};

std::vector<double> point_coordinates()
{
    std::vector<double> xyz;
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 3; ++i)
                for (double v : {0.1 * i, 0.1 * j, 0.1 * k})
                    xyz.push_back(v);
    return xyz;
}

// How a test case writes its mesh files.
struct MeshForm {
    bool binary = false;
    int label_bytes = 4;
    bool compact = false;  // faces as faceCompactList
};

std::string header(const std::string &cls, const std::string &object, const MeshForm &f)
{
    std::string arch = f.label_bytes == 8 ? "LSB;label=64;scalar=64" : "LSB;label=32;scalar=64";
    return "/*--------------------------------*- C++ -*----------------------------------*\\\n"
           "  =========                 |\n"
           "\\*---------------------------------------------------------------------------*/\n"
           "FoamFile\n{\n    version     2.0;\n    format      " +
           std::string(f.binary ? "binary" : "ascii") + ";\n    class       " + cls +
           ";\n" + (f.binary ? "    arch        \"" + arch + "\";\n" : "") +
           "    location    \"constant/polyMesh\";\n    object      " + object +
           ";\n}\n// * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * * //\n\n";
}

template <class T>
std::string raw(const std::vector<T> &v)
{
    return std::string(reinterpret_cast<const char *>(v.data()), v.size() * sizeof(T));
}

std::string label_list(const std::vector<int> &v, const MeshForm &f)
{
    std::string s = "\n" + std::to_string(v.size()) + "\n";
    if (f.binary) {
        if (v.empty())
            return s;
        if (f.label_bytes == 8)
            return s + "(" + raw(std::vector<std::int64_t>(v.begin(), v.end())) + ")\n";
        return s + "(" + raw(v) + ")\n";
    }
    s += "(\n";
    for (int l : v)
        s += std::to_string(l) + "\n";
    return s + ")\n";
}

std::string points_file(const MeshForm &f)
{
    std::vector<double> xyz = point_coordinates();
    std::string s = header("vectorField", "points", f) + std::to_string(xyz.size() / 3) + "\n(";
    if (f.binary)
        return s + raw(xyz) + ")\n";
    s += "\n";
    char buf[100];
    for (std::size_t i = 0; i < xyz.size(); i += 3) {
        std::snprintf(buf, sizeof buf, "(%.17g %.17g %.17g)\n", xyz[i], xyz[i + 1], xyz[i + 2]);
        s += buf;
    }
    return s + ")\n";
}

std::string faces_file(const MeshForm &f)
{
    if (f.compact) {
        std::vector<int> start{0}, labels;
        for (const auto &face : kFaces) {
            labels.insert(labels.end(), face.begin(), face.end());
            start.push_back(static_cast<int>(labels.size()));
        }
        return header("faceCompactList", "faces", f) + label_list(start, f) + label_list(labels, f);
    }
    std::string s = header("faceList", "faces", f) + std::to_string(kFaces.size()) + "\n(\n";
    for (const auto &face : kFaces) {
        if (f.binary) {
            s += label_list(face, f);
            continue;
        }
        s += std::to_string(face.size()) + "(";
        for (std::size_t i = 0; i < face.size(); ++i)
            s += (i ? " " : "") + std::to_string(face[i]);
        s += ")\n";
    }
    return s + ")\n";
}

const char *const kBoundary =
    "2\n(\n    ends\n    {\n        type            patch;\n        nFaces          2;\n"
    "        startFace       1;\n    }\n    sides\n    {\n        type            wall;\n"
    "        inGroups        List<word> 1(wall);\n        nFaces          8;\n"
    "        startFace       3;\n    }\n)\n";

// Writes the mesh of the two cells into case c.
void write_mesh(const CaseDir &c, const MeshForm &f)
{
    c.mkdir("constant/polyMesh");
    c.write("constant/polyMesh/points", points_file(f));
    c.write("constant/polyMesh/faces", faces_file(f));
    c.write("constant/polyMesh/owner", header("labelList", "owner", f) + label_list(kOwner, f));
    c.write("constant/polyMesh/neighbour",
            header("labelList", "neighbour", f) + label_list(kNeighbour, f));
    c.write("constant/polyMesh/boundary", header("polyBoundaryMesh", "boundary", f) + kBoundary);
}

void expect_two_cells(const foam::Mesh &m)
{
    std::vector<double> xyz = point_coordinates();
    ASSERT_EQ(m.points.size() * 3, xyz.size());
    for (std::size_t i = 0; i < m.points.size(); ++i) {
        EXPECT_EQ(m.points[i].x, xyz[3 * i]);
        EXPECT_EQ(m.points[i].y, xyz[3 * i + 1]);
        EXPECT_EQ(m.points[i].z, xyz[3 * i + 2]);
    }
    std::vector<int> start{0}, labels;
    for (const auto &face : kFaces) {
        labels.insert(labels.end(), face.begin(), face.end());
        start.push_back(static_cast<int>(labels.size()));
    }
    EXPECT_EQ(m.face_start, start);
    EXPECT_EQ(m.face_points, labels);
    EXPECT_EQ(m.owner, kOwner);
    EXPECT_EQ(m.neighbour, kNeighbour);
    EXPECT_EQ(m.n_cells, 2);
    ASSERT_EQ(m.patches.size(), 2u);
    EXPECT_EQ(m.patches[1].name, "sides");
    EXPECT_EQ(m.patches[1].type, "wall");
    EXPECT_EQ(m.patches[1].start, 3);
    EXPECT_EQ(m.patches[1].size, 8);
}

// Writes the mesh with `from` in `file` replaced by `to` (to_size bytes of
// it, when it holds NULs), or cut off before `from` when `to` is null.
void write_edited_mesh(const CaseDir &c, const MeshForm &form, const char *file,
                       const std::string &from, const char *to, std::size_t to_size = 0)
{
    write_mesh(c, form);
    std::string path = "constant/polyMesh/" + std::string(file);
    std::string text = c.read(path);
    auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    if (!to)
        text.resize(at);
    else
        text.replace(at, from.size(), to, to_size ? to_size : std::strlen(to));
    c.write(path, text);
}

std::string read_mesh_failure(const CaseDir &c)
{
    try {
        foam::read_mesh(c.path());
    } catch (const foam::Bad &e) {
        return e.what();
    }
    return "<read>";
}

}  // namespace

// Every form OpenFOAM writes gives the same mesh.
TEST(OrbsetMesh, EveryForm)
{
    struct Row {
        const char *why;
        MeshForm form;
        bool gzip;
    } rows[] = {
        {"ascii as blockMesh writes it", {}, false},
        {"binary, 32-bit labels, faces compact", {true, 4, true}, false},
        {"binary, 64-bit labels", {true, 8, true}, false},
        {"binary faceList, a list per face (older writers)", {true, 4, false}, false},
        {"ascii faceCompactList", {false, 4, true}, false},
        {"every file compressed, ascii", {}, true},
        {"every file compressed, binary", {true, 4, true}, true},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.why);
        CaseDir c;
        write_mesh(c, r.form);
        if (r.gzip)
            c.sh("gzip constant/polyMesh/points constant/polyMesh/faces constant/polyMesh/owner "
                 "constant/polyMesh/neighbour");
        expect_two_cells(foam::read_mesh(c.path()));
    }
}

// What hand-written and older files hold, read as OpenFOAM reads it.
TEST(OrbsetMesh, TextForms)
{
    struct Row {
        const char *why, *file, *from, *to;
        MeshForm form = {};
    } rows[] = {
        {"comments anywhere", "owner", "\n(\n0\n0\n1", "// c\n/* c */(/**/0//\n0\n1"},
        {"a list of one value repeated", "owner", "\n(\n0\n0\n1\n0\n0\n0\n0\n1\n1\n1\n1\n)",
         "(0 0 1 0 0 0 0 1 1 1 1)"},
        {"N{value}", "neighbour", "1\n(\n1\n)", "1{1}"},
        {"neighbour listed for every face, -1 past the internal ones", "neighbour",
         "1\n(\n1\n)", "11(1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1)"},
        {"a face over several lines", "faces", "4(1 4 10 7)", "4\n(\n1\n4\n10\n7\n)"},
        {"a face without its size", "faces", "4(1 4 10 7)", "(1 4 10 7)"},
        {"binary, arch without the label size: 32 bits", "owner", "LSB;label=32;scalar=64",
         "LSB;scalar=64", {true, 4, true}},
        {"a binary face with its '(' on the line of its size", "faces", "\n4\n(", "\n4(",
         {true, 4, false}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.why);
        CaseDir c;
        write_edited_mesh(c, r.form, r.file, r.from, r.to);
        expect_two_cells(foam::read_mesh(c.path()));
    }
}

// Each malformed mesh is refused in one line naming the file, and the line
// where the fault is.
TEST(OrbsetMesh, Refusals)
{
    struct Row {
        const char *why, *file, *from, *to, *message;
    } rows[] = {
        {"a point label past the points", "faces", "4(1 4 10 7)", "4(1 4 12 7)",
         "faces: line 16: point label 12 is out of range [0, 11]"},
        {"a negative point label", "faces", "4(1 4 10 7)", "4(1 -4 10 7)",
         "faces: line 16: point label -4 is out of range"},
        {"a face of two points", "faces", "4(1 4 10 7)", "2(1 4)", "faces: line 16: face 0 has 2"},
        {"a list cut short", "faces", "4(7 8 11 10)\n)", "4(7 8 11 10)\n",
         "faces: line 28: expected ')' closing the list of faces, found the end of the file"},
        {"a truncated file", "points", " 0.10000000000000001)\n)", nullptr,
         "points: line 27: expected a point (a number), found the end of the file"},
        {"a word among the numbers", "points", "(0 0 0)", "(0 zero 0)",
         "points: line 16: expected a point (a number), found 'zero'"},
        {"a number OpenFOAM does not take", "points", "(0 0 0)", "(0 1e 0)",
         "points: line 16: '1e' is not a number"},
        {"a size larger than the list", "owner", "11\n(", "12\n(",
         "owner: line 28: the list ends after 11 of its 12 items"},
        {"fewer owners than faces", "owner", "11\n(\n0\n", "10\n(\n",
         "owner lists 10 owners, "},
        {"a negative cell", "owner", "\n1\n1\n1\n1\n)", "\n1\n1\n1\n-1\n)",
         "owner: line 27: cell label -1 is out of range"},
        {"a cell with no face", "neighbour", "1\n(\n1\n)", "1\n(\n3\n)",
         "owner: cell 2 has no face"},
        {"a cell label far past the others", "neighbour", "1\n(\n1\n)", "1\n(\n2000000000\n)",
         "neighbour: cell label 2000000000 where the faces name 12 cells at most"},
        {"-1 among the internal faces' neighbours", "neighbour", "1\n(\n1\n)", "2(1 -1)",
         "neighbour: cell label -1 for internal face 1"},
        {"patches not covering the boundary", "boundary", "nFaces          8", "nFaces          7",
         "boundary: the patches end at face 10, "},
        {"a patch starting elsewhere", "boundary", "startFace       3", "startFace       4",
         "boundary: patch sides starts at face 4 where face 3 is next"},
        {"a patch past the largest label: face numbers added without overflow", "boundary",
         "nFaces          8", "nFaces          2147483647",
         "boundary: the patches end at face 2147483650, "},
        {"a neighbour missing", "neighbour", "1\n(\n1\n)", "0\n(\n)",
         "neighbour lists 0 internal faces, "},
        {"a patch without its size", "boundary", "nFaces          2;", "",
         "boundary: line 16: patch ends lacks its type, nFaces or startFace"},
        {"the wrong class", "owner", "labelList", "faceList",
         "owner: line 1: class faceList where labelList is expected"},
        {"no header", "points", "FoamFile", "FoamFiles",
         "points: line 4: expected the header FoamFile { ... }, found 'FoamFiles'"},
        {"an unclosed comment", "owner", "\n(\n0\n", "\n(\n/*0\n", "owner: line 17: a comment /* ... is not closed"},
        {"content after the list", "owner", "1\n)\n", "1\n)\n)\n",
         "owner: line 29: unexpected ')' after the data"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.why);
        CaseDir c;
        write_edited_mesh(c, {}, r.file, r.from, r.to);
        std::string what = read_mesh_failure(c);
        EXPECT_NE(what.find(r.message), std::string::npos) << what;
        EXPECT_EQ(what.find('\n'), std::string::npos) << what;
    }
}

TEST(OrbsetMesh, BinaryRefusals)
{
    using namespace std::string_literals;  // binary patterns hold NULs
    struct Row {
        const char *why, *file;
        MeshForm form;
        std::string from;
        const char *to;  // nullptr: the file ends before `from`
        const char *message;
        std::size_t to_size = 0;  // of `to`, when it holds NULs
    } rows[] = {
        {"32-bit scalars", "points", {true, 4, true}, "scalar=64", "scalar=32",
         "points: line 9: arch \"LSB;label=32;scalar=32\": written by an OpenFOAM built with "
         "32-bit scalars"},
        {"big-endian", "owner", {true, 4, true}, "LSB", "MSB", "owner: line 9: arch \"MSB"},
        {"a label size past any integer", "owner", {true, 4, true}, "label=32", "label=-99999999999",
         "owner: line 9: arch \"LSB;label=-99999999999;scalar=64\": labels of -99999999999 bits "
         "are not read"},
        {"raw bytes cut short", "points", {true, 4, true}, "\x99\xb9\x3f)"s, nullptr,
         "points: line 15: the file ends after 11 of the 12 items of a list of vectors"},
        {"a 64-bit label past 32 bits", "owner", {true, 8, true}, "\x01\0\0\0\0\0\0\0"s,
         "\x01\0\0\0\x01\0\0\0", "owner: line 16: cell label 4294967297 (item 2) is out of range",
         8},
        {"a 32-bit point label past the points", "faces", {true, 4, true}, "\x0b\0\0\0"s,
         "\x0c\0\0\0", "faces: line 19: point label 12 (item 10) is out of range [0, 11]", 4},
        {"compact offsets past the labels", "faces", {true, 4, true}, "\x2c\0\0\0)"s,
         "\x2d\0\0\0)", "faces: line 17: the face offsets end at 45 but 44 point labels follow", 5},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.why);
        CaseDir c;
        write_edited_mesh(c, r.form, r.file, r.from, r.to, r.to_size);
        std::string what = read_mesh_failure(c);
        EXPECT_NE(what.find(r.message), std::string::npos) << what;
    }
}

TEST(OrbsetMesh, FileRefusals)
{
    CaseDir c;
    write_mesh(c, {});
    c.sh("rm constant/polyMesh/neighbour");
    EXPECT_NE(read_mesh_failure(c).find("constant/polyMesh/neighbour: no such file (nor "),
              std::string::npos);
    c.write("constant/polyMesh/neighbour.gz", "not gzip data");
    EXPECT_NE(read_mesh_failure(c).find("neighbour.gz: not readable as gzip data"),
              std::string::npos)
        << read_mesh_failure(c);
    c.sh("printf '" + std::string("x") + "' | gzip | head -c 12 > constant/polyMesh/neighbour.gz");
    EXPECT_NE(read_mesh_failure(c).find("neighbour.gz: the compressed data ends early"),
              std::string::npos)
        << read_mesh_failure(c);
}

// A mapped mesh file cut short while it is read ends the run in a line
// naming it: the file is found by an address in its bytes while it is
// mapped, and no longer once it is dropped.
TEST(OrbsetMesh, MappedFileFoundByAddress)
{
    auto named = [](const char *at) {
        const char *name = foam::mapped_file_at(at);
        return std::string(name ? name : "<none>");
    };
    CaseDir c;
    c.write("points", std::string(3 << 20, 'x'));
    const char *last;
    {
        foam::Text t = foam::map_text(c.at("points"));
        last = t.end() - 1;
        EXPECT_EQ(named(t.begin()), c.at("points"));
        EXPECT_EQ(named(last), c.at("points"));
        EXPECT_EQ(named(t.end()), "<none>");  // the zeros after it
    }
    EXPECT_EQ(named(last), "<none>");
}

// ---- the program -----------------------------------------------------------

namespace {

// A row of n hexahedra of 0.1 along x from x0: the cells' centres lie at
// x0 + 0.1 i + 0.05, y = z = 0.05. Patches: "ends" (the two end faces,
// each a processor patch instead where the row goes on in another
// processor's part) and "sides" (4 faces a cell, in groups wall and
// sideGroup).
struct Row {
    int n = 2;
    double x0 = 0;
    std::string left_proc, right_proc;  // names of processor patches at the ends
    int me = 0, left = 0, right = 0;    // processor numbers
};

std::string vec_text(double x, double y, double z)
{
    char buf[100];
    std::snprintf(buf, sizeof buf, "(%.17g %.17g %.17g)\n", x, y, z);
    return buf;
}

std::string face_text(std::initializer_list<int> p)
{
    std::string s = "4(";
    for (int v : p)
        s += std::to_string(v) + " ";
    s.back() = ')';
    return s + "\n";
}

std::string patch_text(const std::string &name, const std::string &type, int size, int start,
                       const std::string &extra = "")
{
    return name + "\n{\n    type " + type + ";\n" + extra + "    nFaces " + std::to_string(size) +
           ";\n    startFace " + std::to_string(start) + ";\n}\n";
}

void write_row_mesh(const CaseDir &c, const std::string &dir, const Row &r)
{
    MeshForm ascii;
    auto p = [](int i, int j, int k) { return 4 * i + j + 2 * k; };
    std::string points;
    for (int i = 0; i <= r.n; ++i)
        for (int k = 0; k < 2; ++k)
            for (int j = 0; j < 2; ++j)
                points += vec_text(r.x0 + 0.1 * i, 0.1 * j, 0.1 * k);
    std::string faces;
    std::vector<int> owner, neighbour;
    for (int i = 1; i < r.n; ++i) {
        faces += face_text({p(i, 0, 0), p(i, 1, 0), p(i, 1, 1), p(i, 0, 1)});
        owner.push_back(i - 1);
        neighbour.push_back(i);
    }
    std::string left = face_text({p(0, 0, 0), p(0, 0, 1), p(0, 1, 1), p(0, 1, 0)});
    std::string right = face_text({p(r.n, 0, 0), p(r.n, 1, 0), p(r.n, 1, 1), p(r.n, 0, 1)});
    int start = r.n - 1, ends = 0;
    if (r.left_proc.empty()) {
        faces += left;
        owner.push_back(0);
        ++ends;
    }
    if (r.right_proc.empty()) {
        faces += right;
        owner.push_back(r.n - 1);
        ++ends;
    }
    std::string boundary = patch_text("ends", "patch", ends, start);
    for (int i = 0; i < r.n; ++i) {
        faces += face_text({p(i, 0, 0), p(i + 1, 0, 0), p(i + 1, 0, 1), p(i, 0, 1)});
        faces += face_text({p(i, 1, 0), p(i, 1, 1), p(i + 1, 1, 1), p(i + 1, 1, 0)});
        faces += face_text({p(i, 0, 0), p(i, 1, 0), p(i + 1, 1, 0), p(i + 1, 0, 0)});
        faces += face_text({p(i, 0, 1), p(i + 1, 0, 1), p(i + 1, 1, 1), p(i, 1, 1)});
        owner.insert(owner.end(), 4, i);
    }
    boundary += patch_text("sides", "wall", 4 * r.n, start + ends,
                           "    inGroups 2(wall sideGroup);\n");
    int next = start + ends + 4 * r.n, patches = 2;
    auto proc = [&](const std::string &name, const std::string &face, int cell, int other) {
        faces += face;
        owner.push_back(cell);
        boundary += patch_text(name, "processor", 1, next++,
                               "    myProcNo " + std::to_string(r.me) + ";\n    neighbProcNo " +
                                   std::to_string(other) + ";\n");
        ++patches;
    };
    if (!r.left_proc.empty())
        proc(r.left_proc, left, 0, r.left);
    if (!r.right_proc.empty())
        proc(r.right_proc, right, r.n - 1, r.right);
    std::string d = dir.empty() ? "constant/polyMesh" : dir + "/constant/polyMesh";
    c.mkdir(d);
    c.write(d + "/points", header("vectorField", "points", ascii) +
                               std::to_string(4 * (r.n + 1)) + "\n(\n" + points + ")\n");
    c.write(d + "/faces", header("faceList", "faces", ascii) + std::to_string(owner.size()) +
                              "\n(\n" + faces + ")\n");
    c.write(d + "/owner", header("labelList", "owner", ascii) + label_list(owner, ascii));
    c.write(d + "/neighbour",
            header("labelList", "neighbour", ascii) + label_list(neighbour, ascii));
    c.write(d + "/boundary", header("polyBoundaryMesh", "boundary", ascii) +
                                 std::to_string(patches) + "\n(\n" + boundary + ")\n");
}

const char *const kControlHeader =
    "FoamFile { version 2.0; format ascii; class dictionary; object controlDict; }\n";
const std::string kControl =
    kControlHeader + std::string("startFrom startTime;\nstartTime 0;\nwritePrecision 6;\n"
                                 "functions { #includeFunc residuals }\n");

const char *const kDictHeader =
    "FoamFile { version 2.0; format ascii; class dictionary; object setFieldsDict; }\n";

// A region that takes exactly cell i of a row from x = 0.
std::string sphere_at(int i, const std::string &values)
{
    char buf[200];
    std::snprintf(buf, sizeof buf, "sphereToCell { centre (%.17g 0.05 0.05); radius 0.01; ", 0.1 * i + 0.05);
    return buf + std::string("fieldValues (") + values + "); }\n";
}

std::string field_text(const std::string &internal, const std::string &patches,
                       const std::string &format = "ascii")
{
    return "FoamFile\n{\n    version 2.0;\n    format " + format +
           ";\n    class volScalarField;\n    object alpha;\n}\n"
           "dimensions [0 0 0 0 0 0 0];\n\ninternalField   " +
           internal + ";\n\nboundaryField\n{\n" + patches + "}\n";
}

const char *const kPlainPatches = "    ends { type calculated; value uniform 0; }\n"
                                  "    sides { type zeroGradient; }\n";

// A case of a row of n cells: mesh, controlDict, setFieldsDict and 0/alpha.
void write_case(const CaseDir &c, const std::string &dict, const std::string &field, int n = 2)
{
    Row r;
    r.n = n;
    write_row_mesh(c, "", r);
    c.mkdir("system");
    c.mkdir("0");
    c.write("system/controlDict", kControl);
    c.write("system/setFieldsDict", kDictHeader + dict);
    c.write("0/alpha", field);
}

// orbset's run ended in one line on standard error holding `what`, exit 1,
// and 0/alpha as it was.
// Standard error without the warning of spheres the mesh does not resolve,
// which the tests' spheres of one cell each give.
std::string other_lines(const std::string &err)
{
    std::string out, line;
    for (std::size_t at = 0; at < err.size();) {
        std::size_t nl = err.find('\n', at);
        line = err.substr(at, nl == std::string::npos ? std::string::npos : nl + 1 - at);
        if (line.find("the mesh does not resolve those particles") == std::string::npos)
            out += line;
        at = nl == std::string::npos ? err.size() : nl + 1;
    }
    return out;
}

void expect_refusal(const CaseDir &c, const Outcome &r, const std::string &what,
                    const std::string &field)
{
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("orbset: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(what), std::string::npos) << r.err;
    EXPECT_EQ(c.read("0/alpha"), field);
    EXPECT_EQ(c.sh("ls -A 0 | grep -c '^[.]'").out, "0\n") << "a temporary file left behind";
}

}  // namespace

// What the field file holds after a run, as OpenFOAM 1912's setFields
// writes it (the bytes around the values as the file had them).
TEST(OrbsetRun, WritesTheValuesAsSetFields)
{
    struct Case {
        const char *why;
        std::string dict, patches;
        std::vector<std::string> want;  // fragments of the new file, in order
        int n = 2;
        std::string internal = "uniform 0";
        std::string control = "";  // appended to controlDict
        bool bare_control = false; // a controlDict of startFrom and startTime alone
        const char *release = "v1912";
    } rows[] = {
        {"a type setFields does not know takes the cells' values, as its generic patch "
         "field; zeroGradient loses the value it does not write",
         "regions (" + sphere_at(1, "volScalarFieldValue alpha 1") + ");",
         "    ends { type funnyWall; value uniform 4; }\n    sides { type zeroGradient; value uniform 0; }\n",
         {"ends { type funnyWall; value nonuniform List<scalar> 2(0 1); }",
          "sides { type zeroGradient;  }"}},
        {"origin and centre in one sphere: origin, as setFields",
         "regions (sphereToCell { origin (0.05 0.05 0.05); centre (0.15 0.05 0.05); radius 0.01; "
         "fieldValues (volScalarFieldValue alpha 1); });", kPlainPatches, {"2(1 0);"}},
        {"10 values on one line", "regions (" + sphere_at(3, "volScalarFieldValue alpha 1") + ");",
         kPlainPatches, {"internalField   nonuniform List<scalar> 10(0 0 0 1 0 0 0 0 0 0);"}, 10},
        {"the last region to take a cell sets it, whatever their places",
         "regions (sphereToCell { centre (0.25 0.05 0.05); radius 0.15; fieldValues "
         "(volScalarFieldValue alpha 1); }\n" "sphereToCell { centre (0.05 0.05 0.05); radius 0.15; "
         "fieldValues (volScalarFieldValue alpha 2); });", kPlainPatches, {"3(2 2 1);"}, 3},
        {"extrapolatedCalculated takes the cells' values",
         "regions (" + sphere_at(1, "volScalarFieldValue alpha 1") + ");",
         "    ends { type extrapolatedCalculated; value uniform 0; }\n    sides { type zeroGradient; }\n",
         {"ends { type extrapolatedCalculated; value nonuniform List<scalar> 2(0 1); }"}},
        {"writeFormat binary: a value in the digits that strtold reads back as it, the "
         "shortest where it reads back",
         "regions (" + sphere_at(0, "volScalarFieldValue alpha 0.34076181461573257") +
             sphere_at(1, "volScalarFieldValue alpha 0.1") + ");",
         kPlainPatches, {"2(0.34076181461573257 0.1);"}, 2, "uniform 0", "writeFormat binary;"},
        {"no writePrecision: 6 digits", "regions (" + sphere_at(0, "volScalarFieldValue alpha 0.123456789") + ");",
         kPlainPatches, {"2(0.123457 0);"}, 2, "uniform 0", "", true},
        {"writeFormat ASCII: ascii, as any word but binary",
         "regions (" + sphere_at(0, "volScalarFieldValue alpha 0.123456789") + ");", kPlainPatches,
         {"2(0.123457 0);"}, 2, "uniform 0", "writeFormat ASCII;"},
        {"every cell the same: uniform, and so the calculated patch",
         "defaultFieldValues (volScalarFieldValue alpha 0.5);\nregions ();\n", kPlainPatches,
         {"internalField   uniform 0.5;", "ends { type calculated; value uniform 0.5; }",
          "sides { type zeroGradient; }"}},
        {"a sphere sets one cell: a short list on one line; the patch takes its cells' values",
         "regions (" + sphere_at(1, "volScalarFieldValue alpha 1") + ");", kPlainPatches,
         {"internalField   nonuniform List<scalar> 2(0 1);",
          "value nonuniform List<scalar> 2(0 1); }"}},
        {"more than 10 values: one a line",
         "regions (" + sphere_at(3, "volScalarFieldValue alpha 1") + ");", kPlainPatches,
         {"nonuniform List<scalar> \n12\n(\n0\n0\n0\n1\n0\n0\n0\n0\n0\n0\n0\n0\n)\n;"}, 12},
        {"writePrecision 6 as %g; the last region to take a cell sets it",
         "regions (" + sphere_at(0, "volScalarFieldValue alpha 0.123456789") +
             sphere_at(0, "volScalarFieldValue alpha 2.000000001") + ");",
         kPlainPatches, {"2(2 0);", "2(2 0); }"}},
        {"a box and a default",
         "defaultFieldValues (volScalarFieldValue alpha -1);\n"
         "regions (boxToCell { box (0.1 0 0) (0.3 0.1 0.1); fieldValues (volScalarFieldValue alpha 7); });",
         kPlainPatches, {"2(-1 7);"}},
        {"a patch by pattern gets an entry of its own; the pattern stays",
         "regions (" + sphere_at(1, "volScalarFieldValue alpha 1") + ");",
         "    \".*\" { type calculated; value uniform 0; }\n",
         {"\".*\" { type calculated; value uniform 0; }\n",
          "    ends\n    { type calculated; value nonuniform List<scalar> 2(0 1); }\n",
          "    sides\n    { type calculated; value nonuniform List<scalar> 8(0 0 0 0 1 1 1 1); }\n}"}},
        {"a patch by its group, the last group entry first",
         "defaultFieldValues (volScalarFieldValue alpha 3);\nregions ();\n",
         "    ends { type fixedValue; value uniform 0.5; }\n"
         "    wall { type fixedValue; value uniform 9; }\n    \"s.*\" { type zeroGradient; }\n"
         "    sideGroup { type calculated; value uniform 0; }\n",
         {"ends { type fixedValue; value uniform 0.5; }",
          "    sides\n    { type calculated; value uniform 3; }\n}"}},
        {"$internalField in a value that stays: the old value",
         "defaultFieldValues (volScalarFieldValue alpha 3);\nregions ();\n",
         "    ends { type inletOutlet; inletValue $internalField; value $internalField; }\n"
         "    sides { type zeroGradient; }\n",
         {"internalField   uniform 3;",
          "ends { type inletOutlet; inletValue uniform 0; value uniform 0; }"}},
        {"the values of a nonuniform field stay where no region comes",
         "regions (" + sphere_at(0, "volScalarFieldValue alpha 1") + ");", kPlainPatches,
         {"internalField   nonuniform List<scalar> 3(1 0.25 0.5);"}, 3,
         "nonuniform List<scalar> 3(0 0.25 0.5)"},
        {"comments and layout kept",
         "defaultFieldValues (volScalarFieldValue alpha 3);\nregions ();\n",
         "    // the inlet\n    ends /* c */ { type calculated; value uniform 0; }\n"
         "    sides { type zeroGradient; }\n",
         {"// the inlet\n    ends /* c */ { type calculated; value uniform 3; }"}},
        {"a cyclic patch writes no value; one cut by decomposePar, processorCyclic, takes the "
         "adjacent cells' values",
         "regions (" + sphere_at(1, "volScalarFieldValue alpha 1") + ");",
         "    ends { type processorCyclic; value uniform 0; }\n    sides { type cyclic; }\n",
         {"ends { type processorCyclic; value nonuniform List<scalar> 2(0 1); }",
          "sides { type cyclic; }"}},
        {"stray ';' where OpenFOAM skips them: in the dictionary, between regions, in the "
         "field, in controlDict",
         ";\ndefaultFieldValues (volScalarFieldValue alpha 3);;\nregions (" +
             sphere_at(0, "volScalarFieldValue alpha 2") + ";" +
             sphere_at(1, "volScalarFieldValue alpha 1") + ");;",
         "    ends { type calculated;; value uniform 0; };\n    ;sides { type zeroGradient; }\n",
         {"2(2 1);", "ends { type calculated;; value nonuniform List<scalar> 2(2 1); };"}, 2,
         "uniform 0", ";;\n"},
        {"writeFormat binary: every digit, as setFields keeps them in binary, of the values "
         "it sets and of the old ones",
         "regions (" + sphere_at(0, "volScalarFieldValue alpha 0.123456789") + ");", kPlainPatches,
         {"2(0.123456789 0.1234567891234);"}, 2, "nonuniform List<scalar> 2(0 0.1234567891234)",
         "writeFormat binary;"},
        {"origin and centre in one sphere: centre, as the Foundation's setFields",
         "regions (sphereToCell { origin (0.05 0.05 0.05); centre (0.15 0.05 0.05); radius 0.01; "
         "fieldValues (volScalarFieldValue alpha 1); });", kPlainPatches, {"2(0 1);"}, 2,
         "uniform 0", "", false, "12"},
        {"a box of min and span, ESI's from v2112 on",
         "regions (boxToCell { min (0 0 0); span (0.1 0.1 0.1); fieldValues (volScalarFieldValue "
         "alpha 1); });", kPlainPatches, {"2(1 0);"}, 2, "uniform 0", "", false, "v2112"},
        {"the field's class as its type word, ESI's from v2212 on",
         "regions (" + sphere_at(1, "volScalarField alpha 1") + ");", kPlainPatches, {"2(0 1);"},
         2, "uniform 0", "", false, "v2212"},
        {"a sign of its own, ESI's from v2106 on: 0 - x, so that - 0 is 0",
         "regions (" + sphere_at(0, "volScalarFieldValue alpha - 2") +
             sphere_at(1, "volScalarFieldValue alpha - 0") + ");",
         kPlainPatches, {"2(-2 0);"}, 2, "uniform 3", "", false, "v2106"},
        {"#includeIfPresent and #sinclude of files that are not there; a comment closed by **/",
         "#includeIfPresent \"nothing_here\"\n#sinclude \"nor_here\"\n/** the spheres **/\nregions (" +
             sphere_at(1, "volScalarFieldValue alpha 1") + ");",
         kPlainPatches, {"2(0 1);"}},
        {"the last region to take a cell sets it also where the regions are shared out over "
         "threads, 64 a thread, in the order of their places (here the last 64 first)",
         [] {
             std::string d = "regions (";
             for (int i = 0; i < 128; ++i)
                 d += std::string("sphereToCell { centre (") + (i < 64 ? "0.06" : "0.04") +
                      " 0.05 0.05); radius 0.015; fieldValues (volScalarFieldValue alpha " +
                      (i < 64 ? "1" : "2") + "); }\n";
             return d + ");";
         }(),
         kPlainPatches, {"2(2 0);"}},
        {"a variable that stands for nothing",
         "x ;\ny $x;\ndefaultFieldValues (volScalarFieldValue alpha 3);\nregions ();\n",
         kPlainPatches, {"uniform 3;"}},
        {"no regions, the Foundation's 13",
         "defaultFieldValues (volScalarFieldValue alpha 3);", kPlainPatches, {"uniform 3;"}, 2,
         "uniform 0", "", false, "13"},
        {"epsilonWallFunction, its library loaded: the cells' values of before the last region, "
         "here the first region's",
         "regions (" + sphere_at(0, "volScalarFieldValue alpha 1") +
             sphere_at(0, "volScalarFieldValue alpha 2") + ");",
         "    ends { type epsilonWallFunction; value uniform 0; }\n    sides { type zeroGradient; }\n",
         {"2(2 0);", "ends { type epsilonWallFunction; value nonuniform List<scalar> 2(1 0); }"}, 2,
         "uniform 0", "libs (\"libturbulenceModels.so\");"},
        {"a number of 140 characters, which the Foundation's from 9 on read",
         "regions (" + sphere_at(0, "volScalarFieldValue alpha 1." + std::string(138, '0')) + ");",
         kPlainPatches, {"2(1 0);"}, 2, "uniform 0", "", false, "9"},
        {"box and boxes in one region: box, as the Foundation's setFields",
         "regions (boxToCell { box (0 0 0) (0.1 1 1); boxes ((0 0 0) (1 1 1)); fieldValues "
         "(volScalarFieldValue alpha 1); });", kPlainPatches, {"2(1 0);"}, 2, "uniform 0", "",
         false, "8"},
        {"a cylinder of radius 0, which ESI's from v2206 on no longer refuse",
         "regions (cylinderToCell { p1 (0 0.05 0.05); p2 (0.1 0.05 0.05); radius 0; "
         "fieldValues (volScalarFieldValue alpha 1); });", kPlainPatches,
         {"internalField   uniform 0;"}, 2, "uniform 0", "", false, "v2206"},
        {"a cylinder of point1 and point2, the Foundation's from 9 on",
         "regions (cylinderToCell { point1 (0 0.05 0.05); point2 (0.1 0.05 0.05); radius 0.1; "
         "fieldValues (volScalarFieldValue alpha 1); });", kPlainPatches, {"2(1 0);"}, 2,
         "uniform 0", "", false, "9"},
    };
    for (const Case &row : rows) {
        SCOPED_TRACE(row.why);
        CaseDir c;
        write_case(c, row.dict, field_text(row.internal, row.patches), row.n);
        c.write("system/controlDict",
                (row.bare_control ? kControlHeader + std::string("startFrom startTime;\nstartTime 0;\n")
                                  : kControl) + row.control);
        Outcome r = c.run("orbset", std::string("-release ") + row.release);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(other_lines(r.err), "");
        std::string out = c.read("0/alpha");
        std::size_t at = 0;
        for (const std::string &w : row.want) {
            at = out.find(w, at);
            EXPECT_NE(at, std::string::npos) << "missing: " << w << "\nin:\n" << out;
        }
    }
}

TEST(OrbsetRun, BinaryAndCompressed)
{
    double two[2] = {0.25, 0.5};
    std::string raw_two(reinterpret_cast<const char *>(two), sizeof two);
    // a kept entry whose raw bytes hold ';' and '}' is skipped whole and kept
    double odd[8] = {0x1.7d7b7d7b7d7b7p-1022, 1, 2, 3, 4, 5, 6, 7};
    std::memcpy(reinterpret_cast<char *>(odd) + 3, ";}{(", 4);
    std::string raw_odd(reinterpret_cast<const char *>(odd), sizeof odd);
    std::string kept = "sides { type inletOutlet; inletValue nonuniform List<scalar> 8(" + raw_odd +
                       "); value uniform 0; }\n";
    // a patch of no face holds no list, as decomposePar writes it
    std::string none = "    none { type calculated; value nonuniform 0; }\n";
    std::string patches = "    ends { type calculated; value nonuniform List<scalar> 2(" + raw_two +
                          "); }\n    " + kept + none;
    CaseDir c;
    write_case(c, "regions (" + sphere_at(1, "volScalarFieldValue alpha 1") + ");",
               field_text("nonuniform List<scalar> 2(" + raw_two + ")", patches, "binary"));
    c.sh("perl -0pi -e 's/\\n2\\n\\(/\\n3\\n(/; s/\\)\\n$/none { type patch; nFaces 0; "
         "startFace 11; }\\n)\\n/' constant/polyMesh/boundary");
    Outcome r = c.run("orbset");
    ASSERT_EQ(r.status, 0) << r.err;
    double want[2] = {0.25, 1};
    std::string raw_want(reinterpret_cast<const char *>(want), sizeof want);
    std::string out = c.read("0/alpha");
    EXPECT_NE(out.find("internalField   nonuniform List<scalar> \n2\n(" + raw_want + ");"),
              std::string::npos);
    EXPECT_NE(out.find("ends { type calculated; value nonuniform List<scalar> \n2\n(" + raw_want +
                       "); }"),
              std::string::npos);
    EXPECT_NE(out.find(kept), std::string::npos);
    EXPECT_NE(out.find(none), std::string::npos);

    // compressed in, compressed out
    write_case(c, "defaultFieldValues (volScalarFieldValue alpha 2);\nregions ();", field_text("uniform 0", kPlainPatches));
    c.sh("gzip -f 0/alpha");
    r = c.run("orbset");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(c.exists("0/alpha"));
    EXPECT_NE(c.sh("zcat 0/alpha.gz").out.find("internalField   uniform 2;"), std::string::npos);
}

// The field found where setFields finds it: the start time's directory as
// Time names it, or constant.
TEST(OrbsetRun, StartTime)
{
    struct Case {
        const char *why, *control, *dirs, *written;
        const char *release = "v1912";
    } rows[] = {
        {"the latest time by default", "", "0 0.5 1e-05", "0.5/alpha"},
        {"latestTime", "startFrom latestTime;", "0 0.5 2", "2/alpha"},
        {"firstTime, constant aside", "startFrom firstTime;", "0.5 2 constant", "0.5/alpha"},
        {"startTime 0.5", "startFrom startTime; startTime 0.5;", "0 0.5", "0.5/alpha"},
        {"a name of more digits than timePrecision", "startFrom startTime; startTime 0.1234567;",
         "0 0.1234567", "0.1234567/alpha"},
        {"scientific time names", "startFrom startTime; startTime 0.5; timeFormat scientific; timePrecision 2;",
         "0 5.00e-01", "5.00e-01/alpha"},
        {"not in the time: in constant", "startFrom startTime; startTime 3;", "0 3", "constant/alpha"},
        {"the earliest time, whatever startFrom, the Foundation's from 11 on",
         "startFrom startTime; startTime 2;", "0.5 2 10", "0.5/alpha", "11"},
    };
    for (const Case &row : rows) {
        SCOPED_TRACE(row.why);
        CaseDir c;
        write_case(c, "defaultFieldValues (volScalarFieldValue alpha 7);\nregions ();", "");
        c.sh("rm -r 0");
        c.write("system/controlDict", kControlHeader + std::string(row.control));
        c.sh("mkdir -p " + std::string(row.dirs));
        std::string field = field_text("uniform 0", kPlainPatches);
        if (std::string(row.written) == "constant/alpha")
            c.write("constant/alpha", field);
        else
            c.sh("for d in " + std::string(row.dirs) + "; do [ $d = constant ] || printf '%s' '" +
                 field + "' > $d/alpha; done");
        Outcome r = c.run("orbset", std::string("-release ") + row.release);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(c.read(row.written).find("internalField   uniform 7;"), std::string::npos);
        EXPECT_EQ(c.sh("grep -l 'uniform 7' */alpha").out, std::string(row.written) + "\n");
    }
}

// The mesh's points where OpenFOAM finds them: in the start time's
// polyMesh, or an earlier time's, before constant's. Points moved by 0.1
// along x put the sphere around the centre of cell 0 on cell 1.
TEST(OrbsetRun, MeshWhereOpenFOAMFindsIt)
{
    struct Case {
        const char *why, *control, *points_in, *want;
    } rows[] = {
        {"in constant", "", "", "2(1 0);"},
        {"moved, in the start time's polyMesh", "", "0", "2(0 1);"},
        {"moved, in an earlier time's polyMesh", "startTime 0.5;", "0", "2(0 1);"},
        {"moved, in a later time's polyMesh: not taken", "", "1", "2(1 0);"},
    };
    for (const Case &row : rows) {
        SCOPED_TRACE(row.why);
        CaseDir c;
        write_case(c, "regions (" + sphere_at(0, "volScalarFieldValue alpha 1") + ");",
                   field_text("uniform 0", kPlainPatches));
        c.write("system/controlDict", kControl + row.control);
        c.sh("mkdir 0.5 && cp 0/alpha 0.5/");
        Row moved;
        moved.x0 = -0.1;
        write_row_mesh(c, "moved", moved);
        if (*row.points_in)
            c.sh("mkdir -p " + std::string(row.points_in) +
                 "/polyMesh && mv moved/constant/polyMesh/points " + row.points_in + "/polyMesh/");
        Outcome r = c.run("orbset");
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string written = *row.control ? "0.5/alpha" : "0/alpha";
        EXPECT_NE(c.read(written).find(row.want), std::string::npos) << c.read(written);
    }
}

TEST(OrbsetRun, StandardOutput)
{
    struct Case {
        const char *why;
        std::string dict, out;
    } rows[] = {
        {"one line a field, in the order they are named",
         "defaultFieldValues (volScalarFieldValue beta 1 volScalarFieldValue alpha 0);\n"
         "regions (" + sphere_at(0, "volScalarFieldValue alpha 1") +
             "boxToCell { boxes ((0 0 0) (1 1 1) (5 5 5) (6 6 6)); fieldValues (volScalarFieldValue alpha 1); }\n" +
             sphere_at(1, "volScalarFieldValue alpha 1") + ");",
         "0/beta: 0 of 2 cells set by no region, as setFields of OpenFOAM v1912\n0/alpha: 2 of 2 cells set: 1 by 2 boxes, 1 by 2 spheres, as setFields of OpenFOAM v1912\n"},
        {"one box", "regions (boxToCell { box (0 0 0) (0.1 1 1); fieldValues (volScalarFieldValue alpha 1); });",
         "0/alpha: 1 of 2 cells set: 1 by the box, as setFields of OpenFOAM v1912\n"},
        {"a cell in two boxes of one region counted once",
         "regions (boxToCell { boxes ((0 0 0) (0.2 1 1) (0 0 0) (0.1 1 1)); fieldValues "
         "(volScalarFieldValue alpha 1); });",
         "0/alpha: 2 of 2 cells set: 2 by 2 boxes, as setFields of OpenFOAM v1912\n"},
    };
    for (const Case &row : rows) {
        SCOPED_TRACE(row.why);
        CaseDir c;
        write_case(c, row.dict, field_text("uniform 0", kPlainPatches));
        c.write("0/beta", field_text("uniform 0", kPlainPatches));
        Outcome r = c.run("orbset");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, row.out);
    }
}

// Every refusal: one line naming the file, the line and the entry, exit 1,
// and 0/alpha as it was, before the mesh is even read where it can be.
TEST(OrbsetRun, Refusals)
{
    const std::string ok_dict = "defaultFieldValues (volScalarFieldValue alpha 1);\nregions ();\n";
    const std::string two_fields =
        "defaultFieldValues (volScalarFieldValue alpha 1 volScalarFieldValue beta 1);\nregions ();\n";
    const std::string ok_field = field_text("uniform 0", kPlainPatches);
    struct Case {
        const char *why;
        std::string dict, field, message;
        const char *shell = "";  // run before orbset
        const char *release = "v1912";
    } rows[] = {
        {"an included file that is not there", "#include \"more\"\n" + ok_dict, ok_field,
         "system/setFieldsDict: line 2: #include \"system/more\": no such file"},
        {"code", "v #calc \"1 + 1\";\n" + ok_dict, ok_field,
         "system/setFieldsDict: line 2: #calc in a value: orbset does not run code or conditions "
         "in dictionaries; use setFields"},
        {"a variable of nothing", "defaultFieldValues (volScalarFieldValue alpha $nothing);\n"
         "regions ();\n", ok_field, "system/setFieldsDict: line 2: $nothing: no such entry or "
         "environment variable"},
        {"another source", "regions (surfaceToCell { file \"a.stl\"; fieldValues (); });",
         ok_field, "line 2: surfaceToCell: orbset applies the sources boxToCell, sphereToCell,"},
        {"another kind of field", "defaultFieldValues (pointScalarFieldValue p 0);", ok_field,
         "line 2: pointScalarFieldValue p: orbset sets volume fields"},
        {"a region without values", "regions (boxToCell { box (0 0 0) (1 1 1); });", ok_field,
         "line 2: boxToCell without fieldValues"},
        {"a sphere without radius", "regions (sphereToCell { centre (0 0 0); fieldValues (); });",
         ok_field, "line 2: sphereToCell without its centre (origin) and radius"},
        {"a key twice", "regions (sphereToCell { radius 1; radius 2; centre (0 0 0); fieldValues (); });",
         ok_field, "line 2: radius given twice in one region"},
        {"a number OpenFOAM refuses", "defaultFieldValues (volScalarFieldValue alpha 1.5e);", ok_field,
         "system/setFieldsDict: line 2: '1.5e' is not a number"},
        {"the one-line layout cut short", oracle::kHeaderAlpha.substr(oracle::kHeaderAlpha.find("defaultFieldValues")),
         ok_field, "system/setFieldsDict: line 2: expected ';', found the end of the file"},
        {"no field that is there", "defaultFieldValues (volScalarFieldValue beta 1);\nregions ();",
         ok_field, "0/beta: no such field file (nor beta.gz, nor in constant); 0 holds alpha: name "
         "one of those in the dictionary, or copy the field to be set to beta"},
        {"a field of the wrong size", ok_dict, field_text("nonuniform List<scalar> 3(0 1 2)", kPlainPatches),
         "0/alpha: line 10: internalField holds 3 values, the mesh 2 cells; the field was written "
         "for another mesh"},
        {"a stray label in owner", ok_dict, field_text("nonuniform List<scalar> 2(0 1)", kPlainPatches),
         "internalField holds 2 values, the mesh 3 cells; cell 2 of the mesh has 1 face, too few "
         "for a cell: a stray label in constant/polyMesh/owner or constant/polyMesh/neighbour?",
         "perl -0pi -e 's/1\\n\\)\\n$/2\\n)\\n/' constant/polyMesh/owner"},
        {"a calculated patch without value", ok_dict,
         field_text("uniform 0", "    ends { type calculated; }\n    sides { type zeroGradient; }\n"),
         "0/alpha: line 14: patch ends: type calculated without its value, at which setFields stops"},
        {"a calculated value of the wrong size", ok_dict,
         field_text("uniform 0", "    ends { type calculated; value nonuniform List<scalar> 3(0 1 2); }\n"
                                 "    sides { type zeroGradient; }\n"),
         "0/alpha: line 14: the value of patch ends holds 3 values, its 2 faces"},
        {"a label past the cells, where setFields writes past the field's end",
         "regions (labelToCell { value (0 2); fieldValues (volScalarFieldValue alpha 1); });",
         ok_field, "system/setFieldsDict: line 2: labelToCell: label 2 is not one of the mesh's "
         "2 cells"},
        {"a time function orbset does not evaluate, where setFields writes a value", ok_dict,
         field_text("uniform 0", "    ends { type uniformFixedValue; uniformValue sine; }\n"
                                 "    sides { type zeroGradient; }\n"),
         "0/alpha: line 14: uniformValue is a function of time orbset does not evaluate (sine)"},
        {"trailing words in a value that stays", ok_dict,
         field_text("uniform 0", "    ends { type fixedValue; value uniform 0 1; }\n"
                                 "    sides { type zeroGradient; }\n"),
         "0/alpha: line 14: unexpected '1' in a patch's value"},
        {"defaultFieldValues twice", ok_dict + "defaultFieldValues (volScalarFieldValue alpha 2);",
         ok_field, "system/setFieldsDict: line 2: defaultFieldValues given twice"},
        {"no regions", "defaultFieldValues (volScalarFieldValue alpha 1);", ok_field,
         "system/setFieldsDict: line 2: no regions: setFields stops without them"},
        {"an empty dictionary, as orbfill writes from a dump without spheres", ok_dict, ok_field,
         "system/setFieldsDict: line 1: the dictionary is empty: it holds no region",
         ": >system/setFieldsDict"},
        {"two fields that are one file", two_fields, ok_field,
         "0/beta and 0/alpha are one file (a link)", "ln -s alpha 0/beta"},
        {"a named pipe as controlDict", ok_dict, ok_field,
         "system/controlDict: a named pipe, not a regular file; orbset reads regular files only",
         "rm system/controlDict && mkfifo system/controlDict"},
        {"a field linked to a device", two_fields, ok_field, "0/beta: a device, not a regular file", "ln -s /dev/zero 0/beta"},
        {"a field that inflates past what a field of the mesh can need",
         two_fields, ok_field, "0/beta.gz: more than 67121152 bytes once inflated, more than a field of this mesh can need",
         "head -c 80000000 /dev/zero | gzip -1 >0/beta.gz"},
        {"a vector field's file", ok_dict, "FoamFile { format ascii; class volVectorField; }\n",
         "0/alpha: line 1: class volVectorField where the dictionary sets a volScalarField"},
        {"a patch without entry", ok_dict, field_text("uniform 0", "    ends { type zeroGradient; }\n"),
         "0/alpha: line 15: boundaryField has no entry for patch sides"},
        {"code among the patches", ok_dict,
         field_text("uniform 0", "    #codeStream { code #{ #}; }\n" + std::string(kPlainPatches)),
         "0/alpha: line 14: #codeStream: orbset does not run code or conditions in dictionaries"},
        {"a kept value of the wrong size", ok_dict,
         field_text("uniform 0", "    ends { type fixedValue; value nonuniform List<scalar> 3(0 1 2); }\n"
                                 "    sides { type zeroGradient; }\n"),
         "0/alpha: line 14: the value of patch ends holds 3 values, its 2 faces"},
        {"no mesh", ok_dict, ok_field,
         "constant/polyMesh/: no mesh (no points, no faces): run blockMesh first", "rm -r constant"},
        {"a start time that is not there", ok_dict, ok_field, "2/alpha: no such field file",
         "sed -i s/startTime.0/startTime\\ 2/ system/controlDict"},
        {"startFrom of another kind", ok_dict, ok_field,
         "system/controlDict: line 1: startFrom nextWrite: expected startTime, firstTime or latestTime",
         "sed -i s/startFrom.startTime/startFrom\\ nextWrite/ system/controlDict"},
        {"no dictionary", ok_dict, ok_field, "system/setFieldsDict: no such file", "rm system/setFieldsDict"},
        {"a radius below 0, from ESI's v2006 on",
         "regions (sphereToCell { centre (0 0 0); radius -1; fieldValues (); });", ok_field,
         "line 2: sphereToCell: a radius below 0, which the setFields of OpenFOAM v2006 refuses",
         "", "v2006"},
        {"an innerRadius above the radius, ESI's v2206",
         "regions (cylinderToCell { point1 (0 0 0); point2 (1 0 0); radius 1; innerRadius 2; "
         "fieldValues (); });", ok_field, "line 2: cylinderToCell: an innerRadius above the "
         "radius, which the setFields of OpenFOAM v2206 refuses", "", "v2206"},
        {"the Foundation's sphere reads no origin",
         "regions (sphereToCell { origin (0 0 0); radius 1; fieldValues (); });", ok_field,
         "line 2: sphereToCell without its centre and radius", "", "12"},
        {"the Foundation's box reads no min and max",
         "regions (boxToCell { min (0 0 0); max (1 1 1); fieldValues (); });", ok_field,
         "line 2: boxToCell without box or boxes", "", "10"},
        {"the Foundation's 13 zones, which orbset does not apply",
         "zones { z { type sphere; centre (0 0 0); radius 1; } }\nregions ();", ok_field,
         "line 2: zones: orbset does not apply the Foundation's zones", "", "13"},
        {"a rotated box turned by n1 and n2, the Foundation's from 10 on",
         "regions (rotatedBoxToCell { box (0 0 0) (1 1 1); n1 (1 0 0); n2 (0 1 0); origin (0 0 0); "
         "i (1 0 0); j (0 1 0); k (0 0 1); fieldValues (); });", ok_field,
         "line 2: rotatedBoxToCell given as a box, n1 and n2", "", "10"},
        {"a motion of the cell centres, ESI's from v2406 on",
         "regions (sphereToCell { centre (0 0 0); radius 1; solidBodyMotionFunction "
         "linearMotion; fieldValues (); });", ok_field,
         "line 2: sphereToCell with a solidBodyMotionFunction", "", "v2406"},
        {"a cellToCell of a zone, ESI's from v2406 on",
         "regions (cellToCell { zone z; fieldValues (); });", ok_field,
         "line 2: cellToCell of a zone: orbset takes the zone with zoneToCell", "", "v2406"},
        {"units, the Foundation's from 12 on",
         "regions (sphereToCell { centre (0 0 0); radius [mm] 5; fieldValues (); });", ok_field,
         "line 2: radius is given in units, which orbset does not convert", "", "12"},
        {"a geometry scheme that moves the centres, ESI's from v2012 on", ok_dict, ok_field,
         "system/fvSchemes: geometry highAspectRatio: the setFields of OpenFOAM v2012 tests the "
         "cell centres of that scheme", "echo 'FoamFile {} geometry { type highAspectRatio; }' >system/fvSchemes",
         "v2012"},
        {"a cyclic patch whose value ESI's v2306 on take across the coupling", ok_dict, ok_field,
         "0/alpha: patch ends of type cyclicAMI: the setFields of OpenFOAM v2306 gives its field "
         "the values across the coupling", "sed -i 's/type patch;/type cyclicAMI;/' "
         "constant/polyMesh/boundary", "v2306"},
    };
    for (const Case &row : rows) {
        SCOPED_TRACE(row.why);
        CaseDir c;
        write_case(c, row.dict, row.field);
        if (*row.shell)
            c.sh(row.shell);
        expect_refusal(c, c.sh("timeout 60 '" BIN_DIR "/orbset' -release " + std::string(row.release)),
                       row.message, row.field);
    }
}

// A user who is not root (run as root, the runs drop to nobody): a field
// that could only be written in place, emptied as soon as it is opened, is
// refused before any field is opened, and every field stays whole.
TEST(OrbsetRun, FieldsThatCannotBeReplacedWhole)
{
    std::string as;
    if (geteuid() == 0) {
        as = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        if (std::system((as + "true").c_str()) != 0)
            GTEST_SKIP() << "setpriv cannot run a program as nobody";
    }
    const std::string field = field_text("uniform 0", kPlainPatches);
    struct Case {
        const char *why, *shell, *message;  // message "": the run succeeds
        bool needs_root;
    } rows[] = {
        {"a sticky folder of the runner's own, holding another user's writable field: a "
         "sticky folder's owner may rename over any file in it",
         "chown 65534 0; chmod 1777 0", "", true},
        // alpha was written in place and emptied, then beta refused
        {"a folder that takes no new file, a read-only field after a writable one",
         "chmod 444 0/beta; chmod 555 0",
         "0/alpha: its directory takes no new file (Permission denied)", false},
        {"another user's file in a sticky folder", "chmod 1777 0",
         "0/alpha: another user's file in a sticky directory", true},
    };
    for (const Case &row : rows) {
        SCOPED_TRACE(row.why);
        if (row.needs_root && as.empty())
            continue;
        CaseDir c;
        write_case(c, "defaultFieldValues (volScalarFieldValue alpha 1 volScalarFieldValue beta 1);\nregions ();",
                   field);
        c.write("0/beta", field);
        Outcome r = c.sh("chmod 755 .; chmod 666 0/*; " + std::string(row.shell) + "; " + as + "'" +
                         BIN_DIR "/orbset'");
        c.sh("chmod 755 0");
        if (!*row.message) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_NE(c.read("0/alpha").find("internalField   uniform 1;"), std::string::npos);
            continue;
        }
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "orbset: " + std::string(row.message) +
                             "; orbset replaces each field whole, through a new file beside it\n");
        EXPECT_EQ(c.read("0/alpha"), field);
        EXPECT_EQ(c.read("0/beta"), field);
        EXPECT_EQ(c.sh("ls -A 0").out, "alpha\nbeta\n");
    }
}

// Every field old or every field new, never some of each, when the run
// ends while the fields go to disk and take their names: fsync made slow
// or failing by strace.
TEST(OrbsetRun, EndedWhileTheFieldsTakeTheirNames)
{
    if (std::system("strace -f -o /dev/null true >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "strace cannot trace here";
    struct Case {
        const char *why, *inject, *then;
    } rows[] = {
        // three fields: the first fsync of each as it is written, then each
        // one's again before its rename
        {"a signal while the second fsync takes 1 s", "fsync:delay_enter=1000000:when=2+",
         "sleep 0.5; kill -TERM $(cat pid)"},
        {"the second fsync failing, the others not", "fsync:error=EIO:when=2", "true"},
        {"every fsync from the third on failing", "fsync:error=EIO:when=3+", "true"},
        // the signal waits until every field has its name
        {"a signal while the first rename takes 1 s",
         "rename,renameat,renameat2:delay_exit=1000000:when=1", "sleep 0.5; kill -TERM $(cat pid)"},
        {"a hang-up while the first rename takes 1 s",
         "rename,renameat,renameat2:delay_exit=1000000:when=1", "sleep 0.5; kill -HUP $(cat pid)"},
    };
    for (const Case &row : rows) {
        SCOPED_TRACE(row.why);
        CaseDir c;
        const std::string field = field_text("uniform 0", kPlainPatches);
        write_case(c, "defaultFieldValues (volScalarFieldValue alpha 1 volScalarFieldValue beta 1 "
                      "volScalarFieldValue gamma 1);\nregions ();",
                   field);
        c.write("0/beta", field);
        c.write("0/gamma", field);
        const std::string inject = row.inject, calls = inject.substr(0, inject.find(':'));
        Outcome r = c.sh("strace -f -o /dev/null -e trace=" + calls + " -e inject=" + inject +
                         " sh -c 'echo $$ >pid; exec \"" BIN_DIR
                         "/orbset\"' & " + row.then + "; wait $!");
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(c.read("0/alpha") == field, c.read("0/beta") == field);
        EXPECT_EQ(c.read("0/beta") == field, c.read("0/gamma") == field);
        EXPECT_EQ(c.sh("ls -A 0").out, "alpha\nbeta\ngamma\n");
    }
}

// Warnings, one line each, and the run goes on as setFields does.
TEST(OrbsetRun, Warnings)
{
    const std::string field = field_text("uniform 0", kPlainPatches);
    struct Case {
        const char *why;
        std::string patches, shell, err, out;
        const char *release = "v1912";
    } rows[] = {
        {"a patch type of OpenFOAM's that orbset does not know, once for its entry",
         "    \".*\" { type totalTemperature; value uniform 4; }\n", "",
         "orbset: warning: 0/alpha: line 14: patch \".*\": type totalTemperature is not one "
         "orbset knows; its entry is kept as written\n",
         "0/alpha: 0 of 2 cells set by no region, as setFields of OpenFOAM v1912\n0/beta: 0 of 2 cells set by no region, as setFields of OpenFOAM v1912\n"},
        {"a field missing: the others are set", kPlainPatches, "rm 0/beta",
         "orbset: warning: 0/beta: no such field file (nor beta.gz, nor in constant); 0 holds "
         "alpha: name one of those in the dictionary, or copy the field to be set to beta; the "
         "other fields are set, as setFields sets them\n",
         "0/alpha: 0 of 2 cells set by no region, as setFields of OpenFOAM v1912\n"},
        {"spheres the mesh does not resolve, told once", kPlainPatches,
         "printf '%s' 'FoamFile { version 2.0; format ascii; class dictionary; } "
         "defaultFieldValues (volScalarFieldValue alpha 1); regions (" +
             sphere_at(0, "volScalarFieldValue alpha 1") + sphere_at(9, "volScalarFieldValue alpha 1") +
             ");' >system/setFieldsDict",
         "orbset: warning: system/setFieldsDict: of 2 spheres, 1 sets no cell and 1 one cell "
         "only: the mesh does not resolve those particles, so the share of cells set is a poor "
         "measure of the packing's solid fraction\n",
         "0/alpha: 1 of 2 cells set: 1 by 2 spheres, as setFields of OpenFOAM v1912\n"},
        {"a field kept in 0.orig", kPlainPatches, "mkdir 0.orig && mv 0/beta 0.orig/",
         "orbset: warning: 0/beta: no such field file (nor beta.gz, nor in constant); the case "
         "keeps it in 0.orig: copy that directory to 0 first (cp -r 0.orig 0); the other fields "
         "are set, as setFields sets them\n",
         "0/alpha: 0 of 2 cells set by no region, as setFields of OpenFOAM v1912\n"},
        {"a type 1912 does not know, which another release's library may hold: kept",
         "    ends { type funnyWall; value uniform 4; }\n    sides { type zeroGradient; }\n", "",
         "orbset: warning: 0/alpha: line 14: patch ends: type funnyWall is not one orbset knows; "
         "its entry is kept as written\n",
         "0/alpha: 0 of 2 cells set by no region, as setFields of OpenFOAM v2406\n0/beta: 0 of 2 "
         "cells set by no region, as setFields of OpenFOAM v2406\n", "v2406"},
        {"an innerRadius the Foundation's sphere does not read", kPlainPatches,
         "printf '%s' 'FoamFile { version 2.0; format ascii; class dictionary; } "
         "defaultFieldValues (volScalarFieldValue alpha 1); regions (sphereToCell { centre (0.05 "
         "0.05 0.05); radius 0.01; innerRadius 0.001; fieldValues (volScalarFieldValue alpha 1); "
         "});' >system/setFieldsDict",
         "orbset: warning: system/setFieldsDict: line 1: sphereToCell: innerRadius is not read by "
         "the setFields of OpenFOAM 12; the sphere is taken whole\n"
         "orbset: warning: system/setFieldsDict: of 1 sphere, 0 set no cell and 1 one cell only: "
         "the mesh does not resolve those particles, so the share of cells set is a poor measure "
         "of the packing's solid fraction\n",
         "0/alpha: 1 of 2 cells set: 1 by the sphere, as setFields of OpenFOAM 12\n", "12"},
    };
    for (const Case &row : rows) {
        SCOPED_TRACE(row.why);
        CaseDir c;
        const std::string mine = field_text("uniform 0", row.patches);
        write_case(c, "defaultFieldValues (volScalarFieldValue alpha 1 volScalarFieldValue beta 1);\n"
                      "regions ();\n", mine);
        c.write("0/beta", field);
        if (!row.shell.empty())
            c.sh(row.shell);
        Outcome r = c.run("orbset", std::string("-release ") + row.release);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, row.err);
        EXPECT_EQ(r.out, row.out);
        EXPECT_NE(c.read("0/alpha").find("internalField   uniform 1;"), std::string::npos);
    }
}

TEST(OrbsetRun, CommandLine)
{
    const std::string field = field_text("uniform 0", kPlainPatches);
    struct Case {
        const char *why, *args;
        int status;
        const char *out, *err;
        const char *env = "";  // set for the run
    } rows[] = {
        {"help", "--help", 0, "usage: orbset [-case DIR] [-region NAME] [-dict FILE] [-parallel] [-release NAME]\n", ""},
        {"help, OpenFOAM's way", "-help", 0, "usage: orbset [-case DIR] [-region NAME] [-dict FILE] [-parallel] [-release NAME]\n", ""},
        {"version", "-version", 0, "orbset (casetools) " CASETOOLS_VERSION "\n", ""},
        {"-case", "-case case", 0, "case/0/alpha: 0 of 2 cells set by no region, as setFields of OpenFOAM v1912\n", ""},
        {"-case without its directory", "-case", 2, "",
         "orbset: a directory must follow \"-case\"\nusage: orbset [-case DIR] [-region NAME] [-dict FILE] [-parallel] [-release NAME]\n"},
        {"another option", "-time 0", 2, "", "orbset: unexpected argument \"-time\"\n"},
        {"the release of the environment", "-case case", 0,
         "case/0/alpha: 0 of 2 cells set by no region, as setFields of OpenFOAM 12\n", "",
         "WM_PROJECT_VERSION=12"},
        {"-release over the environment's", "-release 2406 -case case", 0,
         "case/0/alpha: 0 of 2 cells set by no region, as setFields of OpenFOAM v2406\n", "",
         "WM_PROJECT_VERSION=dev"},
        {"a release orbset does not reproduce", "-case case", 1, "",
         "orbset: WM_PROJECT_VERSION dev: not a release orbset reproduces (the setFields of the "
         "Foundation's 14 and dev reads neither defaultFieldValues nor regions); it reproduces "
         "the setFields of OpenFOAM v1912, v2006, v2012, v2106, v2112, v2206, v2212, v2306, "
         "v2312, v2406, v2412, v2506 (ESI) and 8, 9, 10, 11, 12, 13 (the Foundation); name one "
         "with -release NAME\n", "WM_PROJECT_VERSION=dev"},
        {"-release without its name", "-release", 2, "",
         "orbset: a release's name must follow \"-release\"\n"},
        {"-parallel on a case not decomposed", "-case case -parallel", 1, "",
         "orbset: case: -parallel, but no processorN directory (run decomposePar first)\n"},
        {"standard output closed", "-case case >&-", 1, "", "orbset: standard output: Bad file descriptor\n"},
        {"standard output full", "-case case >/dev/full", 1, "", "orbset: standard output: No space left on device\n"},
    };
    for (const Case &row : rows) {
        SCOPED_TRACE(row.why);
        CaseDir top;
        top.mkdir("case");
        CaseDir c;
        write_case(c, "defaultFieldValues (volScalarFieldValue alpha 0);\nregions ();", field);
        top.sh("cp -r '" + c.path() + "/.' case");
        Outcome r = top.sh(std::string(row.env) + " '" BIN_DIR "/orbset' " + row.args);
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_EQ(r.out.substr(0, std::strlen(row.out)), row.out);
        EXPECT_EQ(r.err.substr(0, std::strlen(row.err)), row.err);
    }
}

// A row of 4 cells decomposed in two, without the whole mesh; spheres
// take cells 1 and 2, one in each part.
void write_decomposed_row(const CaseDir &c)
{
    Row left, right;
    left.right_proc = "procBoundary0to1";
    left.right = 1;
    right.x0 = 0.2;
    right.left_proc = "procBoundary1to0";
    right.me = 1;
    write_row_mesh(c, "processor0", left);
    write_row_mesh(c, "processor1", right);
    c.mkdir("system");
    c.write("system/controlDict", kControl);
    c.write("system/setFieldsDict",
            std::string(kDictHeader) + "regions (" + sphere_at(1, "volScalarFieldValue alpha 1") +
                sphere_at(2, "volScalarFieldValue alpha 2") + ");");
    // processor1's patch reached through the group of its type, as
    // caseDicts/setConstraintTypes reaches it
    for (const char *p : {"processor0", "processor1"}) {
        c.mkdir(std::string(p) + "/0");
        c.write(std::string(p) + "/0/alpha",
                field_text("uniform 0", std::string(kPlainPatches) + "    " +
                                            (p[9] == '0' ? "\"procBoundary.*\"" : "processor") +
                                            " { type processor; value uniform 0; }\n"));
    }
}

// The processor patches take the adjacent cells' values, and the parts
// together hold what the whole would.
TEST(OrbsetRun, Parallel)
{
    CaseDir c;
    write_decomposed_row(c);
    Outcome r = c.run("orbset", "-parallel");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "processor*/0/alpha: 2 of 4 cells set: 2 by 2 spheres, as setFields of OpenFOAM v1912\n");
    std::string p0 = c.read("processor0/0/alpha"), p1 = c.read("processor1/0/alpha");
    EXPECT_NE(p0.find("internalField   nonuniform List<scalar> 2(0 1);"), std::string::npos) << p0;
    EXPECT_NE(p0.find("    procBoundary0to1\n    { type processor; value uniform 1; }"), std::string::npos) << p0;
    EXPECT_NE(p1.find("internalField   nonuniform List<scalar> 2(2 0);"), std::string::npos) << p1;
    EXPECT_NE(p1.find("    procBoundary1to0\n    { type processor; value uniform 2; }"), std::string::npos) << p1;
    // ESI's v2306 and later: the neighbour processor's cells' values
    r = c.run("orbset", "-parallel -release v2306");
    ASSERT_EQ(r.status, 0) << r.err;
    p0 = c.read("processor0/0/alpha"), p1 = c.read("processor1/0/alpha");
    EXPECT_NE(p0.find("    procBoundary0to1\n    { type processor; value uniform 2; }"), std::string::npos) << p0;
    EXPECT_NE(p1.find("    procBoundary1to0\n    { type processor; value uniform 1; }"), std::string::npos) << p1;
    // the neighbour's cells found through its own patch where its faces are
    // numbered otherwise (3 cells in processor1)
    Row wide;
    wide.n = 3;
    wide.x0 = 0.2;
    wide.left_proc = "procBoundary1to0";
    wide.me = 1;
    write_row_mesh(c, "processor1", wide);
    c.write("processor1/0/alpha", field_text("uniform 0", std::string(kPlainPatches) +
                                                           "    processor { type processor; value uniform 0; }\n"));
    r = c.run("orbset", "-parallel -release v2306");
    ASSERT_EQ(r.status, 0) << r.err;
    p0 = c.read("processor0/0/alpha");
    EXPECT_NE(p0.find("    procBoundary0to1\n    { type processor; value uniform 2; }"), std::string::npos) << p0;
    write_decomposed_row(c);

#ifndef CASETOOLS_SANITIZE  // the sanitizers' shadow memory needs the address space
    // a thread the system refuses (stacks of 2 GB in 4 GB of address space)
    // ends the run in one line, never in an abort
    r = c.sh("ulimit -s 2000000 && ulimit -v 4000000 && '" BIN_DIR "/orbset' -parallel");
    EXPECT_TRUE(r.status == 0 ||
                (r.status == 1 && r.err.starts_with("orbset: a thread to ") &&
                 r.err.ends_with(": Resource temporarily unavailable\n")))
        << r.status << " " << r.err;
#endif

    // a fault in one part: nothing written in any
    c.write("processor1/0/alpha", field_text("uniform 0", kPlainPatches));
    c.write("processor0/0/alpha", p0 = field_text("uniform 0", kPlainPatches +
                                           std::string("    \"procBoundary.*\" { type processor; }\n")));
    r = c.run("orbset", "-parallel");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "orbset: processor1/0/alpha: line 16: boundaryField has no entry for patch "
                     "procBoundary1to0\n");
    EXPECT_EQ(c.read("processor0/0/alpha"), p0);

    c.sh("mv processor0 processors2 && rm -r processor1");
    r = c.run("orbset", "-parallel");
    EXPECT_EQ(r.err, "orbset: processors2: a decomposed case in the collated format, which orbset "
                     "does not read; use setFields, or decompose with -fileHandler uncollated\n");
}

// With the whole mesh beside the parts, a processor's cells take the
// values of their cells in it, through cellProcAddressing; an addressing
// that does not fit the meshes is refused and nothing is written.
TEST(OrbsetRun, ParallelThroughTheWholeMesh)
{
    const char *const kMissing = "";
    const char *const kMisfit = "orbset: processor1/constant/polyMesh/cellProcAddressing: cell 0 of "
                                "processor1 is cell ";
    const struct {
        const char *why, *part1;  // processor1's cellProcAddressing; part 0 holds cells 0 1
        int status;
        const char *err, *values1;  // processor1's internalField after the run
        double whole_x0 = 0;        // where the whole mesh starts
        bool moved = false;         // processor1's points moved by -0.1 in its time 0
        const char *shell = ":";    // run before orbset
    } rows[] = {
        {"processor0's addressing missing: the processors' centres, with a word", "2(2 3)", 0,
         "orbset: warning: processor0/constant/polyMesh/cellProcAddressing: no such file",
         "nonuniform List<scalar> 2(2 0)", 0, false,
         "rm processor0/constant/polyMesh/cellProcAddressing"},
        {"a processor missing", "2(2 3)", 1,
         "orbset: processor0: the processors hold 2 of the 4 cells of the whole "
         "mesh in constant/polyMesh/ (a processor directory missing?); run decomposePar again\n",
         nullptr, 0, false, "rm -r processor1"},
        {"the parts in the whole mesh's order", "2(2 3)", 0, "", "nonuniform List<scalar> 2(2 0)"},
        {"an addressing missing: the processors' centres, with a word", kMissing, 0,
         "orbset: warning: processor1/constant/polyMesh/cellProcAddressing: no such file; the "
         "cells are chosen through the centres of the processor meshes, as setFields -parallel "
         "chooses them, not through those of constant/polyMesh/\n", "nonuniform List<scalar> 2(2 0)"},
        {"a processor's mesh moved since decomposePar: the processors' own centres, as "
         "setFields -parallel", "2(2 3)", 0, "", "nonuniform List<scalar> 2(1 2)", 0, true},
        {"a list longer than the part", "3(1 2 3)", 1,
         "orbset: processor1/constant/polyMesh/cellProcAddressing: 3 cells where the mesh beside "
         "it has 2\n", nullptr},
        {"a reversed list", "2(3 2)", 1, kMisfit, nullptr},
        {"a whole mesh made again with as many cells", "2(2 3)", 1,
         "orbset: processor0/constant/polyMesh/cellProcAddressing: cell 0 of processor0 is cell 0 "
         "of the whole mesh, but their centres lie 0.05 apart, the cell 0.1 across: this "
         "addressing does not fit the whole mesh in constant/polyMesh/ (made again since "
         "decomposePar?); run decomposePar again\n", nullptr, 0.05},
        {"a cell past the whole mesh", "2(2 4)", 1,
         "orbset: processor1/constant/polyMesh/cellProcAddressing: line 14: cell label of the "
         "whole mesh 4 is out of range", nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.why);
        CaseDir c;
        write_decomposed_row(c);
        Row whole;
        whole.n = 4;
        whole.x0 = row.whole_x0;
        write_row_mesh(c, "", whole);
        MeshForm ascii;
        c.write("processor0/constant/polyMesh/cellProcAddressing",
                header("labelList", "cellProcAddressing", ascii) + "2(0 1)\n");
        if (*row.part1)
            c.write("processor1/constant/polyMesh/cellProcAddressing",
                    header("labelList", "cellProcAddressing", ascii) + row.part1 + "\n");
        if (row.moved) {
            Row moved;
            moved.x0 = 0.1;
            moved.left_proc = "procBoundary1to0";
            write_row_mesh(c, "moved", moved);
            c.sh("mkdir -p processor1/0/polyMesh && mv moved/constant/polyMesh/points processor1/0/polyMesh/");
        }
        c.sh(row.shell);
        const std::string before = c.read("processor1/0/alpha");
        Outcome r = c.run("orbset", "-parallel");
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.err.substr(0, std::strlen(row.err)), row.err);
        const std::string after = c.read("processor1/0/alpha");
        if (row.values1)
            EXPECT_NE(after.find(std::string("internalField   ") + row.values1 + ";"),
                      std::string::npos) << after;
        else
            EXPECT_EQ(after, before);
    }
}

// More processor directories than the soft limit of open files: every
// field's replacement stays open until all are written.
TEST(OrbsetRun, MoreProcessorDirectoriesThanOpenFiles)
{
    constexpr int kParts = 80, kSoftLimit = 64;
    CaseDir c;
    auto name = [](int from, int to) {
        return "procBoundary" + std::to_string(from) + "to" + std::to_string(to);
    };
    for (int i = 0; i < kParts; ++i) {
        Row r;
        r.n = 1;
        r.x0 = 0.1 * i;
        r.me = i;
        r.left = i - 1;
        r.right = i + 1;
        r.left_proc = i > 0 ? name(i, i - 1) : "";
        r.right_proc = i + 1 < kParts ? name(i, i + 1) : "";
        const std::string dir = "processor" + std::to_string(i);
        write_row_mesh(c, dir, r);
        c.mkdir(dir + "/0");
        c.write(dir + "/0/alpha", field_text("uniform 0", std::string(kPlainPatches) +
                                                              "    \"procBoundary.*\" { type processor; value uniform 0; }\n"));
    }
    c.mkdir("system");
    c.write("system/controlDict", kControl);
    c.write("system/setFieldsDict", std::string(kDictHeader) + "defaultFieldValues (volScalarFieldValue alpha 1);\nregions ();");
    Outcome r = c.sh("ulimit -Sn " + std::to_string(kSoftLimit) + "; '" BIN_DIR "/orbset' -parallel");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "processor*/0/alpha: 0 of 80 cells set by no region, as setFields of OpenFOAM v1912\n");
    EXPECT_NE(c.read("processor79/0/alpha").find("internalField   uniform 1;"), std::string::npos);
}

namespace {

// A number's text that every release reads back exactly: all the digits of
// its decimal expansion.
std::string exact_text(double v)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, "%.60g", v);
    return buf;
}

// Writes mesh m in constant/polyMesh, its boundary faces one patch, walls.
void write_mesh(const CaseDir &c, const foam::Mesh &m)
{
    MeshForm ascii;
    std::string points, faces;
    for (const foam::Vec &p : m.points)
        points += "(" + exact_text(p.x) + " " + exact_text(p.y) + " " + exact_text(p.z) + ")\n";
    for (std::size_t f = 0; f + 1 < m.face_start.size(); ++f) {
        faces += std::to_string(m.face_start[f + 1] - m.face_start[f]) + "(";
        for (foam::label k = m.face_start[f]; k < m.face_start[f + 1]; ++k)
            faces += std::to_string(m.face_points[static_cast<std::size_t>(k)]) + " ";
        faces.back() = ')';
        faces += "\n";
    }
    c.mkdir("constant/polyMesh");
    c.write("constant/polyMesh/points", header("vectorField", "points", ascii) +
                                            std::to_string(m.points.size()) + "\n(\n" + points + ")\n");
    c.write("constant/polyMesh/faces", header("faceList", "faces", ascii) +
                                           std::to_string(m.owner.size()) + "\n(\n" + faces + ")\n");
    c.write("constant/polyMesh/owner", header("labelList", "owner", ascii) +
                                           label_list({m.owner.begin(), m.owner.end()}, ascii));
    c.write("constant/polyMesh/neighbour", header("labelList", "neighbour", ascii) +
                                               label_list({m.neighbour.begin(), m.neighbour.end()}, ascii));
    c.write("constant/polyMesh/boundary",
            header("polyBoundaryMesh", "boundary", ascii) + "1\n(\nwalls\n{\n    type wall;\n    nFaces " +
                std::to_string(m.owner.size() - m.neighbour.size()) + ";\n    startFace " +
                std::to_string(m.neighbour.size()) + ";\n}\n)\n");
}

// A release as the tests here see it: how it reads a number's text, its
// cell centres, and its sphereToCell test.
struct ReleaseRow {
    const char *name;
    Reference (*reading)(const std::string &);
    bool foundation;  // its centres, and d2 <= r2; else ESI's, and d2 < r2
};

const ReleaseRow kReleaseRows[] = {
    {"v1912", strtold_narrowed, false},
    {"v2406", strtold_narrowed, false},
    {"8", int32_then_strtod, true},
    {"12", wide_then_strtod, true},
};

struct Ball {
    std::string origin[3], radius;  // as the dictionary writes them
};

// The values setFields of the release gives the cells of the mesh whose
// centres are `centres`: the index + 1 of the last sphere to take each, as
// sphereToCell::combine of the release takes them, of the values the
// release reads from the texts.
std::vector<double> expected_values(const ReleaseRow &row, const std::vector<foam::Vec> &centres,
                                    const std::vector<Ball> &balls)
{
    std::vector<double> values(centres.size(), 0.0);
    for (std::size_t b = 0; b < balls.size(); ++b) {
        const foam::Vec o{row.reading(balls[b].origin[0]).value, row.reading(balls[b].origin[1]).value,
                          row.reading(balls[b].origin[2]).value};
        const double r = row.reading(balls[b].radius).value, r2 = r * r;
        for (std::size_t c = 0; c < centres.size(); ++c) {
            const foam::Vec d{centres[c].x - o.x, centres[c].y - o.y, centres[c].z - o.z};
            const double d2 = d.x * d.x + d.y * d.y + d.z * d.z;
            if (row.foundation ? d2 <= r2 : d2 < r2 && d2 > -1)
                values[c] = static_cast<double>(b + 1);
        }
    }
    return values;
}

// The values of internalField nonuniform List<scalar> N(...) in a field's text.
std::vector<double> internal_values(const std::string &field)
{
    std::vector<double> v;
    std::size_t at = field.find("List<scalar>");
    if (at == std::string::npos)
        return v;
    const char *p = field.c_str() + at + 12;
    char *end = nullptr;
    const long n = std::strtol(p, &end, 10);
    p = std::strchr(end, '(') + 1;
    for (long i = 0; i < n; ++i) {
        v.push_back(std::strtod(p, &end));
        p = end;
    }
    return v;
}

}  // namespace

// Every release's cells on a mesh of warped faces, where ESI's and the
// Foundation's centres part, against references that follow each
// release's sources: spheres centred on a cell's centre with radius 0 (d2
// == r2 == 0), and spheres whose surfaces pass within an ulp of a centre,
// their radii written as decimals next to the midpoint of two doubles,
// where strtold then double and strtod part.
TEST(OrbsetRun, EachReleaseAsItsSources)
{
    const foam::Mesh mesh = reference::warped_lattice(10);
    const std::vector<foam::Vec> esi = foam::cell_centres(mesh);
    const std::vector<foam::Vec> foundation = reference::foundation_centres(mesh);
    std::mt19937_64 rng(25);
    std::vector<Ball> balls;
    for (std::size_t k = 0; k < esi.size(); k += 5) {
        const std::vector<foam::Vec> &centres = (k / 5) % 2 ? foundation : esi;
        const foam::Vec c = centres[k];
        if (k % 4 == 0) {  // on the centre, radius 0
            balls.push_back({{exact_text(c.x), exact_text(c.y), exact_text(c.z)}, "0"});
            continue;
        }
        // a point a third of a cell off, the centre on the surface
        std::uniform_real_distribution<double> off(-0.2, 0.2);
        const foam::Vec o{c.x + off(rng), c.y + off(rng), c.z + off(rng)};
        const foam::Vec d{c.x - o.x, c.y - o.y, c.z - o.z};
        // the radius a hair above the midpoint of an even double r and the
        // next: strtod reads the next, strtold reads the midpoint, which
        // rounds to the even r
        double r = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
        std::uint64_t b;
        std::memcpy(&b, &r, sizeof b);
        if (b & 1)
            r = std::nextafter(r, 0.0);
        const long double mid = (static_cast<long double>(r) + std::nextafter(r, 1.0)) / 2;
        char text[128];
        std::snprintf(text, sizeof text, "%.70Lf", mid);
        std::string radius = text;
        radius.erase(radius.find_last_not_of('0') + 1);
        balls.push_back({{exact_text(o.x), exact_text(o.y), exact_text(o.z)}, radius + "1"});
    }
    std::string dict = "defaultFieldValues (volScalarFieldValue alpha 0);\nregions\n(\n";
    for (std::size_t b = 0; b < balls.size(); ++b)
        dict += "sphereToCell { centre (" + balls[b].origin[0] + " " + balls[b].origin[1] + " " +
                balls[b].origin[2] + "); radius " + balls[b].radius +
                "; fieldValues (volScalarFieldValue alpha " + std::to_string(b + 1) + "); }\n";
    dict += ");\n";
    const std::vector<double> as_1912 = expected_values(kReleaseRows[0], esi, balls);
    for (const ReleaseRow &row : kReleaseRows) {
        SCOPED_TRACE(row.name);
        const std::vector<double> want =
            expected_values(row, row.foundation ? foundation : esi, balls);
        if (row.foundation) {  // the releases part on these cells
            EXPECT_GT(std::inner_product(want.begin(), want.end(), as_1912.begin(), 0L,
                                         std::plus<>(), std::not_equal_to<>()),
                      20);
        }
        CaseDir c;
        write_mesh(c, mesh);
        c.mkdir("system");
        c.mkdir("0");
        c.write("system/controlDict", kControl);
        c.write("system/setFieldsDict", kDictHeader + dict);
        c.write("0/alpha", field_text("uniform 0", "    walls { type zeroGradient; }\n"));
        Outcome r = c.run("orbset", std::string("-release ") + row.name);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<double> got = internal_values(c.read("0/alpha"));
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < got.size(); ++i)
            EXPECT_EQ(got[i], want[i]) << "cell " << i;
    }
}
