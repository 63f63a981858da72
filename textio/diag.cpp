#include "diag.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace textio {

const char *progname = "?";

int fail(const char *what, int err)
{
    std::fprintf(stderr, "%s: %s: %s\n", progname, what, std::strerror(err));
    return 1;
}

static void vline(const char *lead, const char *fmt, va_list ap)
{
    std::fprintf(stderr, "%s: %s", progname, lead);
    std::vfprintf(stderr, fmt, ap);
    std::fputc('\n', stderr);
}

int failx(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vline("", fmt, ap);
    va_end(ap);
    return 1;
}

void warnx(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vline("warning: ", fmt, ap);
    va_end(ap);
}

static bool fd_is_open(int fd) { return fcntl(fd, F_GETFD) != -1 || errno != EBADF; }

bool stdout_is_open() { return fd_is_open(STDOUT_FILENO); }

void reopen_closed_std_fds()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fd_is_open(fd))
            continue;
        // the lowest free descriptor is fd itself
        int nfd = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (nfd != -1 && nfd != fd) {
            dup2(nfd, fd);
            close(nfd);
        }
    }
}

}  // namespace textio
