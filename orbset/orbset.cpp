// orbset: applies system/setFieldsDict to the fields of an OpenFOAM case,
// with the cell values that setFields gives, reading the mesh once.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "diag.h"
#include "foam/bad.h"
#include "foam/text.h"
#include "replace.h"
#include "run.h"
#include "tool.h"
#include "writer.h"

namespace {

using orbset::Part;
using orbset::Plan;

constexpr int kUsageStatus = 2;
constexpr const char *kUsage = "usage: orbset [-case DIR] [-parallel]\n"
                               "       orbset --help | --version\n";
constexpr textio::Tool kTool{
    "orbset",
    "Run it in an OpenFOAM case directory, or name one with -case DIR. It applies\n"
    "system/setFieldsDict to the scalar fields it names in the start time's\n"
    "directory, as setFields would: the default values, then every boxToCell and\n"
    "sphereToCell region in order, and the patches that take the cells' values.\n"
    "Each field file is replaced whole, and only once every input has been read.\n"
    "With -parallel it does so in every processorN directory of a decomposed case.\n"
    "It prints one line a field. Manual: man orbset\n",
    true,
};

struct Options {
    std::string case_dir;
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
        } else if (!std::strcmp(argv[i], "-parallel")) {
            o.parallel = true;
        } else {
            return wrong_command_line("unexpected argument", argv[i]);
        }
    }
    char *alone[] = {argv[0], nullptr};
    return textio::start(1, alone, kTool);
}

std::string under(const std::string &dir, const std::string &rel)
{
    return dir.empty() ? rel : dir + "/" + rel;
}

bool is_dir(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// processor0, processor1, ... of a decomposed case, in order. The
// collated format (processors4, ...) is refused.
std::vector<std::string> processor_dirs(const std::string &root)
{
    std::vector<std::pair<long, std::string>> found;
    std::string collated;
    DIR *d = opendir(root.empty() ? "." : root.c_str());
    if (!d)
        throw foam::Bad((root.empty() ? "." : root) + ": " + std::strerror(errno));
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name.rfind("processors", 0) == 0 && is_dir(under(root, name)))
            collated = name;
        else if (name.rfind("processor", 0) == 0 && name.size() > 9 && name.size() <= 18 &&
                 std::all_of(name.begin() + 9, name.end(),
                             [](char c) { return c >= '0' && c <= '9'; }) &&
                 is_dir(under(root, name)))
            found.emplace_back(std::stol(name.substr(9)), name);
    }
    closedir(d);
    if (found.empty() && !collated.empty())
        throw foam::Bad(under(root, collated) +
                        ": a decomposed case in the collated format, which orbset does not read; "
                        "use setFields, or decompose with -fileHandler uncollated");
    if (found.empty())
        throw foam::Bad((root.empty() ? "." : root) +
                        ": -parallel, but no processorN directory (run decomposePar first)");
    std::sort(found.begin(), found.end());
    std::vector<std::string> dirs;
    for (auto &f : found)
        dirs.push_back(under(root, f.second));
    return dirs;
}

unsigned cores() { return std::max(1u, std::thread::hardware_concurrency()); }

// Runs work(i) for i in [0, n) on up to the machine's cores. A thread the
// system refuses ends the run through its exception, once the threads
// already started have been joined.
template <class Work>
void on_cores(std::size_t n, Work work)
{
    std::size_t threads = std::min<std::size_t>(n, cores());
    if (threads <= 1) {
        for (std::size_t i = 0; i < n; ++i)
            work(i);
        return;
    }
    std::atomic<std::size_t> next{0};
    std::vector<std::jthread> pool;
    for (std::size_t t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            for (std::size_t i; (i = next++) < n;)
                work(i);
        });
}

// What went wrong, for the one line of a failure: the reason a reader
// gives, or what the system refused (memory, a thread).
std::string reason(const std::exception &e)
{
    if (dynamic_cast<const std::bad_alloc *>(&e))
        return "out of memory";
    return e.what();
}

// The first failure of a set of parts, in the parts' order, is the run's.
struct Failures {
    std::vector<std::string> what;

    template <class Work>
    void run(std::size_t i, Work work)
    {
        try {
            work();
        } catch (const std::exception &e) {
            what[i] = reason(e);
        }
    }
    void throw_first() const
    {
        for (const std::string &f : what)
            if (!f.empty())
                throw foam::Bad(f);
    }
};

// Each part of a decomposed case on a core of its own, its cells chosen
// through the centres of its own mesh.
void set_parts(std::vector<Part> &parts, const Plan &plan)
{
    Failures failures{std::vector<std::string>(parts.size())};
    on_cores(parts.size(), [&](std::size_t i) {
        failures.run(i, [&] {
            orbset::read_geometry(parts[i]);
            orbset::set_fields(parts[i], plan, orbset::claim_cells(parts[i], plan, 1));
        });
    });
    failures.throw_first();
}

