#include "polymesh.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <cstdint>
#include <limits>

#include "bad.h"
#include "dictionary.h"
#include "lexer.h"

namespace foam {

namespace {

constexpr std::int64_t kLabelMax = std::numeric_limits<label>::max();
// A face has three points or more.
constexpr label kFaceMinPoints = 3;

// The types whose patches OpenFOAM puts in a group of the type's name.
constexpr const char *kConstraintTypes[] = {
    "cyclic",       "cyclicAMI",     "cyclicACMI", "cyclicSlip", "empty",
    "nonuniformTransformCyclic",     "processor",  "processorCyclic",
    "symmetryPlane", "symmetry",     "wedge",      "overset",
};

// Runs work, which reads the file at path: memory that runs out while it
// is read ends the run in a line naming the file.
template <class Work>
void reading(const std::string &path, Work work)
{
    try {
        work();
    } catch (const std::bad_alloc &) {
        throw Bad(path + ": out of memory");
    } catch (const std::length_error &) {
        throw Bad(path + ": out of memory");
    }
}

// A mesh file read from its header on: the text and where reading is.
class MeshFile {
public:
    MeshFile(const std::string &path, std::initializer_list<const char *> classes)
        : text_(map_text(path)), c(text_)
    {
        h = read_header(c);
        for (const char *cls : classes)
            if (h.cls == cls)
                return;
        std::string want;
        for (const char *cls : classes)
            want += (want.empty() ? "" : " or ") + std::string(cls);
        c.fail(text_.begin(), "class " + (h.cls.empty() ? std::string("(none)") : h.cls) +
                                  " where " + want + " is expected");
    }
    MeshFile(const MeshFile &) = delete;
    MeshFile &operator=(const MeshFile &) = delete;

