#include "replace.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diag.h"
#include "reader.h"

namespace textio {

namespace {

constexpr int kMaxLinks = 40;  // as the kernel allows in one path

// The temporary files of this process, removed when a signal ends it.
Replacement *volatile pending = nullptr;

void remove_pending(int sig)
{
    for (Replacement *r = pending; r; r = r->next)
        if (r->temp[0])
            unlink(r->temp);
    signal(sig, SIG_DFL);
    raise(sig);
}

// Blocks the signals that remove the temporary files while the list changes.
struct SignalsHeld {
    sigset_t old;
    SignalsHeld()
    {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&set, sig);
        sigprocmask(SIG_BLOCK, &set, &old);
    }
    ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old, nullptr); }
};

void watch_signals()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction sa {};
        sa.sa_handler = remove_pending;
        sigemptyset(&sa.sa_mask);
        sigaction(sig, &sa, nullptr);
    }
}

void delist(Replacement &r)
{
    SignalsHeld held;
    for (Replacement *volatile *p = &pending; *p; p = &(*p)->next)
        if (*p == &r) {
            *p = r.next;
            break;
        }
}

// Follows the symbolic links of path into out; the last one may point to
// a file that does not exist yet. False with errno set.
bool resolve(const char *path, char *out)
{
    if (std::strlen(path) >= PATH_MAX)
        return errno = ENAMETOOLONG, false;
    std::strcpy(out, path);
    for (int hops = 0;; ++hops) {
        char link[PATH_MAX];
        ssize_t n = readlink(out, link, sizeof link - 1);
        if (n < 0)
            return errno == EINVAL || errno == ENOENT ? true : false;
        if (hops == kMaxLinks)
            return errno = ELOOP, false;
        link[n] = 0;
        if (link[0] == '/') {
            std::strcpy(out, link);
            continue;
        }
        // relative to the directory of the link
        char *slash = std::strrchr(out, '/');
        std::size_t dir = slash ? static_cast<std::size_t>(slash - out) + 1 : 0;
        if (dir + static_cast<std::size_t>(n) >= PATH_MAX)
            return errno = ENAMETOOLONG, false;
        std::memcpy(out + dir, link, static_cast<std::size_t>(n) + 1);
    }
}

// Creates a new file beside target; its name goes to temp.
int create_temp(const char *target, char *temp, mode_t mode)
{
    const char *slash = std::strrchr(target, '/');
    int dir = slash ? static_cast<int>(slash - target) + 1 : 0;
    const char *base = target + dir;
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        int n = std::snprintf(temp, PATH_MAX, "%.*s.%s.%ld.%u~", dir, target, base,
                              static_cast<long>(getpid()), attempt);
        if (n >= PATH_MAX)
            return errno = ENAMETOOLONG, -1;
        int fd = ::open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return errno = EEXIST, -1;
}

// Writes into the file itself: emptied only once it is locked for this run.
bool open_in_place(Replacement &r, Sink &s, const struct stat *old)
{
    int fd = ::open(r.target, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        return fail(r.path, errno), false;
    if (old && S_ISREG(old->st_mode)) {
        if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(fd);
            failx("%s: another run is writing this file; try again when it has ended", r.path);
            return false;
        }
        if (ftruncate(fd, 0) != 0) {
            fail(r.path, errno);
            ::close(fd);
            return false;
        }
    }
    r.temp[0] = 0;
    attach_sink(s, fd, r.path);
    return true;
}

}  // namespace

bool open_replacement(Replacement &r, Sink &s, const char *path, const Reader *input)
{
    r.path = path;
    r.temp[0] = 0;
    r.next = nullptr;
    if (!resolve(path, r.target))
        return fail(path, errno), false;
    struct stat old;
    bool exists = stat(r.target, &old) == 0;
    if (!exists && errno != ENOENT)
        return fail(path, errno), false;
    if (exists && input) {
        struct stat in;
        if (fstat(input->fd, &in) != 0)
            return fail(input->path, errno), false;
        if (old.st_dev == in.st_dev && old.st_ino == in.st_ino)
            return failx("%s and %s are the same file", path, input->path), false;
    }
    if (exists && !S_ISREG(old.st_mode)) {
        if (S_ISDIR(old.st_mode))
            return fail(path, EISDIR), false;
        return open_in_place(r, s, &old);
    }
    // A file made read-only stays protected, although its directory would
    // let it be replaced.
    if (exists && access(r.target, W_OK) != 0)
        return fail(path, errno), false;

    mode_t mode = exists ? (old.st_mode & 07777) : 0666;
    watch_signals();
    int fd;
    {
        SignalsHeld held;
        fd = create_temp(r.target, r.temp, mode);
        if (fd >= 0) {
            r.next = pending;
            pending = &r;
        }
    }
    if (fd < 0) {
        int err = errno;
        r.temp[0] = 0;
        if (exists && (err == EACCES || err == EPERM))
            return open_in_place(r, s, &old);
        return fail(path, err), false;
    }
    // the umask applies to a new file only; an old one keeps its bits
    if (exists && fchmod(fd, mode) != 0) {
        int err = errno;
        ::close(fd);
        abandon_replacement(r, s);
        return fail(path, err), false;
    }
    attach_sink(s, fd, path);
    return true;
}

bool commit_replacement(Replacement &r, Sink &s)
{
    if (!r.temp[0]) {
        if (!close_sink(s))
            return fail(r.path, s.err), false;
        return true;
    }
    flush_sink(s);
    if (!s.err && fsync(s.fd) != 0)
        s.err = errno;
    if (!close_sink(s)) {
        int err = s.err;
        abandon_replacement(r, s);
        return fail(r.path, err), false;
    }
    if (rename(r.temp, r.target) != 0) {
        int err = errno;
        abandon_replacement(r, s);
        return fail(r.path, err), false;
    }
    delist(r);
    r.temp[0] = 0;
    return true;
}

void abandon_replacement(Replacement &r, Sink &s)
{
    if (s.fd >= 0) {
        ::close(s.fd);
        s.fd = -1;
    }
    if (r.temp[0]) {
        unlink(r.temp);
        delist(r);
        r.temp[0] = 0;
    }
}

}  // namespace textio
