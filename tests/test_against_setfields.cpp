// orbset against OpenFOAM's own setFields, one kind of case a row: the case
// is built with OpenFOAM's tools (blockMesh, gmshToFoam, polyDualMesh,
// foamFormatConvert, decomposePar), copied, set by setFields in one copy
// and by orbset in the other, and every cell value and boundary value of
// the two results compared after OpenFOAM has read both and written them
// again in ascii with 17 digits. Before that, the cell centres of the mesh
// are compared bit for bit with those of postProcess -func
// writeCellCentres. Skipped where OpenFOAM is not installed, failed
// instead where CASETOOLS_REQUIRE_OPENFOAM is set.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numeric>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "casedir.h"
#include "foam/bad.h"
#include "foam/geometry.h"
#include "foam/polymesh.h"

namespace {

using foam::Vec;

const std::string kCases = CASES_DIR;
const std::string kFields[] = {"alpha.phase1", "h"};
const std::string kFeatureFields[] = {"alpha.phase1", "h", "U", "S", "T", "sph"};
const int kProcessors = 3;  // as tests/cases/system/decomposeParDict has it

// ---------------------------------------------------------------- the rows

enum class Mesh {
    hex,      // blockMesh: tests/cases/<name>.blockMeshDict
    graded,
    lattice,
    slab,
    channel,
    large,
    tet,      // gmshToFoam on a generated .msh
    poly,     // polyDualMesh of a tet mesh
};

enum class Storage {
    ascii,
    binary,
    ascii_gz,
    binary_gz,
    ascii_written_binary,  // ascii files, controlDict's writeFormat binary
};

enum class Regions {
    random,            // spheres and boxes anywhere, hand-written layout
    lattice_ties,      // surfaces through the centres of tests/cases/lattice
    openfoam_centres,  // surfaces through OpenFOAM's own centres
    orbfill,           // headcut and orbfill on a dump
    orbtint,           // headcut and orbtint on a dump
    features,          // tests/cases/features: every source, field type and template
    features_libs,     // the same, controlDict loading the libraries of its patch types
    features_region,   // the same as region "solid" of a case of regions
};

enum class Against {
    serial,          // setFields on the whole case
    parallel,        // setFields -parallel; orbset -parallel without cellProcAddressing
    parallel_moved,  // setFields -parallel on processor meshes moved since decomposePar
};

struct Row {
    const char *name;
    const char *why;
    Mesh mesh;
    Storage storage;
    int precision;   // writePrecision
    Regions regions;
    bool decomposed; // orbset -parallel, reconstructPar
    Against against;
};

const Row kRows[] = {
    // the kinds of mesh
    {"hex", "the plain case: uniform cubes", Mesh::hex, Storage::ascii, 8, Regions::random,
     false, Against::serial},
    {"graded", "graded, skewed cells with arc edges: every cell different", Mesh::graded,
     Storage::ascii, 8, Regions::random, false, Against::serial},
    {"tetrahedra", "faces of three points: the triangle path of the face geometry", Mesh::tet,
     Storage::ascii, 8, Regions::random, false, Against::serial},
    {"polyhedra", "faces of many points around cells of many faces", Mesh::poly,
     Storage::ascii, 8, Regions::random, false, Against::serial},
    {"slab_patches",
     "fixedValue, inletOutlet, calculated, zeroGradient and empty patches, one of them by a "
     "regular expression, on a mesh one cell thick",
     Mesh::slab, Storage::ascii, 8, Regions::random, false, Against::serial},

    // surfaces through centres: a centre one unit in the last place off flips a cell
    {"lattice_ties", "sphere surfaces and box faces exactly through centres", Mesh::lattice,
     Storage::ascii, 8, Regions::lattice_ties, false, Against::serial},
    {"openfoam_centres",
     "surfaces through OpenFOAM's own centres, and bounds that only a reading through strtold "
     "puts on a centre, on a skewed mesh whose points have 12 digits (29 of them, and so 192 "
     "centres, come out otherwise through strtod)",
     Mesh::graded, Storage::ascii, 12, Regions::openfoam_centres, false, Against::serial},

    {"large",
     "200 000 cells, neighbours 300 000 faces apart, more than the cache of face geometry "
     "holds; the cell centres shared out over threads",
     Mesh::large, Storage::binary, 8, Regions::random, false, Against::serial},

    // the ways a mesh and a field are stored
    {"binary", "binary mesh and fields", Mesh::graded, Storage::binary, 8,
     Regions::openfoam_centres, false, Against::serial},
    {"compressed", "compressed ascii mesh and fields", Mesh::tet, Storage::ascii_gz, 8,
     Regions::random, false, Against::serial},
    {"compressed_binary", "binary mesh and fields compressed by gzip", Mesh::poly, Storage::binary_gz, 8,
     Regions::openfoam_centres, false, Against::serial},
    {"written_binary",
     "ascii fields where setFields writes binary: every digit of values of 9 digits, not 8",
     Mesh::hex, Storage::ascii_written_binary, 8, Regions::random, false, Against::serial},

    // decomposed cases
    {"decomposed", "orbset -parallel, reconstructed: as setFields before decomposing",
     Mesh::graded, Storage::ascii, 8, Regions::random, true, Against::serial},
    {"decomposed_centres",
     "surfaces through the cells whose centres a processor mesh moves by an ulp: as setFields "
     "before decomposing",
     Mesh::poly, Storage::ascii, 8, Regions::openfoam_centres, true, Against::serial},
    {"decomposed_unmapped",
     "the same without cellProcAddressing: through the processor meshes' centres, as "
     "setFields -parallel, with a warning",
     Mesh::poly, Storage::ascii, 8, Regions::openfoam_centres, true, Against::parallel},
    {"decomposed_moved",
     "processor meshes moved since decomposePar, the whole mesh left in constant: through the "
     "processor meshes' centres, as setFields -parallel",
     Mesh::graded, Storage::ascii, 8, Regions::random, true, Against::parallel_moved},

    // every source, field type, directive and patch type, on the lattice
    {"features", "every source, field type, template directive and patch type, surfaces "
     "through centres", Mesh::lattice, Storage::ascii, 8, Regions::features, false, Against::serial},
    {"features_libs", "the same, controlDict's libs making wall functions, contact angles and "
     "waveAlpha what their libraries make them", Mesh::lattice, Storage::ascii, 8,
     Regions::features_libs, false, Against::serial},
    {"features_decomposed", "the same, orbset -parallel, reconstructed", Mesh::lattice,
     Storage::binary, 8, Regions::features, true, Against::serial},
    {"features_region", "the same in region solid of a case, -region solid", Mesh::lattice,
     Storage::ascii, 8, Regions::features_region, false, Against::serial},

    // the dictionaries of the road
    {"orbfill", "the dictionary of orbfill for alpha.phase1", Mesh::channel, Storage::ascii, 8,
     Regions::orbfill, false, Against::serial},
    {"orbtint", "the dictionary of orbtint for h", Mesh::channel, Storage::ascii, 8,
     Regions::orbtint, false, Against::serial},
};

void PrintTo(const Row &row, std::ostream *os) { *os << row.name << ": " << row.why; }

// ------------------------------------------------------------ the toolchain

const char *const kTools[] = {"blockMesh",    "setFields",      "postProcess",
                              "gmshToFoam",   "polyDualMesh",   "foamFormatConvert",
                              "decomposePar", "reconstructPar", "mpirun"};

std::string missing_tools()
{
    std::string missing;
    for (const char *tool : kTools)
        if (std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) != 0)
            missing += std::string(" ") + tool;
    return missing;
}

