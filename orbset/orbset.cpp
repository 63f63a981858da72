// orbset: applies system/setFieldsDict to the fields of an OpenFOAM case,
// with the cell values that setFields gives, reading the mesh once.
#include <algorithm>
#include <csignal>
#include <cstring>
#include <future>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bounds.h"
#include "cores.h"
#include "decomposed.h"
#include "diag.h"
#include "foam/bad.h"
#include "foam/text.h"
#include "replace_fields.h"
#include "run.h"
#include "tool.h"
#include "writer.h"

namespace {

using orbset::Part;
using orbset::Plan;

constexpr int kUsageStatus = 2;
constexpr const char *kUsage =
    "usage: orbset [-case DIR] [-region NAME] [-dict FILE] [-parallel] [-release NAME]\n"
    "       orbset --help | --version\n";
constexpr textio::Tool kTool{
    "orbset",
    "Run it in an OpenFOAM case directory, or name one with -case DIR. It applies\n"
    "system/setFieldsDict (or -dict FILE) to the volume fields it names in the\n"
    "start time's directory, as setFields would: the default values, then every\n"
    "region in order, and the patches that take the cells' values. Each field file\n"
    "is replaced whole, and only once every input has been read. -region NAME sets\n"
    "the fields of a region of a multi-region case. With -parallel it does so in\n"
    "every processorN directory of a decomposed case. It gives the values the\n"
    "setFields of the OpenFOAM release -release NAME names (v2406, 12, ...), else\n"
    "that of WM_PROJECT_VERSION, else v1912. It prints one line a field.\n"
    "Manual: man orbset\n",
    true,
};

struct Options {
    std::string case_dir;
    std::string region;  // -region NAME
    std::string dict;    // -dict FILE
    const char *release = nullptr;  // -release NAME
    bool parallel = false;
};

bool is_one_of(const char *arg, std::initializer_list<const char *> words)
{
    return std::any_of(words.begin(), words.end(),
                       [&](const char *w) { return std::strcmp(arg, w) == 0; });
}

// The help text, on standard output, checked like any output.
int print_help()
{
    std::signal(SIGPIPE, SIG_IGN);  // a closed pipe is a failed write, reported
    if (!textio::stdout_is_open())
        return textio::fail("standard output", EBADF);
    static textio::Sink s;
    textio::open_stdout(s);
    textio::put(s, kUsage, std::strlen(kUsage));
    textio::put(s, "\n", 1);
    textio::put_long(s, kTool.about, std::strlen(kTool.about));
    return textio::close_sink(s) ? 0 : textio::fail(s.path, s.err);
}

int wrong_command_line(const char *why, const char *arg)
{
    textio::failx("%s \"%s\"", why, arg);
    std::fputs(kUsage, stderr);
    return kUsageStatus;
}

// The command line, or the exit status when the program ends there.
std::optional<int> read_options(int argc, char **argv, Options &o)
{
    textio::progname = kTool.name;
    if (argc == 2 && is_one_of(argv[1], {"--help", "-help", "-h"}))
        return print_help();
    if (argc == 2 && is_one_of(argv[1], {"--version", "-version"})) {
        char *version[] = {argv[0], argv[1], nullptr};
        return textio::start(2, version, kTool).value_or(0);
    }
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "-case")) {
            if (i + 1 == argc)
                return wrong_command_line("a directory must follow", argv[i]);
            o.case_dir = argv[++i];
            while (o.case_dir.size() > 1 && o.case_dir.back() == '/')
                o.case_dir.pop_back();  // "case/" names files as "case/0/alpha"
        } else if (!std::strcmp(argv[i], "-region") || !std::strcmp(argv[i], "-dict")) {
            if (i + 1 == argc)
                return wrong_command_line(argv[i][1] == 'r' ? "a region's name must follow"
                                                            : "a file must follow",
                                          argv[i]);
            (argv[i][1] == 'r' ? o.region : o.dict) = argv[i + 1];
            ++i;
        } else if (!std::strcmp(argv[i], "-release")) {
            if (i + 1 == argc)
                return wrong_command_line("a release's name must follow", argv[i]);
            o.release = argv[++i];
        } else if (!std::strcmp(argv[i], "-parallel")) {
            o.parallel = true;
        } else {
            return wrong_command_line("unexpected argument", argv[i]);
        }
    }
    char *alone[] = {argv[0], nullptr};
    return textio::start(1, alone, kTool);
}

