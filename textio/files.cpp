#include "files.h"

#include <cerrno>
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

bool open_input_and_replacement(Reader &r, const char *input, Replacement &rep, Sink &s,
                                const char *output)
{
    if (!open_input(r, input))
        return false;
    if (!open_replacement(rep, s, output, &r)) {
        close_reader(r);
        return false;
    }
    return true;
}

bool stdout_onto(const char *file, const char *role)
{
    struct stat out, f;
    if (fstat(STDOUT_FILENO, &out) != 0 || !S_ISREG(out.st_mode) || stat(file, &f) != 0 ||
        f.st_dev != out.st_dev || f.st_ino != out.st_ino)
        return false;
    failx("%s: %s file is standard output", file, role);
    return true;
}

}  // namespace textio
