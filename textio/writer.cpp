#include "writer.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <unistd.h>

namespace textio {

void attach_sink(Sink &s, int fd, const char *name)
{
    s.fd = fd;
    s.path = name;
    s.len = 0;
    s.err = 0;
}

void open_stdout(Sink &s) { attach_sink(s, STDOUT_FILENO, "standard output"); }

// Writes n bytes whole, as often as write(2) takes part of them; returns 0
// or the errno of the failure.
static int write_all(int fd, const char *p, std::size_t n)
{
    while (n) {
        ssize_t k = ::write(fd, p, n);
        if (k < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        p += k;
        n -= static_cast<std::size_t>(k);
    }
    return 0;
}

// After the first failure nothing more is written: the run reports it once
// it ends, and what follows would only land at the wrong offset.
static void write_out(Sink &s, const char *p, std::size_t n)
{
    if (!s.err)
        s.err = write_all(s.fd, p, n);
}

void write_block(Sink &s)
{
    write_out(s, s.buf, kWriteBuf);
    s.len -= kWriteBuf;
    std::memcpy(s.buf, s.buf + kWriteBuf, s.len);
}

void put_long(Sink &s, const char *p, std::size_t n)
{
    while (n) {
        std::size_t k = kWriteBuf - s.len < n ? kWriteBuf - s.len : n;
        std::memcpy(s.buf + s.len, p, k);
        advance(s, k);
        p += k;
        n -= k;
    }
}

void flush_sink(Sink &s)
{
    write_out(s, s.buf, s.len);
    s.len = 0;
}

bool close_sink(Sink &s)
{
    flush_sink(s);
    if (::close(s.fd) != 0 && !s.err)
        s.err = errno;
    s.fd = -1;
    return s.err == 0;
}

namespace {

__extension__ typedef unsigned __int128 u128;

constexpr char kDigits2[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536"
    "37383940414243444546474849505152535455565758596061626364656667686970717273"
    "7475767778798081828384858687888990919293949596979899";

// Decimal digits of v, no leading zeros (one "0" for zero).
std::size_t put_u64(char *out, std::uint64_t v)
{
    char tmp[20];
    char *p = tmp + 20;
    while (v >= 100) {
        p -= 2;
        std::memcpy(p, kDigits2 + 2 * (v % 100), 2);
        v /= 100;
    }
    if (v >= 10) {
        p -= 2;
        std::memcpy(p, kDigits2 + 2 * v, 2);
    } else {
        *--p = static_cast<char>('0' + v);
    }
    std::size_t n = static_cast<std::size_t>(tmp + 20 - p);
    std::memcpy(out, p, n);
    return n;
}

}  // namespace

std::size_t format_int(char *out, long long v)
{
    std::size_t n = 0;
    std::uint64_t u = static_cast<std::uint64_t>(v);
    if (v < 0) {
        out[n++] = '-';
        u = 0 - u;
    }
    return n + put_u64(out + n, u);
}

namespace {

// The exact way: x = m * 2^e, so x * 10^6 = m * 10^6 * 2^e is rounded to an
// integer, half to even as the C library does in the default rounding mode,
// in 128-bit integer arithmetic. False when the result does not fit in 64
// bits (x of 2^64 millionths or more).
bool exact_units(std::uint64_t bits, std::uint64_t &units)
{
    int be = static_cast<int>((bits >> 52) & 0x7ff);
    std::uint64_t frac = bits & ((std::uint64_t{1} << 52) - 1);
    std::uint64_t m = be ? frac | (std::uint64_t{1} << 52) : frac;
    int e = be ? be - 1075 : -1074;
    if (e > 0)
        return false;  // x >= 2^53, so x * 10^6 >= 2^64
    u128 v = static_cast<u128>(m) * 1000000u;
    // The shifts below, by s = -e, must be narrower than the 128 bits of
    // u128. Past that bound the value rounds to zero, as it already does
    // from s = 74 on: m * 10^6 < 2^73 lies below half of 2^s.
    constexpr int kWidth = 128;
    if (e <= -(kWidth - 1)) {
        v = 0;
    } else if (e < 0) {
        int s = -e;
        u128 q = v >> s;
        u128 rem = v - (q << s);
        u128 half = static_cast<u128>(1) << (s - 1);
        if (rem > half || (rem == half && (q & 1)))
            ++q;
        v = q;
    }
    units = static_cast<std::uint64_t>(v);
    return (v >> 64) == 0;
}

}  // namespace

std::size_t format_fixed6_exact(char *out, double x)
{
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    std::size_t n = 0;
    if (bits >> 63)
        out[n++] = '-';
    if ((bits >> 52 & 0x7ff) == 0x7ff) {
        std::memcpy(out + n, bits << 12 ? "nan" : "inf", 3);
        return n + 3;
    }
    std::uint64_t units;
    if (!exact_units(bits, units)) {
        char wide[kFixed6Max + 1];  // and the NUL
        int k = std::snprintf(wide, sizeof wide, "%f", x);
        std::memcpy(out, wide, static_cast<std::size_t>(k));
        return static_cast<std::size_t>(k);
    }
    return static_cast<std::size_t>(write_millionths(out + n, units) - out);
}

}  // namespace textio