// Each part of a decomposed case on a core of its own, its cells chosen
// through the centres of the whole mesh: a processor mesh lists a cell's
// faces in another order, which moves its centre by a unit in the last
// place, enough to move a cell across a sphere's surface.
void set_parts_as_whole(Part &whole, std::vector<Part> &parts, const Plan &plan)
{
    orbset::read_geometry(whole);
    const orbset::Claims claims = orbset::claim_cells(whole, plan, cores());
    Failures failures{std::vector<std::string>(parts.size())};
    on_cores(parts.size(), [&](std::size_t i) {
        failures.run(i, [&] {
            orbset::read_mapped_geometry(parts[i], whole.n_cells);
            orbset::set_fields(parts[i], plan, claims);
        });
    });
    failures.throw_first();
    orbset::check_decomposition(parts, whole.n_cells);
}

// The whole mesh of a decomposed case, where it is still there with the
// cellProcAddressing of every processor, which say where their cells are in
// it; otherwise none. A whole mesh without them is named in a warning.
std::optional<Part> whole_mesh(const Options &o, const orbset::Control &control,
                               std::vector<Part> &parts)
{
    Part whole;
    whole.dir = o.case_dir;
    orbset::locate_mesh(whole, control);
    if (foam::find_file(whole.mesh.faces + "faces").empty())
        return std::nullopt;
    for (Part &part : parts)
        if (foam::find_file(part.mesh.faces + "cellProcAddressing").empty()) {
            part.warnings.push_back(
                part.mesh.faces + "cellProcAddressing: no such file; the cells are chosen "
                "through the centres of the processor meshes, as setFields -parallel chooses "
                "them, not through those of " + whole.mesh.faces);
            return std::nullopt;
        }
    return whole;
}

// The replacement of one field file; dropped, its old file kept, unless it
// has been given the file's name.
struct Output {
    const Part *part;
    std::size_t field;
    textio::Replacement r;
    textio::Sink s;
    bool opened = false;

    ~Output()
    {
        if (opened)
            textio::abandon_replacement(r, s);  // nothing left to do once committed
    }
};

// Whether the field file at path can be replaced whole: through a new file
// beside it, which then takes its name. One that could only be written in
// place (its directory takes no new file, another user's file in a sticky
// directory, a file that is not a regular one) would be emptied as soon as
// it is opened, and a later failure would leave it so: each is checked
// before any is opened. False, reported in one line, when it cannot.
bool replaceable(const std::string &path)
{
    char target[PATH_MAX];
    struct stat file, dir;
    if (!realpath(path.c_str(), target) || stat(target, &file) != 0)
        return textio::fail(path.c_str(), errno), false;
    if (!S_ISREG(file.st_mode))
        return textio::failx("%s: not a regular file, which orbset cannot replace whole",
                             path.c_str()), false;
    if (faccessat(AT_FDCWD, target, W_OK, AT_EACCESS) != 0)
        return textio::fail(path.c_str(), errno), false;
    *std::strrchr(target, '/') = 0;  // realpath's name is absolute
    const char *folder = *target ? target : "/";
    const char *why = "orbset replaces each field whole, through a new file beside it";
    if (faccessat(AT_FDCWD, folder, W_OK | X_OK, AT_EACCESS) != 0 || stat(folder, &dir) != 0)
        return textio::failx("%s: its directory takes no new file (%s); %s", path.c_str(),
                             std::strerror(errno), why), false;
    uid_t me = geteuid();
    if (me != 0 && file.st_uid != me && (dir.st_mode & S_ISVTX) && dir.st_uid != me)
        return textio::failx("%s: another user's file in a sticky directory; %s", path.c_str(),
                             why), false;
    return true;
}

// Opens the replacement of every field file, writes them all, and gives
// them their names only when every one has been written.
int write_all(const std::vector<Part> &parts, const Plan &plan, int precision)
{
    for (const Part &part : parts)
        for (const orbset::FieldFile &file : part.fields)
            if (!replaceable(file.text.name))
                return 1;
    std::vector<std::unique_ptr<Output>> outs;
    for (const Part &part : parts)
        for (std::size_t f = 0; f < plan.fields.size(); ++f) {
            outs.push_back(std::make_unique<Output>());
            Output &o = *outs.back();
            o.part = &part;
            o.field = f;
            o.opened = textio::open_replacement(o.r, o.s, part.fields[f].text.name.c_str(), nullptr);
            if (!o.opened)
                return 1;
        }
    Failures failures{std::vector<std::string>(outs.size())};
    on_cores(outs.size(), [&](std::size_t i) {
        failures.run(i, [&] {
            Output &o = *outs[i];
            const orbset::FieldFile &file = o.part->fields[o.field];
            auto out = file.text.compressed ? orbset::Out::gzip(o.s) : orbset::Out::plain(o.s);
            orbset::write_field(file, o.part->patches, o.part->cells, precision, *out);
        });
    });
    for (const std::string &f : failures.what)
        if (!f.empty())
            return textio::failx("%s", f.c_str());
    // Every field on disk before any takes its name: a disk that fails or
    // fills up only now (on fsync) leaves every field as it was.
    for (const std::unique_ptr<Output> &o : outs) {
        textio::flush_sink(o->s);
        if (!o->s.err && fsync(o->s.fd) != 0 && errno != EINVAL)  // EINVAL: cannot sync
            o->s.err = errno;
        if (o->s.err)
            return textio::fail(o->s.path, o->s.err);
    }
    // The signals that end a run wait while the fields take their names:
    // a Ctrl-C then leaves every field old or every field new, not some of
    // each (a failure of the system still may, and says so).
    sigset_t ending, before;
    sigemptyset(&ending);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&ending, sig);
    pthread_sigmask(SIG_BLOCK, &ending, &before);
    bool committed = std::all_of(outs.begin(), outs.end(), [](const std::unique_ptr<Output> &o) {
        return textio::commit_replacement(o->r, o->s);
    });
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return committed ? 0 : 1;
}

