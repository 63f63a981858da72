// What "%lf" takes as a number, in its usual shapes, recognised two ways
// that look at many bytes at once: the mask rules by which the counting
// pass checks every word of a 64-byte window together, and the fast path
// that converts one usual number. What neither decides goes to the exact
// path (exact_number in reader.h), which takes one byte at a time in the
// order of the C library's scanner. A change to the number format is a
// change to all three; tests/test_numbers.cpp holds each of them on its
// own against sscanf on every short string of the format's bytes.
#pragma once

#include <bit>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "classes.h"

namespace textio {

inline bool is_digit(int c) { return static_cast<unsigned>(c - '0') < 10; }
inline int lower(int c) { return c < 0 ? c : (c | 0x20); }

// ---------------------------------------------------------------------
// The mask rules of the counting pass.
//
// A window is 64 bytes, bit i of a mask for byte i. A run is a stretch of
// bytes that may belong to a number (digits, points, e or E, signs); a
// word is a stretch of bytes that are not white space. A word is a usual
// number when it is one run that no rule below faults. Adding a run's first
// bit, or any bit of it, to the run's mask sends a carry up the run: it
// clears the bits from there to the run's end and stops at the first clear
// bit after it; several rules rest on that.

struct Window {
    std::uint64_t digit, point, exp, sign;
    std::uint64_t run;       // number bytes: digit, point, exp or sign
    std::uint64_t ender;     // what may follow a number: white space, or
                             // the end of the input, one past the last byte
    std::uint64_t other;     // bytes that are neither number bytes nor space
    std::uint64_t words;     // the first byte of each word
    std::uint64_t starts;    // the first byte of each run
    std::uint64_t ends;      // the last byte of each run
    std::uint64_t mantissa;  // the part of each run before its first e
};

// The masks of the `avail` bytes of a window (all 64 when avail >= 64);
// at_eof: the input ends after them.
[[gnu::always_inline]] inline Window window(const Classes &c, std::size_t avail, bool at_eof)
{
    std::uint64_t valid = avail >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << avail) - 1;
    Window w;
    w.run = (c.digit | c.point | c.exp | c.sign) & valid;
    std::uint64_t space = c.space & valid;
    w.other = valid & ~(w.run | space);
    w.ender = space | (at_eof && avail < 64 ? std::uint64_t{1} << avail : 0);
    w.words = ~space & valid & (space << 1 | 1);
    w.starts = w.run & ~(w.run << 1);
    w.ends = w.run & ~(w.run >> 1);
    w.digit = c.digit & valid;
    w.point = c.point & valid;
    w.exp = c.exp & valid;
    w.sign = c.sign & valid;
    w.mantissa = (w.run + w.exp) & w.run;  // the carry from the first e
    return w;
}

// Each rule gives the bytes where it faults a run.

// "1e5e3": a second e, which the carry from the first one reached.
inline std::uint64_t second_exp(const Window &w) { return (w.run + w.exp) & w.exp; }

// "1.2.3": a second point, likewise.
inline std::uint64_t second_point(const Window &w) { return (w.run + w.point) & w.point; }

// "1e5.3": a point after the e.
inline std::uint64_t point_after_exp(const Window &w) { return w.point & ~w.mantissa; }

// "1-2", "+-1", "1e+-5": a sign that neither starts the run nor follows an e.
inline std::uint64_t sign_inside(const Window &w)
{
    return w.sign & ~(w.starts | w.exp << 1);
}

// "e5": a run that starts with its e.
inline std::uint64_t exp_first(const Window &w) { return w.exp & w.starts; }

// "-", ".", "+.e5": no digit before the e (or in the whole run). The carry
// from a run's first byte runs over its leading signs and points; it stops
// on a digit of the mantissa, or else lands past it.
inline std::uint64_t no_digit(const Window &w)
{
    std::uint64_t lead = w.mantissa & ~w.digit;
    return (lead + (w.starts & lead)) & ~w.mantissa;
}