// Runs an OpenFOAM command in the test's directory; false (and a failure
// showing its output) when it fails.
bool foam(const CaseDir &c, const std::string &command)
{
    Outcome o = c.sh(command);
    EXPECT_EQ(o.status, 0) << command << ":\n" << o.out << o.err;
    return o.status == 0;
}

std::string parallel(const std::string &command)
{
    return "mpirun --allow-run-as-root --oversubscribe -np " + std::to_string(kProcessors) + " " +
           command + " -parallel";
}

// ------------------------------------------------------------ building cases

bool binary(Storage s) { return s == Storage::binary || s == Storage::binary_gz; }
bool compressed(Storage s) { return s == Storage::ascii_gz || s == Storage::binary_gz; }

void write_control_dict(const CaseDir &c, const std::string &dir, bool binary_format,
                        int precision, bool compressed_files)
{
    c.write(dir + "/system/controlDict",
            "FoamFile { version 2.0; format ascii; class dictionary; object controlDict; }\n"
            "application setFields;\nstartFrom startTime;\nstartTime 0;\nstopAt endTime;\n"
            "endTime 0;\ndeltaT 1;\nwriteControl timeStep;\nwriteInterval 1;\n"
            "writeFormat " + std::string(binary_format ? "binary" : "ascii") + ";\n"
            "writePrecision " + std::to_string(precision) + ";\n"
            "writeCompression " + (compressed_files ? "on" : "off") + ";\n"
            "timeFormat general;\ntimePrecision 6;\nrunTimeModifiable false;\n");
}

