#include "replace.h"

#include <cerrno>
#include <csignal>
#include <cstdio>  // rename
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "diag.h"
#include "reader.h"

namespace textio {

namespace {

constexpr int kMaxLinks = 40;  // symbolic links followed, as the kernel does
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr unsigned kTempAttempts = 100;

// The temporary files not yet committed or abandoned. Changed only while
// the signals that read it are held.
Replacement *volatile pending = nullptr;

void remove_pending()
{
    for (Replacement *r = pending; r; r = r->next)
        unlink(r->temp);
}

// The handler was reset on entry, so the signal raised again ends the
// process as it would have without one.
void remove_pending_and_die(int sig)
{
    remove_pending();
    raise(sig);
}

// Holds the signals that remove the temporary files while the list
// changes; release_signals() restores the mask that hold_signals() saved.
sigset_t hold_signals()
{
    sigset_t set, old;
    sigemptyset(&set);
    for (int sig : kSignals)
        sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &old);
    return old;
}

void release_signals(const sigset_t &old) { sigprocmask(SIG_SETMASK, &old, nullptr); }

void watch_signals()
{
    static bool watching = false;
    if (watching)
        return;
    watching = true;
    std::atexit(remove_pending);
    for (int sig : kSignals) {
        // a signal ignored when the run started (nohup, a background job
        // of a script) stays ignored
        struct sigaction old;
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction sa {};
        sa.sa_handler = remove_pending_and_die;
        sigemptyset(&sa.sa_mask);
        for (int other : kSignals)
            sigaddset(&sa.sa_mask, other);
        sa.sa_flags = SA_RESETHAND;
        sigaction(sig, &sa, nullptr);
    }
}

void delist(Replacement &r)
{
    sigset_t held = hold_signals();
    for (Replacement *volatile *p = &pending; *p; p = &(*p)->next)
        if (*p == &r) {
            *p = r.next;
            break;
        }
    release_signals(held);
}

// Length of the directory part of path, its last slash included.
std::size_t dir_length(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    return slash ? static_cast<std::size_t>(slash - path) + 1 : 0;
}

// Follows the symbolic links of path into out; the last one may name a
// file that does not exist yet. False with errno set.
bool resolve(const char *path, char *out)
{
    if (std::strlen(path) >= PATH_MAX)
        return errno = ENAMETOOLONG, false;
    std::strcpy(out, path);
    for (int hops = 0;; ++hops) {
        char link[PATH_MAX];
        ssize_t n = readlink(out, link, sizeof link - 1);
        if (n < 0)  // not a link, or nothing there: out is the file
            return errno == EINVAL || errno == ENOENT;
        if (hops == kMaxLinks)
            return errno = ELOOP, false;
        link[n] = 0;
        // a relative link is relative to the directory holding it
        std::size_t dir = link[0] == '/' ? 0 : dir_length(out);
        if (dir + static_cast<std::size_t>(n) >= PATH_MAX)
            return errno = ENAMETOOLONG, false;
        std::memcpy(out + dir, link, static_cast<std::size_t>(n) + 1);
    }
}

// Whether a file of the run's input is the output too. A character device
// (/dev/null, a terminal) holds nothing to lose.
bool same_file(const struct stat &out, const Reader &input)
{
    struct stat in;
    return fstat(input.fd, &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino &&
           !S_ISCHR(out.st_mode);
}

// The directory that holds target, "." for a bare name.
void directory_of(const char *target, char *dir)
{
    std::size_t n = dir_length(target);
    std::memcpy(dir, n ? target : ".", n ? n : 1);
    dir[n ? n : 1] = 0;
}

// Puts the directory entry of target on disk too, so that the new name
// survives a crash of the machine. The content is already there; a file
// system that cannot sync a directory keeps what it has.
void sync_directory(const char *target)
{
    char dir[PATH_MAX];
    directory_of(target, dir);
    int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        ::close(fd);
    }
}

// Creates a new file beside target, hidden and named after it and this
// process (".<name>.<pid>.<attempt>~"); its name goes to temp.
int create_temp(const char *target, char *temp, mode_t mode)
{
    std::size_t dir = dir_length(target), base = std::strlen(target + dir);
    if (dir + base + 2 * kIntMax + 4 >= PATH_MAX)
        return errno = ENAMETOOLONG, -1;
    std::memcpy(temp, target, dir);
    char *p = temp + dir;
    *p++ = '.';
    std::memcpy(p, target + dir, base);
    p += base;
    *p++ = '.';
    p += format_int(p, getpid());
    *p++ = '.';
    for (unsigned attempt = 0; attempt < kTempAttempts; ++attempt) {
        char *end = p + format_int(p, attempt);
        std::memcpy(end, "~", 2);
        int fd = ::open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return errno = EEXIST, -1;
}

// The new file takes the old one's owner and group where this user may
// give them (root; a group of the user), else stays the user's as any new
// file; then the old permission bits, which a change of owner may clear
// and which the umask must not narrow.
bool keep_owner_and_mode(int fd, const struct stat &old)
{
    if (fchown(fd, old.st_uid, old.st_gid) != 0 &&
        fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
        // not this user's to give
    }
    return fchmod(fd, old.st_mode & 07777) == 0;
}

// The new file takes the old one's extended attributes: its access control
// list (system.posix_acl_access), which the permission bits alone do not
// carry, and the user's own. One that this user may not set (a security
// label, a trusted attribute) or that the file system does not take stays
// behind, as it would on a copy.
void keep_attributes(int fd, const char *old)
{
    static char names[XATTR_LIST_MAX], value[XATTR_SIZE_MAX];
    ssize_t length = listxattr(old, names, sizeof names);
    for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        ssize_t size = getxattr(old, names + at, value, sizeof value);
        if (size >= 0)
            fsetxattr(fd, names + at, value, static_cast<std::size_t>(size), 0);
    }
}

// Whether another process holds a lock on the file, of either kind: flock()
// as another run takes, or fcntl() as other programs do. Both are taken for
// this run. A file system without locks (ENOLCK and the like) does not stop
// the run.
bool locked_by_another(int fd)
{
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return true;
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    return fcntl(fd, F_SETLK, &whole) != 0 && (errno == EACCES || errno == EAGAIN);
}

// Writes into the file itself. A regular file is emptied only once no
// other process holds a lock on it. Other files have no content to lose
// and take no lock: /dev/null is everyone's.
bool open_in_place(Replacement &r, Sink &s)
{
    int fd = ::open(r.target, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0)
        return fail(r.path, errno), false;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        if (locked_by_another(fd)) {
            ::close(fd);
            failx("%s: another run is writing this file; try again when it has ended", r.path);
            return false;
        }
        if (ftruncate(fd, 0) != 0) {
            int err = errno;
            ::close(fd);
            return fail(r.path, err), false;
        }
    }
    attach_sink(s, fd, r.path);
    return true;
}

