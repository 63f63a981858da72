// Buffered output with a fixed buffer, and the number texts the programs
// write: "%f" (six decimals, no exponent) and "%d", byte for byte as the C
// library's printf writes them.
#pragma once

#include <cstddef>
#include <cstring>

namespace textio {

// Output leaves in whole blocks of kWriteBuf bytes, so every write but the
// last starts at a multiple of the block size in the file.
constexpr std::size_t kWriteBuf = 1 << 16;
// The longest "%f" text of a double: sign, 309 integer digits, point and
// six decimals.
constexpr std::size_t kFixed6Max = 1 + 309 + 1 + 6;
// The longest "%d" text of a long long.
constexpr std::size_t kIntMax = 20;
// Room past a full block for one piece that is written whole: a number
// text or a short literal. Longer pieces are copied in parts.
constexpr std::size_t kPieceMax = 512;
static_assert(kFixed6Max <= kPieceMax && kIntMax <= kPieceMax);

struct Sink {
    int fd;
    const char *path;  // name used in diagnostics
    std::size_t len;   // bytes waiting in buf, fewer than kWriteBuf between calls
    int err;           // errno of the first failed write, or 0
    char buf[kWriteBuf + kPieceMax];
};

// Writes to descriptor fd, named `name` in diagnostics.
void attach_sink(Sink &s, int fd, const char *name);
// Writes to standard output, named "standard output" in diagnostics.
void open_stdout(Sink &s);
// Writes what is buffered and closes the descriptor; false when any write
// or the close failed (s.err tells why).
bool close_sink(Sink &s);

// Writes n bytes whole, as often as write(2) takes part of them; returns 0
// or the errno of the failure.
int write_all(int fd, const char *p, std::size_t n);

// Writes the full block at the front of the buffer and keeps the rest.
void write_block(Sink &s);
void put_long(Sink &s, const char *p, std::size_t n);

// The next kPieceMax bytes of the buffer, to be filled and then counted
// with advance().
inline char *room(Sink &s) { return s.buf + s.len; }

inline void advance(Sink &s, std::size_t n)
{
    s.len += n;
    if (s.len >= kWriteBuf)
        write_block(s);
}

inline void put(Sink &s, const char *p, std::size_t n)
{
    if (n > kPieceMax)
        return put_long(s, p, n);
    std::memcpy(room(s), p, n);
    advance(s, n);
}

// The largest double whose "%f" text is 0.000000: the double nearest to the
// halfway value 0.0000005 lies just below it and rounds down; the next one
// lies above it and rounds up.
constexpr double kLargestZero = 5e-7;

// Writes x as "%f" does into out, which holds kFixed6Max bytes; returns
// the length (no NUL is written).
std::size_t format_fixed6(char *out, double x);

// Writes v as "%d" does into out, which holds kIntMax bytes; returns the
// length.
std::size_t format_int(char *out, long long v);

inline void put_fixed6(Sink &s, double x) { advance(s, format_fixed6(room(s), x)); }

inline void put_int(Sink &s, long long v) { advance(s, format_int(room(s), v)); }

}  // namespace textio