// A tetrahedral mesh of a 1 cm cube in gmsh's format 2.2: n^3 cubes whose
// inner corners are moved at random, each cut into the six tetrahedra
// around its diagonal (the same way in every cube, so that their faces
// meet), and the boundary triangles grouped into the four patches of every
// mesh here.
std::string tetrahedra_msh(int n)
{
    const double h = 0.01 / n;
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> shift(-0.15 * h, 0.15 * h);
    auto id = [n](int i, int j, int k) { return (k * (n + 1) + j) * (n + 1) + i + 1; };
    std::vector<std::array<double, 3>> nodes;
    std::vector<std::array<int, 3>> lattice;
    for (int k = 0; k <= n; ++k)
        for (int j = 0; j <= n; ++j)
            for (int i = 0; i <= n; ++i) {
                std::array<double, 3> p{i * h, j * h, k * h};
                if (i > 0 && i < n && j > 0 && j < n && k > 0 && k < n)
                    for (double &x : p)
                        x += shift(random);
                nodes.push_back(p);
                lattice.push_back({i, j, k});
            }

    const int orders[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    std::vector<std::array<int, 4>> tets;
    std::map<std::array<int, 3>, int> sides;  // how many tetrahedra share a triangle
    for (int k = 0; k < n; ++k)
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i)
                for (const auto &order : orders) {
                    std::array<int, 3> at{i, j, k};
                    std::array<int, 4> t{id(i, j, k), 0, 0, 0};
                    for (int s = 0; s < 3; ++s) {
                        ++at[order[s]];
                        t[s + 1] = id(at[0], at[1], at[2]);
                    }
                    auto p = [&](int v) { return nodes[t[v] - 1]; };
                    double e[3][3];
                    for (int v = 0; v < 3; ++v)
                        for (int x = 0; x < 3; ++x)
                            e[v][x] = p(v + 1)[x] - p(0)[x];
                    double volume = e[0][0] * (e[1][1] * e[2][2] - e[1][2] * e[2][1]) -
                                    e[0][1] * (e[1][0] * e[2][2] - e[1][2] * e[2][0]) +
                                    e[0][2] * (e[1][0] * e[2][1] - e[1][1] * e[2][0]);
                    if (volume < 0)
                        std::swap(t[1], t[2]);
                    tets.push_back(t);
                    for (int skip = 0; skip < 4; ++skip) {
                        std::array<int, 3> tri;
                        for (int v = 0, m = 0; v < 4; ++v)
                            if (v != skip)
                                tri[m++] = t[v];
                        std::sort(tri.begin(), tri.end());
                        ++sides[tri];
                    }
                }

    // physical groups: 1 inlet (x = 0), 2 outlet (x = 1 cm), 3 top (z = 1 cm), 4 walls
    auto all = [&](const std::array<int, 3> &tri, int axis, int value) {
        for (int v : tri)
            if (lattice[v - 1][axis] != value)
                return false;
        return true;
    };
    std::string elements;
    int count = 0;
    char line[160];
    for (const auto &[tri, shared] : sides) {
        if (shared != 1)
            continue;
        int group = all(tri, 0, 0) ? 1 : all(tri, 0, n) ? 2 : all(tri, 2, n) ? 3 : 4;
        std::snprintf(line, sizeof line, "%d 2 2 %d %d %d %d %d\n", ++count, group, group, tri[0],
                      tri[1], tri[2]);
        elements += line;
    }
    for (const auto &t : tets) {
        std::snprintf(line, sizeof line, "%d 4 2 5 5 %d %d %d %d\n", ++count, t[0], t[1], t[2],
                      t[3]);
        elements += line;
    }
    std::string msh = "$MeshFormat\n2.2 0 8\n$EndMeshFormat\n$PhysicalNames\n5\n"
                      "2 1 \"inlet\"\n2 2 \"outlet\"\n2 3 \"top\"\n2 4 \"walls\"\n3 5 \"fluid\"\n"
                      "$EndPhysicalNames\n$Nodes\n" + std::to_string(nodes.size()) + "\n";
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        std::snprintf(line, sizeof line, "%zu %.17g %.17g %.17g\n", i + 1, nodes[i][0],
                      nodes[i][1], nodes[i][2]);
        msh += line;
    }
    return msh + "$EndNodes\n$Elements\n" + std::to_string(count) + "\n" + elements +
           "$EndElements\n";
}

// The two fields of every case, all of their patches of one type each.
std::string field_file(const std::string &name, Mesh mesh)
{
    const bool alpha = name == "alpha.phase1";
    const std::string at_inlet = alpha ? "0.5" : "200000", deflt = alpha ? "0" : "140878";
    std::string text =
        "FoamFile\n{\n    version 2.0;\n    format ascii;\n    class volScalarField;\n"
        "    object " + name + ";\n}\n"
        "dimensions [0 " + std::string(alpha ? "0 0" : "2 -2") + " 0 0 0 0];\n\n"
        "internalField uniform " + deflt + ";\n\nboundaryField\n{\n"
        "    inlet { type fixedValue; value uniform " + at_inlet + "; }\n"
        "    outlet { type inletOutlet; inletValue uniform " + deflt + "; value uniform " +
        at_inlet + "; }\n"
        "    walls { type calculated; value uniform " + deflt + "; }\n"
        "    top { type zeroGradient; }\n";
    if (mesh == Mesh::slab)
        text += "    \"front.*\" { type empty; }\n";
    return text + "}\n";
}

const char *block_mesh_name(Mesh mesh)
{
    switch (mesh) {
    case Mesh::hex: return "hex";
    case Mesh::graded: return "graded";
    case Mesh::lattice: return "lattice";
    case Mesh::slab: return "slab";
    case Mesh::channel: return "channel";
    case Mesh::large: return "large";
    default: return nullptr;
    }
}

bool features(const Row &row)
{
    return row.regions == Regions::features || row.regions == Regions::features_libs ||
           row.regions == Regions::features_region;
}

std::vector<std::string> fields_of(const Row &row)
{
    if (features(row))
        return {std::begin(kFeatureFields), std::end(kFeatureFields)};
    return {std::begin(kFields), std::end(kFields)};
}

// A case of regions: the mesh, fields and dictionary made those of region
// solid (the includes beside the directories that include them).
bool into_region(const CaseDir &c, const std::string &dir)
{
    return foam(c, "cd " + dir + " && mkdir -p constant/solid 0/solid system/solid && "
                   "mv constant/polyMesh constant/solid/ && mv 0/alpha.phase1 0/h 0/U 0/S 0/T 0/sph 0/solid/ && "
                   "mv system/setFieldsDict system/solid/ && cp system/fv* system/solid/ && "
                   "cp -r include system/ && cp -r include 0/");
}

std::string region_option(const Row &row)
{
    return row.regions == Regions::features_region ? " -region solid" : "";
}