// How a kind of source is named in the report, one region and several.
struct Kind {
    orbset::Region::Source source;
    const char *one, *many;
};

constexpr Kind kKinds[] = {
    {orbset::Region::Source::box, "the box", "boxes"},
    {orbset::Region::Source::sphere, "the sphere", "spheres"},
    {orbset::Region::Source::cylinder, "the cylinder", "cylinders"},
    {orbset::Region::Source::rotated_box, "the rotated box", "rotated boxes"},
    {orbset::Region::Source::zone, "zoneToCell", "zoneToCell regions"},
    {orbset::Region::Source::labels, "labelToCell", "labelToCell regions"},
    {orbset::Region::Source::cell_set, "cellToCell", "cellToCell regions"},
};

// "536952 of 1000000 cells set: 40000 by the box, 496952 by 100000
// spheres": each kind of source, by how many of them, and the cells whose
// value they set last.
std::string cells_set(const std::vector<Part> &parts, const Plan &plan, std::size_t f)
{
    long long set = 0, cells = 0, faces = 0;
    for (const Part &p : parts) {
        set += p.set[f];
        cells += p.n_cells;
        faces += p.faces_set[f];
    }
    std::string line = std::to_string(set) + " of " + std::to_string(cells) + " cells set";
    std::string by;
    for (const Kind &k : kKinds) {
        long long regions = 0, cells_by = 0;
        for (const orbset::Region &r : plan.regions)
            if (r.source == k.source && plan.sets(r, f))
                regions += r.source == orbset::Region::Source::box ? static_cast<long long>(r.n_boxes) : 1;
        if (!regions)
            continue;
        for (const Part &p : parts)
            cells_by += p.set_by[f][static_cast<std::size_t>(k.source)];
        by += std::string(by.empty() ? ": " : ", ") + std::to_string(cells_by) + " by " +
              (regions == 1 ? k.one : std::to_string(regions) + " " + k.many);
    }
    line += by.empty() ? " by no region" : by;
    long long face_regions = 0;
    for (const orbset::Region &r : plan.regions)
        face_regions += r.of_faces() && plan.sets(r, f);
    if (face_regions)
        line += "; " + std::to_string(faces) + " boundary faces set by " +
                std::to_string(face_regions) + " region" + (face_regions == 1 ? "" : "s") +
                " of faces";
    return line;
}

// The field's file as the report names it: the part's, or for a decomposed
// case every processor's at once.
std::string field_file(const std::vector<Part> &parts, std::size_t f, bool parallel)
{
    for (const Part &p : parts) {
        if (p.paths[f].empty())
            continue;
        if (!parallel)
            return p.paths[f];
        // processorN/0/alpha: processor*/0/alpha
        const auto slash = p.dir.rfind('/');
        return (slash == std::string::npos ? "" : p.dir.substr(0, slash + 1)) + "processor*" +
               p.paths[f].substr(p.dir.size());
    }
    return "";
}

// One line a field: the file written, and how many of its cells the
// regions set.
int report(const std::vector<Part> &parts, const Plan &plan, const orbset::Release &release,
           bool parallel)
{
    static textio::Sink s;
    textio::open_stdout(s);
    for (std::size_t f = 0; f < plan.fields.size(); ++f) {
        bool present = false;
        for (const Part &p : parts)
            present = present || p.fields[f].present();
        if (!present)
            continue;  // a warning said so
        std::string line = field_file(parts, f, parallel) + ": " + cells_set(parts, plan, f) +
                           ", as setFields of OpenFOAM " + release.name() + "\n";
        textio::put_long(s, line.data(), line.size());
    }
    return textio::close_sink(s) ? 0 : textio::fail(s.path, s.err);
}