    const Text &text() const { return text_; }

private:
    Text text_;

public:
    Cursor c;
    Header h;
};

std::vector<Vec> read_points(const std::string &path)
{
    MeshFile f(path, {"vectorField"});
    std::vector<Vec> points = read_vector_list(f.c, f.h, bytes_left(f.c));
    expect_end(f.c);
    if (points.size() > static_cast<std::size_t>(kLabelMax))
        f.c.fail(f.text().begin(), "more points than 32-bit labels count");
    return points;
}

// One face of a faceList: its point labels appended to face_points.
void read_face(Cursor &c, const Header &h, const LabelRange &points, std::vector<label> &out)
{
    skip_space(c);
    // the usual ascii face, "4(a b c d)"
    if (!h.binary && is_digit(c.p[0]) && c.p[1] == '(') {
        int n = c.p[0] - '0';
        c.p += 2;
        for (int i = 0; i < n; ++i)
            out.push_back(read_label(c, points.what, points.lo, points.hi));
        expect(c, ')', "closing a face");
        return;
    }
    read_labels_into(c, h, points, bytes_left(c), out, "a face");
}

void check_face_sizes(const Cursor &c, const char *at, const Mesh &m)
{
    for (std::size_t f = 0; f + 1 < m.face_start.size(); ++f) {
        label n = m.face_start[f + 1] - m.face_start[f];
        if (n < kFaceMinPoints)
            c.fail(at, "face " + std::to_string(f) + " has " + std::to_string(n) +
                           " points; a face has at least " + std::to_string(kFaceMinPoints));
    }
}

// The faces, each point label in [0, points).
void read_faces(const std::string &path, std::int64_t points_count, Mesh &m)
{
    MeshFile f(path, {"faceList", "faceCompactList"});
    m.faces_file = f.text().name;
    Cursor &c = f.c;
    LabelRange points{0, points_count - 1, "point label"};
    skip_space(c);
    const char *list_at = c.p;
    if (f.h.cls == "faceCompactList") {
        LabelRange offsets{0, kLabelMax, "face offset"};
        m.face_start = read_label_list(c, f.h, offsets, bytes_left(c));
        const char *labels_at = c.p;
        m.face_points = read_label_list(c, f.h, points, bytes_left(c));
        expect_end(c);
        if (m.face_start.empty() || m.face_start.front() != 0)
            c.fail(list_at, "the face offsets do not start at 0");
        if (!std::is_sorted(m.face_start.begin(), m.face_start.end()))
            c.fail(list_at, "the face offsets decrease");
        if (static_cast<std::size_t>(m.face_start.back()) != m.face_points.size())
            c.fail(labels_at, "the face offsets end at " + std::to_string(m.face_start.back()) +
                                  " but " + std::to_string(m.face_points.size()) +
                                  " point labels follow");
        check_face_sizes(c, list_at, m);
        return;
    }
    // faceList: "N ( face face ... )"
    // Every label takes two bytes or more: room enough that the list never
    // moves while it grows (untouched room costs no memory).
    reserve_huge(m.face_points, f.text().size / 2 + 1);
    Header per_face = f.h;
    auto read_one = [&](Cursor &k) {
        read_face(k, per_face, points, m.face_points);
        if (m.face_points.size() > static_cast<std::size_t>(kLabelMax))
            k.fail("more face points than 32-bit labels count");
        m.face_start.push_back(static_cast<label>(m.face_points.size()));
        std::size_t n = m.face_start.back() - m.face_start[m.face_start.size() - 2];
        if (n < static_cast<std::size_t>(kFaceMinPoints))
            k.fail("face " + std::to_string(m.face_start.size() - 2) + " has " +
                   std::to_string(n) + " points; a face has at least " +
                   std::to_string(kFaceMinPoints));
    };
    m.face_start.assign(1, 0);
    Token t = next_token(c);
    if (t.kind == Tok::number && t.num.is_label && t.num.label >= 0) {
        // a face takes 8 bytes or more
        reserve_huge(m.face_start,
                     std::min(static_cast<std::size_t>(t.num.label), bytes_left(c) / 8) + 1);
        expect(c, '(', "opening the list of faces");
        for (label i = 0; i < t.num.label; ++i) {
            if (list_ends(c))
                fail_short_list(c, i, t.num.label);
            read_one(c);
        }
        expect(c, ')', "closing the list of faces");
    } else if (t.is('(') && !f.h.binary) {
        for (skip_space(c); *c.p != ')' && !c.at_end(); skip_space(c))
            read_one(c);
        expect(c, ')', "closing the list of faces");
    } else {
        c.fail(t.at, "expected the list of faces (a size and '('), found " + describe(t));
    }
    expect_end(c);
}

struct Cells {
    std::vector<label> cells;
    std::string name;  // the file read
};

Cells read_cells_of_faces(const std::string &path, std::int64_t lo)
{
    MeshFile f(path, {"labelList"});
    std::vector<label> cells =
        read_label_list(f.c, f.h, {lo, kLabelMax - 1, "cell label"}, bytes_left(f.c));
    expect_end(f.c);
    return {std::move(cells), f.text().name};
}

// A cell of fewer faces than a tetrahedron's is no closed cell: a stray
// label in owner or neighbour makes one.
constexpr unsigned kCellMinFaces = 4;

// The cells every face belongs to: the owner of every face, the neighbour
// of every internal face. OpenFOAM's older meshes list a neighbour for
// every face, -1 past the internal ones.
void read_cells(const std::string &dir, const std::string &faces_name, Mesh &m)
{
    auto faces = m.face_start.size() - 1;
    Cells owner = read_cells_of_faces(dir + "owner", 0);
    m.owner = std::move(owner.cells);
    if (m.owner.size() != faces)
        throw Bad(owner.name + " lists " + std::to_string(m.owner.size()) + " owners, " +
                  faces_name + " " + std::to_string(faces) +
                  " faces: the two files disagree (one is cut short, or from another mesh)");
    Cells neighbour = read_cells_of_faces(dir + "neighbour", -1);
    m.neighbour = std::move(neighbour.cells);
    if (m.neighbour.size() == faces)
        m.neighbour.resize(static_cast<std::size_t>(
            std::find(m.neighbour.begin(), m.neighbour.end(), -1) - m.neighbour.begin()));
    if (m.neighbour.size() > faces)
        throw Bad(neighbour.name + " lists " + std::to_string(m.neighbour.size()) +
                  " neighbours, " + faces_name + " " + std::to_string(faces) +
                  " faces: the two files disagree");
    auto bad = std::find_if(m.neighbour.begin(), m.neighbour.end(), [](label l) { return l < 0; });
    if (bad != m.neighbour.end())
        throw Bad(neighbour.name + ": cell label -1 for internal face " +
                  std::to_string(bad - m.neighbour.begin()));
    m.owner_file = owner.name;
    m.neighbour_file = neighbour.name;

    label top = -1, top_neighbour = -1;
    for (label l : m.owner)
        top = std::max(top, l);
    for (label l : m.neighbour)
        top_neighbour = std::max(top_neighbour, l);
    const std::string &top_file = top_neighbour > top ? neighbour.name : owner.name;
    top = std::max(top, top_neighbour);
    m.n_cells = top + 1;
    // every cell is named by a face: more cells than names leave one out
    // (and a stray large label would cost memory in its count)
    if (static_cast<std::size_t>(m.n_cells) > m.owner.size() + m.neighbour.size())
        throw Bad(top_file + ": cell label " + std::to_string(top) + " where the faces name " +
                  std::to_string(m.owner.size() + m.neighbour.size()) +
                  " cells at most: some cell has no face");
    std::vector<unsigned char> n_faces(static_cast<std::size_t>(m.n_cells), 0);
    auto count = [&](label l) {
        unsigned char &n = n_faces[static_cast<std::size_t>(l)];
        n = static_cast<unsigned char>(std::min(n + 1u, kCellMinFaces));
    };
    std::for_each(m.owner.begin(), m.owner.end(), count);
    std::for_each(m.neighbour.begin(), m.neighbour.end(), count);
    auto lone = std::find(n_faces.begin(), n_faces.end(), 0);
    if (lone != n_faces.end())
        throw Bad(owner.name + ": cell " + std::to_string(lone - n_faces.begin()) +
                  " has no face (neither owner nor neighbour of one)");
    auto open = std::find_if(n_faces.begin(), n_faces.end(),
                             [](unsigned char n) { return n < kCellMinFaces; });
    if (open != n_faces.end()) {
        m.open_cell = static_cast<label>(open - n_faces.begin());
        m.open_cell_faces = *open;
    }
}

// The patches cover the boundary faces one after another: the first starts
// after the last internal face (which neighbour counts), the last ends at
// the last face (which faces and owner count). Face numbers are added in
// 64 bits, since a patch may claim any count.
void check_patches(const std::string &path, const Mesh &m)
{
    std::int64_t next = m.n_internal_faces();
    for (std::size_t i = 0; i < m.patches.size(); ++i) {
        const Patch &p = m.patches[i];
        if (p.start != next && i == 0)
            throw Bad(m.neighbour_file + " lists " + std::to_string(next) + " internal faces, " +
                      path + " starts the first patch, " + p.name + ", at face " +
                      std::to_string(p.start) + ": the two files disagree");
        if (p.start != next)
            throw Bad(path + ": patch " + p.name + " starts at face " + std::to_string(p.start) +
                      " where face " + std::to_string(next) + " is next");
        next = std::int64_t{p.start} + p.size;
    }
    if (next != m.n_faces())
        throw Bad(path + ": the patches end at face " + std::to_string(next) + ", " +
                  m.owner_file + " lists " + std::to_string(m.n_faces()) +
                  " faces: the two files disagree");
}

// Skips the value of a dictionary entry: tokens up to ';' outside of
// brackets, or a whole "{ ... }".
void skip_entry_value(Cursor &c, const Token &first)
{
    int depth = 0;
    for (Token t = first;; t = next_token(c)) {
        if (t.kind == Tok::end)
            c.fail(t.at, "an entry runs to the end of the file");
        if (t.is('(') || t.is('{') || t.is('['))
            ++depth;
        else if (t.is(')') || t.is('}') || t.is(']'))
            --depth;
        if (depth < 0)
            c.fail(t.at, "unexpected " + describe(t));
        if (depth == 0 && (t.is(';') || (first.is('{') && t.is('}'))))
            return;
    }
}

BoundaryPatch read_patch(Cursor &c, const Header &h, const Token &name)
{
    BoundaryPatch b;
    b.patch.name = std::string(name.text);
    bool has_start = false, has_size = false;
    expect(c, '{', ("opening the patch " + b.patch.name).c_str());
    for (;;) {
        Token key = next_token(c);
        if (key.is('}'))
            break;
        if (key.kind != Tok::word)
            c.fail(key.at, "expected a keyword in patch " + b.patch.name + ", found " +
                               describe(key));
        if (key.text == "type") {
            Token v = next_token(c);
            if (v.kind != Tok::word)
                c.fail(v.at, "expected the type of patch " + b.patch.name);
            b.patch.type = std::string(v.text);
            expect(c, ';', "after the type");
        } else if (key.text == "neighbProcNo") {
            b.neighbour_processor = read_label(c, "neighbProcNo", 0, kLabelMax);
            expect(c, ';', "after the label");
        } else if (key.text == "nFaces" || key.text == "startFace") {
            bool start = key.text == "startFace";
            label v = read_label(c, start ? "startFace" : "nFaces", 0, kLabelMax);
            (start ? b.patch.start : b.patch.size) = v;
            (start ? has_start : has_size) = true;
            expect(c, ';', "after the label");
        } else if (key.text == "inGroups") {
            // List<word> n(a b ...)
            Token t = next_token(c);
            if (t.is_word("List<word>"))
                t = next_token(c);
            if (t.kind == Tok::number)
                t = next_token(c);
            if (!t.is('('))
                c.fail(t.at, "expected the list of groups, found " + describe(t));
            for (t = next_token(c); !t.is(')'); t = next_token(c)) {
                if (t.kind != Tok::word)
                    c.fail(t.at, "expected a group name, found " + describe(t));
                b.groups.emplace_back(t.text);
            }
            expect(c, ';', "after the groups");
        } else {
            skip_entry_value(c, next_token(c));
        }
    }
    (void)h;
    if (b.patch.type.empty() || !has_start || !has_size)
        c.fail(name.at, "patch " + b.patch.name + " lacks its type, nFaces or startFace");
    for (const char *t : kConstraintTypes)
        if (b.patch.type == t &&
            std::find(b.groups.begin(), b.groups.end(), t) == b.groups.end())
            b.groups.emplace_back(t);
    return b;
}

}  // namespace

std::string polymesh_dir(const std::string &case_dir)
{
    if (case_dir.empty() || case_dir == ".")
        return "constant/polyMesh/";
    return case_dir + (case_dir.back() == '/' ? "" : "/") + "constant/polyMesh/";
}

std::vector<BoundaryPatch> read_boundary(const std::string &path)
{
    MeshFile f(path, {"polyBoundaryMesh"});
    Cursor &c = f.c;
    std::vector<BoundaryPatch> patches;
    Token t = next_token(c);
    std::int64_t count = -1;
    if (t.kind == Tok::number && t.num.is_label && t.num.label >= 0) {
        count = t.num.label;
        t = next_token(c);
    }
    if (!t.is('('))
        c.fail(t.at, "expected the list of patches, found " + describe(t));
    for (t = next_token(c); !t.is(')'); t = next_token(c)) {
        if (t.kind != Tok::word)
            c.fail(t.at, "expected a patch name, found " + describe(t));
        patches.push_back(read_patch(c, f.h, t));
    }
    if (count >= 0 && static_cast<std::size_t>(count) != patches.size())
        c.fail(t.at, "the list of patches holds " + std::to_string(patches.size()) +
                         " patches where its size says " + std::to_string(count));
    expect_end(c);
    return patches;
}

std::vector<label> read_cell_addressing(const std::string &path, label cells, label whole_cells)
{
    MeshFile f(path, {"labelList"});
    std::vector<label> to_whole = read_label_list(
        f.c, f.h, {0, std::int64_t{whole_cells} - 1, "cell label of the whole mesh"},
        bytes_left(f.c));
    expect_end(f.c);
    if (to_whole.size() != static_cast<std::size_t>(cells))
        throw Bad(f.text().name + ": " + std::to_string(to_whole.size()) + " cells where the mesh beside it has " +
                  std::to_string(cells));
    return to_whole;
}

std::vector<Zone> read_zones(const std::string &path, const char *labels_key)
{
    MeshFile f(path, {"regIOobject", "cellZoneMesh", "faceZoneMesh", "pointZoneMesh"});
    Cursor &c = f.c;
    std::vector<Zone> zones;
    Token t = next_token(c);
    if (t.kind == Tok::number && t.num.is_label && t.num.label >= 0)
        t = next_token(c);
    if (!t.is('('))
        c.fail(t.at, "expected the list of zones, found " + describe(t));
    for (t = next_token(c); !t.is(')'); t = next_token(c)) {
        if (t.kind != Tok::word)
            c.fail(t.at, "expected a zone's name, found " + describe(t));
        expect(c, '{', "opening the zone");
        Zone z;
        z.name = std::string(t.text);
        ReadDictionary r;
        Dictionary d;
        read_sub_dictionary(c, f.h, Includes{}, r, d);
        if (const DictEntry *e = d.lookup(labels_key); e && !e->is_dict()) {
            Cursor v = e->cursor();
            skip_space(v);
            if (peek_token(v).is_word("List<label>"))
                next_token(v);
            z.labels = read_label_list(v, e->text == &f.text() ? f.h : Header{},
                                       {INT32_MIN, INT32_MAX, "label"}, bytes_left(v));
        } else {
            c.fail(t.at, "zone " + z.name + " without its " + labels_key);
        }
        zones.push_back(std::move(z));
    }
    expect_end(c);
    return zones;
}

std::vector<label> read_set(const std::string &path, const char *cls)
{
    MeshFile f(path, {cls});
    Header text;  // the labels are text in either format
    std::vector<label> labels =
        read_label_list(f.c, text, {INT32_MIN, INT32_MAX, "label"}, bytes_left(f.c));
    expect_end(f.c);
    return labels;
}

std::vector<label> read_face_addressing(const std::string &path, label faces, label whole_faces)
{
    MeshFile f(path, {"labelList"});
    std::vector<label> to_whole = read_label_list(
        f.c, f.h, {-std::int64_t{whole_faces}, whole_faces, "face label of the whole mesh"},
        bytes_left(f.c));
    expect_end(f.c);
    if (to_whole.size() != static_cast<std::size_t>(faces))
        throw Bad(f.text().name + ": " + std::to_string(to_whole.size()) +
                  " faces where the mesh beside it has " + std::to_string(faces));
    for (label &l : to_whole) {
        if (l == 0)
            throw Bad(f.text().name + ": face label 0, where the whole mesh's faces are counted "
                                      "from 1 (a file of another kind?)");
        l = (l < 0 ? -l : l) - 1;
    }
    return to_whole;
}

Mesh read_mesh(const std::string &case_dir)
{
    std::string dir = polymesh_dir(case_dir);
    return read_mesh(MeshDirs{dir, dir, dir});
}

Mesh read_mesh(const MeshDirs &dirs)
{
    const std::string &dir = dirs.faces;
    Mesh m;
    // the faces, the largest file, on a thread of their own while the
    // points are read; their labels are checked against the points after
    std::exception_ptr faces_failed;
    std::thread faces;
    try {
        faces = std::thread([&] {
            try {
                reading(dir + "faces", [&] { read_faces(dir + "faces", kLabelMax, m); });
            } catch (...) {
                faces_failed = std::current_exception();
            }
        });
    } catch (const std::system_error &e) {
        throw Bad("a thread to read " + dir + "faces: " + e.code().message());
    }
    std::exception_ptr points_failed;
    try {
        reading(dirs.points + "points", [&] { m.points = read_points(dirs.points + "points"); });
    } catch (...) {
        points_failed = std::current_exception();
    }
    faces.join();
    for (const std::exception_ptr &e : {points_failed, faces_failed})
        if (e)
            std::rethrow_exception(e);
    auto points = static_cast<label>(m.points.size());
    if (std::any_of(m.face_points.begin(), m.face_points.end(),
                    [&](label p) { return p >= points; })) {
        Mesh again;
        read_faces(dir + "faces", points, again);  // throws, naming the line
    }
    reading(dir + "owner", [&] { read_cells(dir, m.faces_file, m); });
    for (BoundaryPatch &b : read_boundary(dirs.boundary + "boundary"))
        m.patches.push_back(std::move(b.patch));
    check_patches(dirs.boundary + "boundary", m);
    return m;
}

}  // namespace foam