// The case of the row in `dir`: mesh and fields, stored as the row says,
// decomposed where it says so.
bool build_case(const CaseDir &c, const std::string &dir, const Row &row)
{
    c.mkdir(dir + "/0");
    if (!foam(c, "cp -r '" + kCases + "/system' " + dir + "/"))
        return false;
    write_control_dict(c, dir, false, row.precision, false);
    if (const char *name = block_mesh_name(row.mesh)) {
        if (!foam(c, "cp '" + kCases + "/" + name + ".blockMeshDict' " + dir +
                         "/system/blockMeshDict && blockMesh -case " + dir))
            return false;
    } else {
        c.write(dir + "/cube.msh", tetrahedra_msh(row.mesh == Mesh::tet ? 16 : 20));
        if (!foam(c, "gmshToFoam -case " + dir + " " + dir + "/cube.msh"))
            return false;
        if (row.mesh == Mesh::poly && !foam(c, "cd " + dir + " && polyDualMesh 80 -overwrite"))
            return false;
    }
    for (const std::string &f : kFields)
        c.write(dir + "/0/" + f, field_file(f, row.mesh));
    if (features(row)) {
        // its fields, dictionary and includes, and the sets and zones it names
        if (!foam(c, "cp -r '" + kCases + "/features/.' " + dir + "/ && topoSet -case " + dir))
            return false;
        if (row.regions == Regions::features_libs)
            c.write(dir + "/system/controlDict",
                    c.read(dir + "/system/controlDict") +
                        "libs (\"libturbulenceModels.so\" \"libtwoPhaseProperties.so\" "
                        "\"libwaveModels.so\");\n");
    }
    if (row.storage == Storage::ascii_written_binary) {
        write_control_dict(c, dir, true, row.precision, false);
    } else if (row.storage != Storage::ascii) {
        write_control_dict(c, dir, binary(row.storage), row.precision, compressed(row.storage));
        if (!foam(c, "foamFormatConvert -case " + dir + " -constant -time 0"))
            return false;
        // OpenFOAM 1912 compresses ascii files only, but reads binary ones
        // compressed, as other versions write them
        if (row.storage == Storage::binary_gz &&
            !foam(c, "cd " + dir + " && gzip constant/polyMesh/points constant/polyMesh/faces "
                     "constant/polyMesh/owner constant/polyMesh/neighbour "
                     "constant/polyMesh/boundary 0/alpha.phase1 0/h"))
            return false;
    }
    if (!row.decomposed)
        return true;
    if (!foam(c, "decomposePar -case " + dir + " -force"))
        return false;
    // a moving mesh: each processor's points in its start time, moved
    return row.against != Against::parallel_moved ||
           (foam(c, "for p in " + dir + "/processor*; do mkdir -p $p/0/polyMesh && "
                    "cp $p/constant/polyMesh/points $p/0/polyMesh/; done") &&
            foam(c, parallel("transformPoints -case " + dir + " -time 0 -translate '(7e-5 0 0)'")));
}

// ------------------------------------------------------------- cell centres

// The words, numbers, strings and punctuation of a dictionary, without its
// comments.
std::vector<std::string> tokens(const std::string &text)
{
    // the end of what starts at i and ends with `last`, or of the text
    auto through = [&text](std::size_t i, const char *last) {
        const std::size_t at = text.find(last, i);
        return at == std::string::npos ? text.size() : at + std::strlen(last);
    };
    std::vector<std::string> v;
    for (std::size_t i = 0; i < text.size();) {
        const char ch = text[i];
        std::size_t end = i + 1;
        if (text.compare(i, 2, "//") == 0)
            i = through(i, "\n");
        else if (text.compare(i, 2, "/*") == 0)
            i = through(i + 2, "*/");
        else if (std::isspace(static_cast<unsigned char>(ch)))
            ++i;
        else {
            if (ch == '"')
                end = through(i + 1, "\"");
            else if (!std::strchr("(){};[]", ch))
                while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) &&
                       !std::strchr("(){};[]\"", text[end]))
                    ++end;
            v.push_back(text.substr(i, end - i));
            i = end;
        }
    }
    return v;
}

// The cell centres of a field C that postProcess wrote in binary.
std::vector<Vec> binary_centres(const std::string &text)
{
    std::size_t at = text.find("internalField");
    at = text.find("List<vector>", at);
    if (at == std::string::npos)
        return {};
    std::size_t n = std::strtoull(text.c_str() + at + 12, nullptr, 10);
    at = text.find('(', at);
    std::vector<Vec> v(n);
    if (at == std::string::npos || text.size() < at + 1 + 24 * n)
        return {};
    std::memcpy(v.data(), text.data() + at + 1, 24 * n);
    return v;
}

// Our centres of the mesh in `dir` against those that postProcess wrote
// there in binary: every bit the same. Returns OpenFOAM's.
std::vector<Vec> checked_centres(const CaseDir &c, const std::string &dir)
{
    std::vector<Vec> theirs = binary_centres(c.read(dir + "/0/C"));
    std::vector<Vec> ours;
    try {
        ours = foam::cell_centres(foam::read_mesh(c.at(dir)));
    } catch (const foam::Bad &e) {
        ADD_FAILURE() << dir << ": " << e.what();
    }
    EXPECT_EQ(ours.size(), theirs.size()) << dir;
    std::size_t differ = 0, first = 0;
    for (std::size_t i = 0; i < ours.size() && i < theirs.size(); ++i)
        if (std::memcmp(&ours[i], &theirs[i], sizeof(Vec)) != 0 && differ++ == 0)
            first = i;
    EXPECT_EQ(differ, 0u) << dir << ": " << differ << " of " << ours.size()
                          << " centres differ in their bits, the first of cell " << first;
    return theirs;
}

// OpenFOAM's cell centres of the case, mesh by mesh (the whole mesh, then
// its processor meshes when it is decomposed), each with the cells that
// surfaces should pass through: all of them, or in a decomposed case those
// whose centre in the processor mesh differs in its bits from the same
// cell's in the whole mesh (the faces of a cell come in another order).
struct Centres {
    std::vector<std::vector<Vec>> meshes;
    std::vector<std::vector<std::size_t>> ties;
};