// Writes into a new temporary file that replaces old (null: no file yet)
// when committed.
bool open_temp(Replacement &r, Sink &s, const struct stat *old)
{
    watch_signals();
    sigset_t held = hold_signals();
    int fd = create_temp(r.target, r.temp, old ? old->st_mode & 07777 : 0666);
    if (fd >= 0) {
        r.next = pending;
        pending = &r;
    }
    release_signals(held);
    if (fd < 0) {
        int err = errno;
        r.temp[0] = 0;
        // a directory that takes no new file, around a file that may be
        // written
        if (old && (err == EACCES || err == EPERM))
            return open_in_place(r, s);
        return fail(r.path, err), false;
    }
    if (old && !keep_owner_and_mode(fd, *old)) {
        int err = errno;
        ::close(fd);
        abandon_replacement(r, s);
        return fail(r.path, err), false;
    }
    if (old)
        keep_attributes(fd, r.target);
    attach_sink(s, fd, r.path);
    return true;
}

}  // namespace

bool may_rename_over(const char *target, const struct stat &old)
{
    uid_t me = geteuid();
    if (me == 0 || old.st_uid == me)
        return true;
    char dir[PATH_MAX];
    directory_of(target, dir);
    struct stat d;
    return stat(dir, &d) != 0 || !(d.st_mode & S_ISVTX) || d.st_uid == me;
}

bool open_replacement(Replacement &r, Sink &s, const char *path, const Reader *input)
{
    r.path = path;
    r.temp[0] = 0;
    r.next = nullptr;
    attach_sink(s, -1, path);
    if (!resolve(path, r.target))
        return fail(path, errno), false;
    struct stat old;
    if (stat(r.target, &old) != 0) {
        if (errno != ENOENT)
            return fail(path, errno), false;
        return open_temp(r, s, nullptr);
    }
    if (input && same_file(old, *input))
        return failx("%s and %s are the same file", path, input->path), false;
    if (S_ISDIR(old.st_mode))
        return fail(path, EISDIR), false;
    if (!S_ISREG(old.st_mode))
        return open_in_place(r, s);
    if (faccessat(AT_FDCWD, r.target, W_OK, AT_EACCESS) != 0)
        return fail(path, errno), false;
    if (!may_rename_over(r.target, old))
        return open_in_place(r, s);
    return open_temp(r, s, &old);
}

bool commit_replacement(Replacement &r, Sink &s)
{
    if (!r.temp[0]) {
        if (!close_sink(s))
            return fail(r.path, s.err), false;
        return true;
    }
    // On disk before it takes the name, so that after a crash of the
    // machine the name holds the old or the new file whole. EINVAL: a file
    // system that cannot sync.
    flush_sink(s);
    if (!s.err && fsync(s.fd) != 0 && errno != EINVAL)
        s.err = errno;
    bool ok = close_sink(s);
    int err = s.err;
    if (ok && rename(r.temp, r.target) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        abandon_replacement(r, s);
        return fail(r.path, err), false;
    }
    delist(r);
    r.temp[0] = 0;
    sync_directory(r.target);
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
