// Buffered output with a fixed buffer, and the number texts the programs
// write: "%f" (six decimals, no exponent) and "%d", byte for byte as the C
// library's printf writes them.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace textio {

// Output leaves in whole blocks of kWriteBuf bytes, so every write but the
// last starts at a multiple of the block size in the file.
constexpr std::size_t kWriteBuf = 1 << 16;
// Texts are written into the sink's room by copies of a fixed size, which
// may write past the end of the text they belong to: up to kSpill bytes,
// which the next text overwrites or advance() leaves uncounted. So the room
// a piece written whole needs is its longest text plus kSpill, once.
constexpr std::size_t kSpill = 16;
// The longest "%f" text of a double: sign, 309 integer digits, point and
// six decimals.
constexpr std::size_t kFixed6Max = 1 + 309 + 1 + 6;
// The longest "%d" text of a long long.
constexpr std::size_t kIntMax = 20;
// Room past a full block for one piece that is written whole: a number
// text, a short literal, a sphere entry. Longer pieces are copied in parts.
constexpr std::size_t kPieceMax = 2048;
static_assert(kFixed6Max + kSpill <= kPieceMax && kIntMax <= kPieceMax);

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
// Writes what is buffered; the sink stays open.
void flush_sink(Sink &s);
// Writes what is buffered and closes the descriptor; false when any write
// or the close failed (s.err tells why).
bool close_sink(Sink &s);

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

// "000" to "999", four bytes a number, so that three digits are one copy
// of four bytes (spilling one).
inline constexpr auto kDigits3 = [] {
    struct {
        char at[4000];
    } t{};
    for (int i = 0; i < 1000; ++i) {
        t.at[4 * i] = static_cast<char>('0' + i / 100);
        t.at[4 * i + 1] = static_cast<char>('0' + i / 10 % 10);
        t.at[4 * i + 2] = static_cast<char>('0' + i % 10);
    }
    return t;
}();
static_assert(4 - 3 <= kSpill);

// Writes v as "%d" does into out, which holds kIntMax bytes; returns the
// length.
std::size_t format_int(char *out, long long v);

// format_fixed6 for the numbers that the fast way does not decide.
std::size_t format_fixed6_exact(char *out, double x);

// Writes a count of millionths as "%f" writes its value, without the sign:
// the integer digits, a point and six decimals, three digits a copy (it
// spills). Returns the end of the text.
inline char *write_millionths(char *p, std::uint64_t units)
{
    std::uint64_t ip = units / 1000000, fp = units - ip * 1000000;
    if (ip < 1000) {
        unsigned len = 1 + (ip >= 10) + (ip >= 100);
        std::memcpy(p, kDigits3.at + 4 * ip + 3 - len, 4);
        p += len;
    } else {
        p += format_int(p, static_cast<long long>(ip));
    }
    std::uint64_t hi = fp / 1000, lo = fp - hi * 1000;
    *p = '.';
    std::memcpy(p + 1, kDigits3.at + 4 * hi, 4);
    std::memcpy(p + 4, kDigits3.at + 4 * lo, 4);
    return p + 7;
}

// Writes x as "%f" does into out, which holds kFixed6Max + kSpill bytes;
// returns the length (no NUL is written, and it spills).
//
// The fast way, for |x| * 10^6 below 2^52: y = |x| * 10^6 is the product
// rounded once, and (y + 2^52) - 2^52 its nearest integer, ties to even.
// Both round alike unless a halfway point between two integers lies within
// the rounding error of y, at most y * 2^-53, of y; only those numbers, and
// larger ones, nan and inf, take the exact way.
inline std::size_t format_fixed6(char *out, double x)
{
    double y = std::fabs(x) * 1e6;
    double r = (y + 0x1p52) - 0x1p52;
    if (!(y < 0x1p52 && 0.5 - std::fabs(y - r) > y * 0x1p-53))
        return format_fixed6_exact(out, x);
    out[0] = '-';
    char *end = write_millionths(out + std::signbit(x), static_cast<std::uint64_t>(r));
    return static_cast<std::size_t>(end - out);
}

inline void put_fixed6(Sink &s, double x) { advance(s, format_fixed6(room(s), x)); }

inline void put_int(Sink &s, long long v) { advance(s, format_int(room(s), v)); }

}  // namespace textio