Centres openfoam_centres(const CaseDir &c, const std::string &base, const Row &row)
{
    const std::string dir = base + ".centres";
    foam(c, "cp -r " + base + " " + dir);
    write_control_dict(c, dir, true, 17, false);
    foam(c, "postProcess -case " + dir + " -func writeCellCentres -time 0");
    const std::vector<Vec> whole = checked_centres(c, dir);
    Centres centres;
    if (!row.decomposed || row.against == Against::parallel_moved) {
        centres.meshes.push_back(whole);
        centres.ties.emplace_back(whole.size());
        std::iota(centres.ties[0].begin(), centres.ties[0].end(), 0);
        return centres;
    }
    foam(c, parallel("postProcess -case " + dir + " -func writeCellCentres -time 0"));
    centres.meshes.push_back(whole);
    centres.ties.emplace_back();
    for (int p = 0; p < kProcessors; ++p) {
        const std::string processor = dir + "/processor" + std::to_string(p);
        const std::vector<Vec> &mine = centres.meshes.emplace_back(checked_centres(c, processor));
        std::vector<foam::label> cell;
        try {
            cell = foam::read_cell_addressing(
                c.at(processor + "/constant/polyMesh/cellProcAddressing"),
                static_cast<foam::label>(mine.size()), static_cast<foam::label>(whole.size()));
        } catch (const foam::Bad &e) {
            ADD_FAILURE() << e.what();
        }
        std::vector<std::size_t> &ties = centres.ties.emplace_back();
        for (std::size_t i = 0; i < cell.size(); ++i) {
            const auto in_whole = static_cast<std::size_t>(cell[i]);
            if (std::memcmp(&mine[i], &whole[in_whole], sizeof(Vec)) != 0) {
                ties.push_back(i);
                centres.ties[0].push_back(in_whole);
            }
        }
        EXPECT_TRUE(!ties.empty() || features(row))  // whose centres are exact
            << processor << ": every centre as in the whole mesh";
    }
    return centres;
}

// ------------------------------------------------------------- dictionaries

std::string num(double x, int digits = 17)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.*g", digits, x);
    return text;
}

// A point as the dictionary holds it, each coordinate in its own text.
using Corner = std::array<std::string, 3>;

Corner corner(const Vec &p, int digits = 17)
{
    return {num(p.x, digits), num(p.y, digits), num(p.z, digits)};
}

std::string point(const Corner &p) { return "(" + p[0] + " " + p[1] + " " + p[2] + ")"; }

std::string point(const Vec &p, int digits = 17) { return point(corner(p, digits)); }

struct BoxText {
    Corner min, max;
};

// A decimal that OpenFOAM, which reads with strtold and narrows to double,
// reads as x, and that a correctly rounded reading (strtod) reads as the
// next double away from zero. It lies a hair beyond the midpoint of the
// two: strtold with a 64-bit mantissa (x86-64) lands on the midpoint
// itself, and the narrowing goes to the even one, which x must be. Where
// long double reads it otherwise, x in 17 digits.
std::string read_only_by_strtold_as(double x)
{
    const double away = std::nextafter(x, x > 0 ? HUGE_VAL : -HUGE_VAL);
    const long double middle = (static_cast<long double>(x) + away) / 2;
    char text[128];
    std::snprintf(text, sizeof text, "%.70Le", middle);  // every digit of it
    std::string s = text;
    s.insert(s.find('e'), "1");
    if (static_cast<double>(std::strtold(s.c_str(), nullptr)) != x)
        return num(x);
    EXPECT_EQ(std::strtod(s.c_str(), nullptr), away) << s;
    return s;
}

bool even(double x)
{
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return (bits & 1) == 0;
}

// The regions of a dictionary, each setting alpha.phase1 (and every third
// h too) to a value of its own, so that the order in which they apply
// shows. setFields reads and writes a whole field for each: its time grows
// with regions x fields x cells.
class Dictionary {
public:
    void box(const std::vector<BoxText> &boxes)
    {
        std::string text;
        if (boxes.size() == 1) {
            text = "        box " + point(boxes[0].min) + " " + point(boxes[0].max) + ";\n";
        } else {
            text = "        boxes\n        (\n";
            for (const BoxText &b : boxes)
                text += "            " + point(b.min) + " " + point(b.max) + "\n";
            text += "        );\n";
        }
        add("boxToCell", text);
    }

    // keyword: origin, or centre as it was called before
    void sphere(const std::string &keyword, const std::string &origin, const std::string &radius,
                const std::string &inner = "")
    {
        std::string text = "        " + keyword + " " + origin + ";\n        radius " + radius +
                           ";\n";
        if (!inner.empty())
            text += "        innerRadius " + inner + ";  // a shell\n";
        add("sphereToCell", text);
    }

    std::string text() const
    {
        return "/* regions written by the test against setFields */\n"
               "FoamFile\n{\n    version     2.0;\n    format      ascii;\n"
               "    class       dictionary;\n    object      setFieldsDict;\n}\n\n"
               "defaultFieldValues\n(\n    volScalarFieldValue alpha.phase1 0\n"
               "    volScalarFieldValue h 140878\n);\n\nregions\n(\n" + regions_ + ");\n";
    }

private:
    void add(const char *source, const std::string &entries)
    {
        ++count_;
        regions_ += "    " + std::string(source) + "\n    {\n" + entries +
                    "        fieldValues\n        (\n"
                    "            volScalarFieldValue alpha.phase1 " + num((count_ % 13 + 1) / 13.0, 9) +
                    "\n";
        if (count_ % 3 == 0)
            regions_ += "            volScalarFieldValue h " + std::to_string(140878 + 1000 * count_) +
                        "\n";
        regions_ += "        );\n    }\n";
    }

