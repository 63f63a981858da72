// Cell centres as OpenFOAM computes them in primitiveMeshFaceCentresAndAreas.C
// and primitiveMeshCellCentresAndVols.C (1912; primitiveMeshTools.C in ESI's
// later releases; face::areaAndCentre in the Foundation's 12 and later).
//
// OpenFOAM sweeps the faces four times in global face order, keeping the
// centre and area of every face: the first estimate of each cell centre
// sums the face centres over all owner faces, then over all neighbour
// faces; the pyramid sums follow in the same two sweeps. What matters for
// the bits is only the order in which each cell receives its terms: its
// owner faces in ascending face order, then its neighbour faces in
// ascending face order. Here every cell is finished on its own, its faces
// listed in exactly that order, and the geometry of a face is worked out
// again for each of its two cells (the same operations give the same
// bits), unless the neighbour finds it still kept from its owner. That
// keeps one label per face side and an offset per cell, 32 bytes a cell on
// a hex mesh, and a cache of fixed size, instead of a centre and an area
// per face, about 150 bytes a cell.
#include "geometry.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <system_error>
#include <thread>

#include "bad.h"

namespace foam {

namespace {

// ESI's doubleScalarVSMALL and doubleScalarROOTVSMALL; the Foundation's
// vSmall, the least normal double.
constexpr double kVSmall = 1.0e-300;
constexpr double kRootVSmall = 1.0e-150;
constexpr double kFoundationVSmall = std::numeric_limits<double>::min();

// The operators of OpenFOAM's Vector, each component rounded on its own
// and summed left to right.
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator*(double s, Vec v) { return {s * v.x, s * v.y, s * v.z}; }
Vec operator/(Vec v, double s) { return {v.x / s, v.y / s, v.z / s}; }
double operator&(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec operator^(Vec a, Vec b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double mag(Vec v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

struct FaceGeometry {
    Vec centre, area;
};

// The average of the face's n points, summed in their order.
Vec points_average(const std::vector<Vec> &p, const label *f, label n)
{
    Vec average = p[f[0]];
    for (label i = 1; i < n; ++i)
        average = average + p[f[i]];
    return average / static_cast<double>(n);
}

// The Foundation's centre and area of a face of more than three points,
// as its primitiveMeshFaceCentresAndAreas.C (8 to 11) and
// face::areaAndCentre (12 on) compute them: the triangles' normals summed
// first, then their centres weighted by their normals along the sum's
// direction; the points' average where that weight is not positive.
FaceGeometry foundation_face(const std::vector<Vec> &p, const label *f, label n)
{
    const Vec average = points_average(p, f, n);
    auto next = [&](label i) { return p[f[i == n - 1 ? 0 : i + 1]]; };
    Vec sum_a{0, 0, 0};
    for (label i = 0; i < n; ++i)
        sum_a = sum_a + ((next(i) - p[f[i]]) ^ (average - p[f[i]]));
    // normalised(): the vector over its magnitude, zero where that is 0
    const double mag_a = mag(sum_a);
    const Vec unit = mag_a > 0 ? sum_a / mag_a : Vec{0, 0, 0};

    double sum_an = 0.0;
    Vec sum_anc{0, 0, 0};
    for (label i = 0; i < n; ++i) {
        const Vec a = (next(i) - p[f[i]]) ^ (average - p[f[i]]);
        const Vec c = p[f[i]] + next(i) + average;
        const double an = a & unit;
        sum_an += an;
        sum_anc = sum_anc + an * c;
    }
    return {sum_an > kFoundationVSmall ? (1.0 / 3.0) * sum_anc / sum_an : average, 0.5 * sum_a};
}

// makeFaceCentresAndAreas for one face: triangles directly, other faces as
// the area-weighted centres of the triangles that each edge makes with the
// average of the points.
FaceGeometry face_geometry(const Mesh &m, label face, Centres how)
{
    const label *f = m.face_points.data() + m.face_start[face];
    const label n = m.face_start[face + 1] - m.face_start[face];
    const std::vector<Vec> &p = m.points;
    if (n == 3) {
        return {(1.0 / 3.0) * (p[f[0]] + p[f[1]] + p[f[2]]),
                0.5 * ((p[f[1]] - p[f[0]]) ^ (p[f[2]] - p[f[0]]))};
    }
    if (n == 0)
        return {{0, 0, 0}, {0, 0, 0}};
    if (how == Centres::foundation)
        return foundation_face(p, f, n);

    const Vec centre = points_average(p, f, n);
    Vec sum_n{0, 0, 0}, sum_ac{0, 0, 0};
    double sum_a = 0.0;
    for (label i = 0; i < n; ++i) {
        const Vec here = p[f[i]];
        const Vec next = p[f[i == n - 1 ? 0 : i + 1]];
        const Vec c = here + next + centre;
        const Vec normal = (next - here) ^ (centre - here);
        const double a = mag(normal);
        sum_n = sum_n + normal;
        sum_a += a;
        sum_ac = sum_ac + a * c;
    }
    // zero-area faces keep the average of their points and no area
    if (sum_a < kRootVSmall)
        return {centre, {0, 0, 0}};
    return {(1.0 / 3.0) * sum_ac / sum_a, 0.5 * sum_n};
}

// The faces of every cell, its owner faces in ascending order and then its
// neighbour faces in ascending order, a neighbour face f kept as ~f.
struct CellFaces {
    std::vector<std::size_t> start;  // n_cells + 1 offsets into faces
    std::vector<label> faces;
};

CellFaces cell_faces(const Mesh &m)
{
    const std::size_t cells = static_cast<std::size_t>(m.n_cells);
    CellFaces cf;
    cf.start.assign(cells + 1, 0);
    for (label c : m.owner)
        ++cf.start[static_cast<std::size_t>(c) + 1];
    for (label c : m.neighbour)
        ++cf.start[static_cast<std::size_t>(c) + 1];
    for (std::size_t c = 0; c < cells; ++c)
        cf.start[c + 1] += cf.start[c];

    cf.faces.resize(cf.start[cells]);
    std::vector<std::size_t> next(cf.start.begin(), cf.start.end() - 1);
    for (label f = 0; f < m.n_faces(); ++f)
        cf.faces[next[static_cast<std::size_t>(m.owner[f])]++] = f;
    for (label f = 0; f < m.n_internal_faces(); ++f)
        cf.faces[next[static_cast<std::size_t>(m.neighbour[f])]++] = ~f;
    return cf;
}

// The geometry of internal faces worked out for their owner, kept for
// their neighbour, which usually comes soon after in the order of the
// cells: face f has slot f mod the size, tagged with f while it holds it.
// A face that has lost its slot is worked out again, with the same bits.
class FaceCache {
public:
    FaceCache(label internal_faces, Centres how) : how_(how)
    {
        std::size_t size = 1;
        while (size < kMaxSlots && size < static_cast<std::size_t>(internal_faces))
            size *= 2;
        tags_.assign(size, -1);
        slots_.resize(size);
    }

    void keep(label face, const FaceGeometry &g)
    {
        const std::size_t s = slot(face);
        tags_[s] = face;
        slots_[s] = g;
    }

    FaceGeometry get(const Mesh &m, label face) const
    {
        const std::size_t s = slot(face);
        return tags_[s] == face ? slots_[s] : face_geometry(m, face, how_);
    }

private:
    // 2^18 slots, 14 MiB: the faces between a cell and its farthest
    // neighbour on a structured mesh of 10^6 cells and more
    static constexpr std::size_t kMaxSlots = std::size_t{1} << 18;

    std::size_t slot(label face) const
    {
        return static_cast<std::size_t>(face) & (tags_.size() - 1);
    }

    Centres how_;
    std::vector<label> tags_;
    std::vector<FaceGeometry> slots_;
};

// makeCellCentresAndVols for the cells first to last - 1.
void centres_of_cells(const Mesh &m, const CellFaces &cf, std::size_t first, std::size_t last,
                      std::vector<Vec> &centres, std::vector<double> *volumes, Centres how)
{
    const double smallest = how == Centres::foundation ? kFoundationVSmall : kVSmall;
    FaceCache cache(m.n_internal_faces(), how);
    std::vector<FaceGeometry> faces;  // those of one cell
    for (std::size_t c = first; c < last; ++c) {
        faces.clear();
        // the estimate: the average of the face centres
        Vec estimate{0, 0, 0};
        for (std::size_t k = cf.start[c]; k < cf.start[c + 1]; ++k) {
            const label f = cf.faces[k];
            if (f < 0) {
                faces.push_back(cache.get(m, ~f));
            } else {
                faces.push_back(face_geometry(m, f, how));
                if (f < m.n_internal_faces())
                    cache.keep(f, faces.back());
            }
            estimate = estimate + faces.back().centre;
        }
        const std::size_t n = faces.size();
        estimate = estimate / static_cast<double>(n);

        // the centres of the pyramids from the estimate to each face,
        // weighted by their volumes
        Vec sum{0, 0, 0};
        double volume = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            const FaceGeometry &g = faces[k];
            const double pyr3_vol = cf.faces[cf.start[c] + k] < 0
                                        ? g.area & (estimate - g.centre)
                                        : g.area & (g.centre - estimate);
            const Vec pc = (3.0 / 4.0) * g.centre + (1.0 / 4.0) * estimate;
            sum = sum + pyr3_vol * pc;
            volume += pyr3_vol;
        }
        centres[c] = std::fabs(volume) > smallest ? sum / volume : estimate;
        if (volumes)
            (*volumes)[c] = volume * (1.0 / 3.0);
    }
}

}  // namespace

std::vector<Vec> cell_centres(const Mesh &m, std::vector<double> *volumes, Centres how)
{
    const CellFaces cf = cell_faces(m);
    std::vector<Vec> centres(static_cast<std::size_t>(m.n_cells));
    if (volumes)
        volumes->assign(centres.size(), 0.0);
    // every cell stands on its own: the machine's cores take a share each,
    // though not less than kCellsAThread
    constexpr std::size_t kCellsAThread = 100000;
    const std::size_t parts = std::clamp<std::size_t>(centres.size() / kCellsAThread, 1,
                                                      std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::jthread> threads;
    try {
        for (std::size_t i = 1; i < parts; ++i)
            threads.emplace_back(centres_of_cells, std::cref(m), std::cref(cf),
                                 centres.size() * i / parts, centres.size() * (i + 1) / parts,
                                 std::ref(centres), volumes, how);
    } catch (const std::system_error &e) {
        threads.clear();  // those started are joined first
        throw Bad("a thread to compute the cell centres: " + e.code().message());
    }
    centres_of_cells(m, cf, 0, centres.size() / parts, centres, volumes, how);
    threads.clear();  // joined before the centres leave
    return centres;
}

std::vector<Vec> face_centres(const Mesh &m, Centres how)
{
    std::vector<Vec> centres(static_cast<std::size_t>(m.n_faces()));
    for (label f = 0; f < m.n_faces(); ++f)
        centres[static_cast<std::size_t>(f)] = face_geometry(m, f, how).centre;
    return centres;
}

}  // namespace foam