// One warning for the spheres that took no cell, or one only: particles
// the mesh does not resolve.
void warn_unresolved(const std::vector<Part> &parts, const Plan &plan)
{
    long long none = 0, one = 0, spheres = 0;
    for (std::size_t r = 0; r < plan.regions.size(); ++r) {
        if (plan.regions[r].source != orbset::Region::Source::sphere || !plan.regions[r].n_settings)
            continue;
        long long taken = 0;
        for (const Part &p : parts)
            if (r < p.taken.size())
                taken += p.taken[r];
        ++spheres;
        none += taken == 0;
        one += taken == 1;
    }
    if (!none && !one)
        return;
    textio::warnx("%s: of %lld sphere%s, %lld set%s no cell and %lld one cell only: the mesh "
                  "does not resolve those particles, so the share of cells set is a poor "
                  "measure of the packing's solid fraction",
                  plan.name.c_str(), spheres, spheres == 1 ? "" : "s", none,
                  none == 1 ? "s" : "", one);
}

// The mesh files are mapped: one cut short while it is read ends the run
// here, before anything is written, in one line naming it.
void on_sigbus(int, siginfo_t *info, void *)
{
    const char *file = foam::mapped_file_at(info->si_addr);
    for (const char *part : {"orbset: ", file ? file : "an input file",
                             ": cut short while it was read\n"}) {
        ssize_t ignored = write(STDERR_FILENO, part, std::strlen(part));
        (void)ignored;
    }
    _exit(1);
}

// ESI's v2012 and later compute the cell centres with the geometry scheme
// fvSchemes chooses: orbset computes those of basic, the default (and of
// solidBody, the same on a mesh setFields does not move), and refuses
// another.
void check_geometry_scheme(const Options &o, const foam::Includes &inc,
                           const orbset::Release &release)
{
    const std::string path = orbset::under(
        o.case_dir, "system/" + (o.region.empty() ? "" : o.region + "/") + "fvSchemes");
    if (foam::find_file(path).empty())
        return;
    std::string scheme;
    orbset::naming(path, [&] {
        foam::Includes schemes_inc = inc;
        schemes_inc.bound = orbset::kSchemesBound;
        scheme = orbset::geometry_scheme(foam::load_text(path, orbset::kSchemesBound), schemes_inc);
    });
    if (scheme != "basic" && !(scheme == "solidBody" && release.esi(2206)))
        throw foam::Bad(path + ": geometry " + scheme + ": the setFields of OpenFOAM " +
                        release.name() + " tests the cell centres of that scheme, which orbset "
                        "does not compute (it computes those of basic); use setFields");
}

// The controls, and the parts of the run, each with where its mesh is:
// the case, or every processorN directory of a decomposed case.
std::vector<Part> read_parts(const Options &o, const foam::Includes &inc,
                             const orbset::Release &release, orbset::Control &control)
{
    const std::string path = orbset::under(o.case_dir, "system/controlDict");
    orbset::naming(path, [&] {
        foam::Includes control_inc = inc;
        control_inc.bound = orbset::kControlBound;
        control = orbset::read_control(foam::load_text(path, orbset::kControlBound), control_inc);
    });
    control.earliest_time = release.foundation(11);
    if (release.esi(2012))
        check_geometry_scheme(o, inc, release);
    std::vector<Part> parts;
    for (const std::string &dir :
         o.parallel ? orbset::processor_dirs(o.case_dir) : std::vector<std::string>{o.case_dir}) {
        parts.emplace_back();
        parts.back().dir = dir;
        parts.back().region = o.region;
        parts.back().includes = inc;
        parts.back().libs = control.libs;
        parts.back().release = release;
        parts.back().parallel = o.parallel;
        orbset::locate_mesh(parts.back(), control);
    }
    return parts;
}

// Where the dictionary is: system/setFieldsDict, system/NAME/setFieldsDict
// for a region, or -dict FILE (a directory: its setFieldsDict), relative
// to the case.
std::string dictionary_path(const Options &o)
{
    if (o.dict.empty())
        return orbset::under(o.case_dir, "system/" + (o.region.empty() ? "" : o.region + "/") +
                                             "setFieldsDict");
    std::string path = o.dict[0] == '/' ? o.dict : orbset::under(o.case_dir, o.dict);
    return foam::is_dir(path) ? path + "/setFieldsDict" : path;
}