    std::string regions_;
    int count_ = 0;
};

struct Bounds {
    Vec lo, hi;
};

Bounds bounds(const std::vector<std::vector<Vec>> &centres)
{
    Bounds b{centres[0][0], centres[0][0]};
    for (const auto &mesh : centres)
        for (const Vec &p : mesh) {
            b.lo = {std::min(b.lo.x, p.x), std::min(b.lo.y, p.y), std::min(b.lo.z, p.z)};
            b.hi = {std::max(b.hi.x, p.x), std::max(b.hi.y, p.y), std::max(b.hi.z, p.z)};
        }
    return b;
}

// Spheres and boxes anywhere over the mesh and a little beyond: some with
// an inner radius, some with a negative radius, some by the old keyword.
void random_regions(Dictionary &d, const Bounds &b)
{
    std::mt19937_64 random(11);
    auto along = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo - 0.1 * (hi - lo),
                                                      hi + 0.1 * (hi - lo))(random);
    };
    auto somewhere = [&] {
        return Vec{along(b.lo.x, b.hi.x), along(b.lo.y, b.hi.y), along(b.lo.z, b.hi.z)};
    };
    const double size = std::max({b.hi.x - b.lo.x, b.hi.y - b.lo.y, b.hi.z - b.lo.z});
    Vec mid{(b.lo.x + b.hi.x) / 2, (b.lo.y + b.hi.y) / 2, (b.lo.z + b.hi.z) / 2};
    d.box({{corner({b.lo.x, b.lo.y, mid.z}, 9), corner({mid.x, b.hi.y, b.hi.z}, 9)}});
    for (int i = 0; i < 40; ++i) {
        double radius = std::uniform_real_distribution<double>(0.03, 0.15)(random) * size;
        d.sphere(i % 3 == 0 ? "centre" : "origin", point(somewhere(), 9),
                 num(i % 7 == 0 ? -radius : radius, 9), i % 5 == 0 ? num(radius / 2, 9) : "");
        if (i == 20) {
            Vec p = somewhere(), q = somewhere();
            d.box({{corner({std::min(p.x, q.x), b.lo.y - 1, std::min(p.z, q.z)}, 9),
                    corner({std::max(p.x, q.x), mid.y, std::max(p.z, q.z)}, 9)},
                   {corner(mid, 9), corner(b.hi, 9)}});
        }
    }
}

// The centres of tests/cases/lattice lie at n + 0.5: origins on multiples
// of 0.5 and radii on whole or half numbers give exact distances, many of
// them equal to the radius.
void lattice_regions(Dictionary &d)
{
    auto p = [](double x, double y, double z) { return point(Vec{x, y, z}, 9); };
    auto s = [](double x) { return corner({x, x, x}, 9); };
    d.sphere("origin", p(10.5, 10.5, 10.5), "5");        // (5 0 0), (3 4 0) away: outside
    d.sphere("origin", p(20.5, 9.5, 15.5), "4", "3");    // the inner surface through centres
    d.sphere("origin", p(10, 20.5, 20.5), "2.5");        // on a face: (2.5 0 0), (1.5 2 0)
    d.sphere("origin", p(5.5, 25.5, 5.5), "-3");         // by its size
    d.sphere("origin", p(25.5, 25.5, 25.5), "0");        // takes nothing
    d.box({{{"5.5", "5.5", "5.5"}, {"12.5", "20.5", "8.5"}}});  // faces through centres
    d.box({{s(7.5), s(7.5)}});                                  // one cell
    d.box({{{"9.5", "1", "1"}, {"3.5", "29", "29"}}});         // min above max: none
    d.box({{{"0", "0", "20.5"}, {"30", "2.5", "30"}}, {s(1.5), s(3.5)}});  // overlapping
    std::mt19937_64 random(7);
    std::uniform_int_distribution<int> half(0, 60), size(2, 12);
    for (int i = 0; i < 40; ++i)
        d.sphere("origin", p(half(random) / 2.0, half(random) / 2.0, half(random) / 2.0),
                 num(size(random) / 2.0, 9), i % 4 == 0 ? num(size(random) / 4.0, 9) : "");
}

double distance2(const Vec &a, const Vec &b)
{
    const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return dx * dx + dy * dy + dz * dz;
}