// "12abc", "3.14(": a run followed by anything but white space or the end
// of the input; also a run that reaches the end of a window whose next
// byte is not known yet.
inline std::uint64_t bad_end(const Window &w) { return w.ends & ~(w.ender >> 1); }

// "x", "inf", "0x1p3": a byte that no usual number holds.
inline std::uint64_t other_byte(const Window &w) { return w.other; }

// Every fault of the window. An e with no digits after it is no fault:
// "1e" and "1e+" convert as 1, as the C library's scanf has it.
[[gnu::always_inline]] inline std::uint64_t faults(const Window &w)
{
    return second_exp(w) | second_point(w) | point_after_exp(w) | sign_inside(w) |
           exp_first(w) | no_digit(w) | bad_end(w) | other_byte(w);
}

// How many bytes the counting pass takes from a window of `avail` bytes:
// every word before the word of the first fault, whole.
[[gnu::always_inline]] inline unsigned taken_bytes(const Window &w, std::uint64_t bad,
                                                   std::size_t avail)
{
    unsigned at = static_cast<unsigned>(avail < 64 ? avail : 64);
    if (bad) {
        unsigned x = static_cast<unsigned>(std::countr_zero(bad));
        std::uint64_t before =
            w.words & (x == 63 ? ~std::uint64_t{0} : (std::uint64_t{2} << x) - 1);
        at = 63 - static_cast<unsigned>(std::countl_zero(before));
    }
    return at;
}

// ---------------------------------------------------------------------
// The fast path: SWAR digits and Clinger's fast path.

// Eight bytes at p as one word, the first byte lowest.
inline std::uint64_t load8(const unsigned char *p)
{
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    if constexpr (std::endian::native == std::endian::big)
        w = __builtin_bswap64(w);
    return w;
}

// Eight digits at once, as fast_float does it (Daniel Lemire's SWAR digit
// parsing: is_made_of_eight_digits_fast and parse_eight_digits_unrolled).
constexpr std::uint64_t kZeros = 0x3030303030303030;  // eight '0'

// Bit 7 set in the first byte of w that is not an ASCII digit: adding 0x46
// carries a byte above '9' into bit 7, subtracting '0' borrows into it below
// '0' (bytes before it are digits and leave no carry; later bytes do not
// matter).
inline std::uint64_t non_digits(std::uint64_t w)
{
    return ((w + 0x4646464646464646) | (w - kZeros)) & 0x8080808080808080;
}

// The value of eight ASCII digits, first byte most significant: pairs,
// then quads, then the whole, each step one multiply-add over the word.
inline std::uint64_t eight_digits_value(std::uint64_t w)
{
    w -= kZeros;
    w = (w * 10) + (w >> 8);
    constexpr std::uint64_t mask = 0x000000FF000000FF;
    constexpr std::uint64_t mul1 = 0x000F424000000064;  // 100 + (1000000 << 32)
    constexpr std::uint64_t mul2 = 0x0000271000000001;  // 1 + (10000 << 32)
    return (((w & mask) * mul1) + (((w >> 16) & mask) * mul2)) >> 32;
}

constexpr std::uint64_t kPow10Int[] = {1,      10,      100,      1000,     10000,
                                       100000, 1000000, 10000000, 100000000};

// The value of the first k ASCII digits of w, k from 0 to 8: the k digits
// moved to the top of the word, '0' before them.
inline std::uint64_t digits_value(std::uint64_t w, unsigned k)
{
    unsigned kk = k ? k : 1;
    std::uint64_t v =
        eight_digits_value((w << (64 - 8 * kk)) | ((kZeros >> (8 * kk - 1)) >> 1));
    return k ? v : 0;
}

// Appends the digits at p to m a word at a time: whole words of eight
// digits, then the first digits of the word that ends them; nd counts them.
// Returns the first byte that is not a digit.
inline const unsigned char *take_digits(const unsigned char *p, std::uint64_t &m, int &nd)
{
    for (;; p += 8, nd += 8) {
        std::uint64_t w = load8(p);
        std::uint64_t stop = non_digits(w);
        if (stop == 0) {
            m = m * kPow10Int[8] + eight_digits_value(w);
            continue;
        }
        unsigned k = std::countr_zero(stop) >> 3;  // digits before the stop, 0 to 7
        m = m * kPow10Int[k] + digits_value(w, k);
        nd += static_cast<int>(k);
        return p + k;
    }
}

