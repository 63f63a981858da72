#include "files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "diag.h"

namespace textio {

bool open_input(Reader &r, const char *path)
{
    if (!open_reader(r, path)) {
        fail(path, errno);
        return false;
    }
    Bytes first = peek(r);
    if (first.err) {
        fail(path, first.err);
        close_reader(r);
        return false;
    }
    return true;
}

// Checks that the opened output may be replaced, locks it and empties it;
// false, reported, when it may not.
static bool take_over(int fd, const char *path, const Reader &input)
{
    struct stat out, in;
    if (fstat(fd, &out) != 0 || fstat(input.fd, &in) != 0) {
        fail(path, errno);
        return false;
    }
    if (out.st_dev == in.st_dev && out.st_ino == in.st_ino) {
        failx("%s and %s are the same file", path, input.path);
        return false;
    }
    // An advisory lock held until the output is closed, so that two runs
    // never interleave their output in one file. A file system without
    // locks (ENOLCK and the like) does not stop the run.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        failx("%s: another run is writing this file; try again when it has ended", path);
        return false;
    }
    if (S_ISREG(out.st_mode) && ftruncate(fd, 0) != 0) {
        fail(path, errno);
        return false;
    }
    return true;
}

bool open_output(Sink &s, const char *path, const Reader &input)
{
    // Opened without emptying it: nothing is lost until every check passed.
    int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        fail(path, errno);
        return false;
    }
    if (!take_over(fd, path, input)) {
        ::close(fd);
        return false;
    }
    attach_sink(s, fd, path);
    return true;
}

bool open_input_and_output(Reader &r, const char *input, Sink &s, const char *output)
{
    if (!open_input(r, input))
        return false;
    if (!open_output(s, output, r)) {
        close_reader(r);
        return false;
    }
    return true;
}

}  // namespace textio