// Spheres from the centre of one cell whose surface passes a hair inside,
// through or a hair outside the centre of a nearby cell, both of one mesh
// (or processor mesh), and boxes with a face through a centre, written in
// the decimal that only a reading through strtold puts there.
void centre_regions(Dictionary &d, const Centres &centres)
{
    std::mt19937_64 random(13);
    const Bounds b = bounds(centres.meshes);
    const double reach2 = distance2(b.lo, b.hi) / 400;
    auto pick = [&random](const std::vector<std::size_t> &cells) {
        return cells[std::uniform_int_distribution<std::size_t>(0, cells.size() - 1)(random)];
    };
    for (int i = 0; i < 45; ++i) {
        const std::size_t m = static_cast<std::size_t>(i) % centres.meshes.size();
        const std::vector<Vec> &c = centres.meshes[m];
        const Vec on_surface = c[pick(centres.ties[m])];
        Vec origin;
        do
            origin = c[std::uniform_int_distribution<std::size_t>(0, c.size() - 1)(random)];
        while (distance2(origin, on_surface) > reach2 || distance2(origin, on_surface) == 0);
        // the largest radius that leaves that centre outside
        const double d2 = distance2(on_surface, origin);
        double r = std::sqrt(d2);
        while (r * r > d2)
            r = std::nextafter(r, 0.0);
        while (std::nextafter(r, HUGE_VAL) * std::nextafter(r, HUGE_VAL) <= d2)
            r = std::nextafter(r, HUGE_VAL);
        std::string radius = num(i % 3 == 1 ? std::nextafter(r, HUGE_VAL) : r);
        if (i % 3 == 2 && even(r))
            radius = read_only_by_strtold_as(r);
        d.sphere("origin", point(origin), radius);
    }
    const Corner below = corner({b.lo.x - 1, b.lo.y - 1, b.lo.z - 1}),
                 above = corner({b.hi.x + 1, b.hi.y + 1, b.hi.z + 1});
    for (int i = 0; i < 15; ++i) {
        const std::size_t m = static_cast<std::size_t>(i) % centres.meshes.size();
        const int axis = i % 3;
        double x;
        do {
            const Vec &p = centres.meshes[m][pick(centres.ties[m])];
            x = axis == 0 ? p.x : axis == 1 ? p.y : p.z;
        } while (!even(x) || x == 0);
        BoxText box{below, above};
        (x > 0 ? box.min : box.max)[static_cast<std::size_t>(axis)] = read_only_by_strtold_as(x);
        d.box({box});
    }
}

// dump0.txt for headcut: 18 header lines, then spheres over the channel of
// the example case around the fill box of orbfill and orbtint.
std::string dump()
{
    std::string text = dump_header();
    std::mt19937_64 random(19);
    std::uniform_real_distribution<double> x(-250e-6, 1250e-6), y(-150e-6, 450e-6),
        z(-450e-6, 150e-6), r(20e-6, 120e-6);
    for (int i = 0; i < 60; ++i) {
        char line[160];
        std::snprintf(line, sizeof line, "%.9g\t%.9g\t%.9g\t%.9g\n", x(random), y(random),
                      z(random), r(random));
        text += line;
    }
    return text;
}

bool write_dictionary(const CaseDir &c, const std::string &dir, const Row &row,
                      const Centres &centres)
{
    Dictionary d;
    switch (row.regions) {
    case Regions::random: random_regions(d, bounds(centres.meshes)); break;
    case Regions::lattice_ties: lattice_regions(d); break;
    case Regions::openfoam_centres: centre_regions(d, centres); break;
    case Regions::features:
    case Regions::features_libs:
    case Regions::features_region:
        return true;  // its own, from tests/cases/features
    case Regions::orbfill:
    case Regions::orbtint: {
        c.write(dir + "/dump0.txt", dump());
        const char *tool = row.regions == Regions::orbfill ? "orbfill" : "orbtint";
        Outcome o = c.sh("cd " + dir + " && '" BIN_DIR "/headcut' && '" BIN_DIR "/" +
                         std::string(tool) + "'");
        EXPECT_EQ(o.status, 0) << o.err;
        return o.status == 0;
    }
    }
    c.write(dir + "/system/setFieldsDict", d.text());
    return true;
}

// ------------------------------------------------------- reading the results

// The values of one field as OpenFOAM wrote them in ascii: the internal
// field and, for every patch, its type and value entry.
struct Values {
    std::string form;  // uniform or nonuniform
    std::vector<double> numbers;
    bool operator==(const Values &) const = default;
};

struct Patch {
    std::string type;
    Values value;  // empty where the patch writes none
    bool operator==(const Patch &) const = default;
};

struct Field {
    Values internal;
    std::map<std::string, Patch> patches;
};

// "uniform V" or "nonuniform List<T> N ( ... )" from tokens at k, V a
// number or "( a b c ... )": every number, in order.
Values values_at(const std::vector<std::string> &t, std::size_t k)
{
    Values v;
    v.form = t.at(k);
    std::size_t at = v.form == "uniform" ? k + 1 : k + 3;
    int depth = 0;
    do {
        const std::string &x = t.at(at++);
        depth += x == "(" ? 1 : x == ")" ? -1 : 0;
        if (x != "(" && x != ")")
            v.numbers.push_back(std::strtod(x.c_str(), nullptr));
    } while (depth > 0);
    return v;
}

Field read_field(const std::string &text)
{
    const std::vector<std::string> t = tokens(text);
    Field f;
    std::size_t k = 0;
    while (k < t.size() && t[k] != "internalField")
        ++k;
    if (k == t.size())
        return f;
    f.internal = values_at(t, k + 1);
    while (k < t.size() && t[k] != "boundaryField")
        ++k;
    // boundaryField { name { type T; value ...; ... } ... }
    for (k += 2; k + 1 < t.size() && t[k] != "}";) {
        Patch &p = f.patches[t[k]];
        int depth = 0;
        for (k += 1; k < t.size(); ++k) {
            depth += t[k] == "{" ? 1 : t[k] == "}" ? -1 : 0;
            if (depth == 0)
                break;
            if (depth == 1 && t[k] == "type")
                p.type = t[k + 1];
            if (depth == 1 && t[k] == "value")
                p.value = values_at(t, k + 1);
        }
        ++k;
    }
    return f;
}