// The dictionary, and where every part's fields are.
void read_plan_and_fields(const Options &o, const foam::Includes &inc,
                          const orbset::Release &release, Plan &plan,
                          const orbset::Control &control, std::vector<Part> &parts)
{
    const std::string path = dictionary_path(o);
    orbset::naming(path, [&] {
        foam::Includes dict_inc = inc;
        dict_inc.bound = orbset::kDictionaryBound;
        plan = orbset::read_plan(foam::load_text(path, orbset::kDictionaryBound), dict_inc,
                                 release);
    });
    for (Part &part : parts)
        orbset::locate_fields(part, plan, control);
}

// Every field's replacement stays open until all are written, so that
// none takes its name before every one is whole: a case decomposed into
// many processor directories needs a descriptor for each, more than the
// usual soft limit of 1024. The soft limit goes up to the hard one (a
// refusal leaves it as it was).
void allow_open_files()
{
    struct rlimit r;
    if (getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur < r.rlim_max) {
        r.rlim_cur = r.rlim_max;
        setrlimit(RLIMIT_NOFILE, &r);
    }
}

int run(const Options &o)
{
    allow_open_files();
    struct sigaction bus {};
    bus.sa_sigaction = on_sigbus;
    bus.sa_flags = SA_SIGINFO;
    sigaction(SIGBUS, &bus, nullptr);
    std::vector<Part> parts;
    Plan plan;
    orbset::Control control;
    foam::Includes inc;
    inc.case_dir = o.case_dir;
    orbset::Release release;
    try {
        release = orbset::release_of_run(o.release);
        foam::set_reading(orbset::number_reading(release));
        inc.etc = foam::etc_dirs(release.etc_name());
        parts = read_parts(o, inc, release, control);
        if (o.parallel) {
            read_plan_and_fields(o, inc, release, plan, control, parts);
            orbset::set_decomposed(parts, plan, control, o.case_dir);
        } else {
            // the mesh is read while the dictionary is; the regions that
            // are not chosen by cell centres wait for it
            orbset::Failures failures{std::vector<std::string>(2)};
            std::promise<const Plan *> read;
            std::shared_future<const Plan *> ready = read.get_future().share();
            std::jthread geometry;
            try {
                geometry = std::jthread([&] {
                    failures.run(1, [&] {
                        orbset::read_geometry(parts[0], [&] { return ready.get(); }, control);
                    });
                });
            } catch (const std::system_error &e) {
                throw foam::Bad("a thread to read the mesh: " + e.code().message());
            }
            failures.run(0, [&] { read_plan_and_fields(o, inc, release, plan, control, parts); });
            read.set_value(failures.what[0].empty() ? &plan : nullptr);
            geometry.join();
            failures.throw_first();
            orbset::Claims claims = orbset::claim_cells(parts[0], plan, orbset::cores());
            parts[0].taken = claims.taken;
            orbset::set_fields(parts[0], plan, claims);
        }
    } catch (const std::exception &e) {
        return textio::failx("%s", orbset::reason(e).c_str());
    }
    for (const std::string &w : plan.warnings)
        textio::warnx("%s", w.c_str());
    for (const Part &p : parts)
        for (const std::string &w : p.warnings)
            textio::warnx("%s", w.c_str());
    warn_unresolved(parts, plan);
    try {
        // ascii values with writePrecision's digits, or every digit where
        // setFields would write the field in binary
        int digits =
            control.write_binary ? orbset::NumberText::kEveryDigit : control.write_precision;
        if (int status = orbset::replace_fields(parts, plan, digits))
            return status;
    } catch (const std::exception &e) {
        return textio::failx("%s", orbset::reason(e).c_str());
    }
    return report(parts, plan, release, o.parallel);
}

}  // namespace

int main(int argc, char **argv)
{
    Options o;
    if (auto end = read_options(argc, argv, o))
        return *end;
    return run(o);
}
