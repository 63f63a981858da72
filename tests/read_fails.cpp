// Preloaded (LD_PRELOAD) into a program under test: read(2) fails with EIO
// once CASETOOLS_READ_FAILS_AFTER bytes have been read, as a disk that
// goes bad halfway through a file does; with CASETOOLS_READ_FAILS_TIMES=k,
// only the next k reads fail, as a disk that recovers does.
#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

extern "C" ssize_t read(int fd, void *buf, size_t n)
{
    using Read = ssize_t (*)(int, void *, size_t);
    static Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "read"));
    static const char *limit = std::getenv("CASETOOLS_READ_FAILS_AFTER");
    static const char *times = std::getenv("CASETOOLS_READ_FAILS_TIMES");
    static long long left = limit ? std::atoll(limit) : -1;
    static long long failures = times ? std::atoll(times) : -1;
    if (left == 0 && failures != 0) {
        failures -= failures > 0;
        errno = EIO;
        return -1;
    }
    if (left > 0 && static_cast<long long>(n) > left)
        n = static_cast<size_t>(left);
    ssize_t k = real(fd, buf, n);
    if (k > 0 && left > 0)
        left -= k;
    return k;
}