// The same walk without the value.
inline const unsigned char *skip_digits(const unsigned char *p)
{
    for (;; p += 8)
        if (std::uint64_t stop = non_digits(load8(p)))
            return p + (std::countr_zero(stop) >> 3);
}

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kClingerPow = 22;  // the largest exact power of ten in a double
static_assert(std::size(kPow10) == kClingerPow + 1);
constexpr int kFastDigits = 19;  // any 19 digits fit in 64 bits

// Clinger's fast path rests on one correctly rounded operation: each
// double operation rounded to nearest on its own, with no wider
// intermediate (and no fused multiply-add: -ffp-contract=off).
static_assert(FLT_EVAL_METHOD == 0, "Clinger's fast path needs double operations in double");

// Clinger's fast path: m * 10^e10 when one correctly rounded multiplication
// or division of two exact doubles gives it; false otherwise. The sign is
// set on the bits: a branch on it would mispredict half the time.
inline bool clinger(std::uint64_t m, int e10, bool neg, double *out)
{
    double v;
    if (m == 0)
        v = 0.0;
    else if (m > (std::uint64_t{1} << 53) || e10 < -kClingerPow || e10 > kClingerPow)
        return false;
    else if (e10 >= 0)
        v = static_cast<double>(m) * kPow10[e10];
    else
        v = static_cast<double>(m) / kPow10[-e10];
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    bits |= static_cast<std::uint64_t>(neg) << 63;
    std::memcpy(out, &bits, sizeof bits);
    return true;
}

// The usual number, by SWAR digits and Clinger's fast path: a plain decimal
// with at most kFastDigits digits whose value one correctly rounded
// multiplication or division of two exact doubles gives. With kValue false
// only the extent of the number is found: any such decimal converts. The
// bytes from p on must end in a byte that is neither a digit, a sign, a
// point nor an e (the reader's sentinel), with eight readable bytes after
// any byte. Returns the end of the number, or nullptr when the exact path
// must decide: hex, inf, nan, an e without digits, long or extreme
// numbers, or no digits at all.
template <bool kValue>
inline const unsigned char *decimal_swar_clinger(const unsigned char *p, double *out)
{
    bool neg = *p == '-';
    p += neg || *p == '+';
    if (((p[0] ^ '0') | ((p[1] | 0x20) ^ 'x')) == 0)
        return nullptr;
    const unsigned char *start = p;
    std::uint64_t m = 0;
    int nd = 0, scale = 0;
    if (is_digit(p[0]) && !is_digit(p[1])) {  // the usual one integer digit
        m = p[0] - '0';
        nd = 1;
        ++p;
    } else {
        p = kValue ? take_digits(p, m, nd) : skip_digits(p);
    }
    bool any = p > start;
    if (*p == '.') {
        const unsigned char *frac = ++p;
        p = kValue ? take_digits(p, m, nd) : skip_digits(p);
        scale = -static_cast<int>(p - frac);
        any = any || p > frac;
    }
    if (!any)
        return nullptr;
    int ex = 0;
    if (lower(*p) == 'e') {
        ++p;
        bool eneg = *p == '-';
        p += eneg || *p == '+';
        if (!is_digit(*p))
            return nullptr;
        if (is_digit(p[1]) && !is_digit(p[2])) {  // the usual two digits
            ex = (p[0] - '0') * 10 + (p[1] - '0');
            p += 2;
        } else {
            for (; is_digit(*p); ++p)
                if (ex < 100000)
                    ex = ex * 10 + (*p - '0');
        }
        if (eneg)
            ex = -ex;
    }
    if constexpr (kValue)
        if (nd > kFastDigits || !clinger(m, scale + ex, neg, out))
            return nullptr;
    return p;
}

}  // namespace textio