// "the box and 100000 spheres": the regions that set a field.
std::string regions_of(const Plan &plan, std::size_t field)
{
    long long boxes = 0, spheres = 0;
    for (const orbset::Region &r : plan.regions) {
        bool names = false;
        for (std::size_t k = 0; k < r.n_settings; ++k)
            names = names || plan.settings[r.first_setting + k].field == static_cast<int>(field);
        if (!names)
            continue;
        if (r.source == orbset::Region::Source::box)
            boxes += static_cast<long long>(r.n_boxes);
        else
            ++spheres;
    }
    auto count = [](long long n, const char *one, const char *many) {
        return n == 1 ? std::string("the ") + one : std::to_string(n) + " " + many;
    };
    if (!boxes && !spheres)
        return "no region";
    if (!spheres)
        return count(boxes, "box", "boxes");
    if (!boxes)
        return count(spheres, "sphere", "spheres");
    return count(boxes, "box", "boxes") + " and " + count(spheres, "sphere", "spheres");
}

// One line a field: how many of its cells the regions set.
int report(const std::vector<Part> &parts, const Plan &plan)
{
    static textio::Sink s;
    textio::open_stdout(s);
    for (std::size_t f = 0; f < plan.fields.size(); ++f) {
        long long set = 0, cells = 0;
        for (const Part &p : parts) {
            set += p.set[f];
            cells += p.n_cells;
        }
        std::string line = plan.fields[f] + ": " + std::to_string(set) + " of " +
                           std::to_string(cells) + " cells set by " + regions_of(plan, f) + "\n";
        textio::put_long(s, line.data(), line.size());
    }
    return textio::close_sink(s) ? 0 : textio::fail(s.path, s.err);
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

// The controls, and the parts of the run, each with where its mesh is:
// the case, or every processorN directory of a decomposed case.
std::vector<Part> read_parts(const Options &o, orbset::Control &control)
{
    control = orbset::read_control(foam::load_text(under(o.case_dir, "system/controlDict")));
    std::vector<Part> parts;
    for (const std::string &dir :
         o.parallel ? processor_dirs(o.case_dir) : std::vector<std::string>{o.case_dir}) {
        parts.emplace_back();
        parts.back().dir = dir;
        orbset::locate_mesh(parts.back(), control);
    }
    return parts;
}

// The dictionary, and where every part's fields are.
void read_plan_and_fields(const Options &o, Plan &plan, const orbset::Control &control,
                          std::vector<Part> &parts)
{
    plan = orbset::read_plan(foam::load_text(under(o.case_dir, "system/setFieldsDict")));
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
    try {
        parts = read_parts(o, control);
        if (o.parallel) {
            read_plan_and_fields(o, plan, control, parts);
            if (std::optional<Part> whole = whole_mesh(o, control, parts))
                set_parts_as_whole(*whole, parts, plan);
            else
                set_parts(parts, plan);
        } else {
            // the mesh is read while the dictionary is
            Failures failures{std::vector<std::string>(2)};
            std::thread geometry(
                [&] { failures.run(1, [&] { orbset::read_geometry(parts[0]); }); });
            failures.run(0, [&] { read_plan_and_fields(o, plan, control, parts); });
            geometry.join();
            failures.throw_first();
            orbset::set_fields(parts[0], plan, orbset::claim_cells(parts[0], plan, cores()));
        }
    } catch (const std::exception &e) {
        return textio::failx("%s", reason(e).c_str());
    }
    for (const Part &p : parts)
        for (const std::string &w : p.warnings)
            textio::warnx("%s", w.c_str());
    try {
        // ascii values with writePrecision's digits, or every digit where
        // setFields would write the field in binary
        int digits = control.write_binary ? orbset::NumberText::kEveryDigit : control.write_precision;
        if (int status = write_all(parts, plan, digits))
            return status;
    } catch (const std::exception &e) {
        return textio::failx("%s", reason(e).c_str());
    }
    return report(parts, plan);
}

}  // namespace

int main(int argc, char **argv)
{
    Options o;
    if (auto end = read_options(argc, argv, o))
        return *end;
    return run(o);
}