// Every value of the two fields the same.
void expect_same_field(const std::string &ours_text, const std::string &theirs_text,
                       const std::string &what)
{
    const Field ours = read_field(ours_text), theirs = read_field(theirs_text);
    ASSERT_FALSE(theirs.internal.numbers.empty()) << what << ": no internalField in\n"
                                                  << theirs_text.substr(0, 2000);
    EXPECT_EQ(ours.internal.form, theirs.internal.form) << what;
    ASSERT_EQ(ours.internal.numbers.size(), theirs.internal.numbers.size()) << what;
    std::size_t differ = 0;
    for (std::size_t i = 0; i < ours.internal.numbers.size(); ++i)
        if (ours.internal.numbers[i] != theirs.internal.numbers[i] && differ++ < 5)
            ADD_FAILURE() << what << ": cell " << i << " holds " << num(ours.internal.numbers[i])
                          << ", setFields gives " << num(theirs.internal.numbers[i]);
    EXPECT_EQ(differ, 0u) << what << ": cells that differ";
    EXPECT_FALSE(theirs.patches.empty()) << what;
    for (const auto &[name, patch] : theirs.patches) {
        auto it = ours.patches.find(name);
        ASSERT_NE(it, ours.patches.end()) << what << ": patch " << name;
        EXPECT_EQ(it->second.type, patch.type) << what << ": patch " << name;
        EXPECT_TRUE(it->second.value == patch.value) << what << ": the values of patch " << name;
    }
    EXPECT_EQ(ours.patches.size(), theirs.patches.size()) << what;
}

// OpenFOAM reads the fields of the case in `dir` as fields of the mesh
// (every patch named, every patch value checked) and writes them again in
// ascii with 17 digits, uncompressed.
bool rewrite_in_ascii(const CaseDir &c, const std::string &dir, const Row &row)
{
    const std::vector<std::string> fields = fields_of(row);
    std::string list, args;
    for (const std::string &f : fields) {
        list += (list.empty() ? "" : " ") + f;
        args += (args.empty() ? "" : ", ") + f;
    }
    std::string control = c.read(dir + "/system/controlDict");
    write_control_dict(c, dir, false, 17, false);
    if (row.regions == Regions::features_libs)  // the patch types as setFields had them
        c.write(dir + "/system/controlDict", c.read(dir + "/system/controlDict") +
                                                 control.substr(control.find("libs")));
    return foam(c, "postProcess -case " + dir + region_option(row) + " -time 0 -fields '(" +
                       list + ")' -func 'writeObjects(" + args + ")'");
}

// ------------------------------------------------------------------ the test

class AgainstSetFields : public ::testing::TestWithParam<Row> {};

TEST_P(AgainstSetFields, SameFields)
{
    const Row &row = GetParam();
    const std::string missing = missing_tools();
    if (!missing.empty()) {
        if (std::getenv("CASETOOLS_REQUIRE_OPENFOAM"))
            FAIL() << "OpenFOAM is required here, but these are missing:" << missing;
        GTEST_SKIP() << "OpenFOAM is not installed (Debian: apt-get install openfoam), missing:"
                     << missing;
    }
    setenv("WM_PROJECT_DIR", "/usr/share/openfoam", 0);
    CaseDir c;
    ASSERT_TRUE(build_case(c, "base", row));
    const Centres centres = openfoam_centres(c, "base", row);
    ASSERT_FALSE(centres.meshes[0].empty()) << "no cell centres from postProcess";
    ASSERT_TRUE(write_dictionary(c, "base", row, centres));
    if (row.regions == Regions::features_region) {
        ASSERT_TRUE(into_region(c, "base"));
    }

    // setFields in one copy
    ASSERT_TRUE(foam(c, "cp -r base theirs"));
    if (row.against != Against::serial) {
        ASSERT_TRUE(foam(c, parallel("setFields -case theirs")) &&
                    foam(c, "reconstructPar -case theirs -withZero"));
    } else {
        ASSERT_TRUE(foam(c, "setFields -case theirs" + region_option(row)));
    }

    // orbset in the other
    ASSERT_TRUE(foam(c, "cp -r base ours"));
    const bool unmapped = row.decomposed && row.against == Against::parallel;
    if (unmapped) {
        ASSERT_TRUE(foam(c, "for p in ours/processor*/constant; do mv "
                            "$p/polyMesh/cellProcAddressing $p/kept; done"));
    }
    Outcome o = c.sh("cd ours && '" BIN_DIR "/orbset'" + region_option(row) +
                     std::string(row.decomposed ? " -parallel" : ""));
    ASSERT_EQ(o.status, 0) << o.err;
    if (unmapped)
        EXPECT_NE(o.err.find("cellProcAddressing: no such file"), std::string::npos) << o.err;
    else  // but for spheres that take no cell or one only, and internal faces
        for (std::size_t at = 0, nl; (nl = o.err.find('\n', at)) != std::string::npos; at = nl + 1) {
            const std::string line = o.err.substr(at, nl - at);
            EXPECT_TRUE(line.find("the mesh does not resolve") != std::string::npos ||
                        line.find("which setFields ignores too") != std::string::npos)
                << line;
        }
    if (row.decomposed) {
        if (unmapped) {
            ASSERT_TRUE(foam(c, "for p in ours/processor*/constant; do mv $p/kept "
                                "$p/polyMesh/cellProcAddressing; done"));
        }
        ASSERT_TRUE(foam(c, "reconstructPar -case ours -withZero"));
    }

    ASSERT_TRUE(rewrite_in_ascii(c, "theirs", row) && rewrite_in_ascii(c, "ours", row));
    const std::string in = row.regions == Regions::features_region ? "/0/solid/" : "/0/";
    for (const std::string &f : fields_of(row))
        expect_same_field(c.read("ours" + in + f), c.read("theirs" + in + f), row.name + (": " + f));
}

INSTANTIATE_TEST_SUITE_P(Cases, AgainstSetFields, ::testing::ValuesIn(kRows),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
