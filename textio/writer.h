// Buffered output with a fixed buffer, and the number texts the programs
// write: "%f" (six decimals, no exponent) and "%d", byte for byte as the C
// library's printf writes them.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace textio {

constexpr std::size_t kWriteBuf = 1 << 16;
// Room for the longest "%f" text of a double (sign, 309 integer digits,
// point, six decimals) and a terminating NUL.
constexpr std::size_t kFixed6Max = 1 + 309 + 1 + 6 + 1;

struct Sink {
    std::FILE *f;
    const char *path;  // name used in diagnostics
    std::size_t len;   // bytes waiting in buf
    int err;           // errno of the first failed write, or 0
    char buf[kWriteBuf];
};

// Creates or empties path; false with errno set when it cannot.
bool open_sink(Sink &s, const char *path);
// Writes to standard output, named "standard output" in diagnostics.
void open_stdout(Sink &s);
// Writes to an open stream f, named `name` in diagnostics.
void attach_sink(Sink &s, std::FILE *f, const char *name);
// Writes what is buffered and closes the stream; false when any write or
// the close failed (s.err tells why).
bool close_sink(Sink &s);

void flush(Sink &s);

inline char *room(Sink &s, std::size_t n)
{
    if (s.len + n > kWriteBuf)
        flush(s);
    return s.buf + s.len;
}

inline void put(Sink &s, const char *p, std::size_t n)
{
    if (n > kWriteBuf) {
        flush(s);
        if (!s.err && std::fwrite(p, 1, n, s.f) != n)
            s.err = errno ? errno : EIO;
        return;
    }
    std::memcpy(room(s, n), p, n);
    s.len += n;
}

// Writes x as "%f" does into out, which holds kFixed6Max bytes; returns
// the length (no NUL is counted, and none is promised).
std::size_t format_fixed6(char *out, double x);

// Writes v as "%d" does into out (12 bytes at least); returns the length.
std::size_t format_int(char *out, long long v);

inline void put_fixed6(Sink &s, double x)
{
    s.len += format_fixed6(room(s, kFixed6Max), x);
}

inline void put_int(Sink &s, long long v) { s.len += format_int(room(s, 24), v); }

}  // namespace textio
