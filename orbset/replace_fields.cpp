#include "replace_fields.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cores.h"
#include "diag.h"
#include "out.h"
#include "replace.h"
#include "writer.h"

namespace orbset {

namespace {

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
    char target[PATH_MAX], folder[PATH_MAX];
    struct stat file;
    if (!realpath(path.c_str(), target) || stat(target, &file) != 0)
        return textio::fail(path.c_str(), errno), false;
    if (!S_ISREG(file.st_mode))
        return textio::failx("%s: not a regular file, which orbset cannot replace whole",
                             path.c_str()), false;
    if (faccessat(AT_FDCWD, target, W_OK, AT_EACCESS) != 0)
        return textio::fail(path.c_str(), errno), false;
    std::strcpy(folder, target);
    *std::strrchr(folder, '/') = 0;  // realpath's name is absolute
    const char *why = "orbset replaces each field whole, through a new file beside it";
    if (faccessat(AT_FDCWD, *folder ? folder : "/", W_OK | X_OK, AT_EACCESS) != 0)
        return textio::failx("%s: its directory takes no new file (%s); %s", path.c_str(),
                             std::strerror(errno), why), false;
    if (!textio::may_rename_over(target, file))
        return textio::failx("%s: another user's file in a sticky directory; %s", path.c_str(),
                             why), false;
    return true;
}

}  // namespace

int replace_fields(const std::vector<Part> &parts, const Plan &plan, int precision)
{
    for (const Part &part : parts)
        for (const FieldFile &file : part.fields)
            if (file.present() && !replaceable(file.text->name))
                return 1;
    std::vector<std::unique_ptr<Output>> outs;
    for (const Part &part : parts)
        for (std::size_t f = 0; f < plan.fields.size(); ++f) {
            if (!part.fields[f].present())
                continue;
            outs.push_back(std::make_unique<Output>());
            Output &o = *outs.back();
            o.part = &part;
            o.field = f;
            o.opened = textio::open_replacement(o.r, o.s, part.fields[f].text->name.c_str(), nullptr);
            if (!o.opened)
                return 1;
        }
    each_on_cores(outs.size(), "to write the fields", [&](std::size_t i) {
        Output &o = *outs[i];
        const FieldFile &file = o.part->fields[o.field];
        naming(file.text->name, [&] {
            auto out = file.text->compressed ? Out::gzip(o.s) : Out::plain(o.s);
            write_field(file, o.part->patches, o.part->cells, precision, *out);
        });
    });
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

}  // namespace orbset
