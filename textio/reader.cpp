#include "reader.h"

#include "classes.h"
#include "diag.h"

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace textio {

bool open_reader(Reader &r, const char *path)
{
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    attach_reader(r, fd, path);
    return true;
}

void attach_reader(Reader &r, int fd, const char *name)
{
    r.fd = fd;
    r.path = name;
    r.pos = r.len = 0;
    r.base = 0;
    r.at_eof = false;
    r.err = 0;
    r.line = 1;
    r.fit_line = 0;
    r.fit_numbers = 0;
    r.misfit = {0, 0};
    r.buf[0] = kSentinel;
}

void attach_bytes(Reader &r, const unsigned char *p, std::size_t n, const char *name)
{
    attach_reader(r, -1, name);
    r.len = n < kReadBuf ? n : kReadBuf;
    std::memcpy(r.buf, p, r.len);
    r.buf[r.len] = kSentinel;
    r.at_eof = true;
}

void close_reader(Reader &r)
{
    if (r.fd >= 0)
        ::close(r.fd);
    r.fd = -1;
}

// Moves the unread bytes to the front and reads until at least `want` bytes
// are unread or the input ends.
static void refill(Reader &r, std::size_t want)
{
    if (r.at_eof)
        return;
    std::size_t have = r.len - r.pos;
    if (r.pos) {
        r.base += static_cast<long long>(r.pos);
        std::memmove(r.buf, r.buf + r.pos, have);
        r.pos = 0;
        r.len = have;
    }
    while (r.len < want && !r.at_eof) {
        ssize_t n = ::read(r.fd, r.buf + r.len, kReadBuf - r.len);
        if (n > 0) {
            r.len += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n < 0)
                r.err = errno;
            r.at_eof = true;
        }
    }
    r.buf[r.len] = kSentinel;
}

static bool fill(Reader &r)
{
    if (r.pos < r.len)
        return true;
    refill(r, 1);
    return r.pos < r.len;
}

Bytes peek(Reader &r)
{
    fill(r);
    return {r.buf + r.pos, r.len - r.pos, r.err};
}

namespace {

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

inline bool is_digit(int c) { return static_cast<unsigned>(c - '0') < 10; }

inline int hex_value(int c)
{
    if (is_digit(c))
        return c - '0';
    unsigned l = static_cast<unsigned>((c | 0x20) - 'a');
    return l < 6 ? static_cast<int>(l) + 10 : -1;
}

inline int lower(int c) { return c < 0 ? c : (c | 0x20); }

// Eight bytes at p as one word, the first byte lowest.
inline std::uint64_t load8(const unsigned char *p)
{
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    if constexpr (std::endian::native == std::endian::big)
        w = __builtin_bswap64(w);
    return w;
}

constexpr std::uint64_t kZeros = 0x3030303030303030;  // eight '0'

// Bit 7 set in the first byte of w that is not an ASCII digit (bytes
// before it are digits and leave no carry; later bytes do not matter).
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

constexpr int kClingerPow = 22;  // the largest exact power of ten in a double
static_assert(std::size(kPow10) == kClingerPow + 1);

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

// Appends the digits at p to m a word at a time, with SWAR: whole words of
// eight digits, then the first digits of the word that ends them; nd counts
// them. Returns the first byte that is not a digit.
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

constexpr int kFastDigits = 19;  // any 19 digits fit in 64 bits

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
const unsigned char *decimal_swar_clinger(const unsigned char *p, double *out)
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

inline int peekc(Reader &r) { return fill(r) ? r.buf[r.pos] : -1; }

// Consumes the letters of `word` in any case; false at the first mismatch.
bool take_word(Reader &r, const char *word)
{
    for (; *word; ++word) {
        if (lower(peekc(r)) != *word)
            return false;
        ++r.pos;
    }
    return true;
}

// Significant digits kept of a long number. Any decimal that decides the
// rounding between two doubles has fewer, so the first kKeep digits and one
// more digit standing for "something nonzero follows" round the same way as
// the whole number.
constexpr int kKeep = 800;
constexpr long long kExpClamp = 10000000;

// The exact path: takes the characters that "%lf" takes, one at a time and
// in the same order of tests as the C library's scanner, keeping a bounded
// canonical form of the number that strtod converts to the same value.
bool slow_number(Reader &r, double *out)
{
    char t[kKeep + 40];
    int n = 0;
    int c = peekc(r);
    if (c == '-' || c == '+') {
        if (c == '-')
            t[n++] = '-';
        ++r.pos;
        c = peekc(r);
        if (c < 0)
            return false;
    }
    if (lower(c) == 'n') {
        if (!take_word(r, "nan"))
            return false;
        std::memcpy(t + n, "nan", 4);
        *out = std::strtod(t, nullptr);
        return true;
    }
    if (lower(c) == 'i') {
        if (!take_word(r, "inf"))
            return false;
        if (lower(peekc(r)) == 'i' && !take_word(r, "inity"))
            return false;
        std::memcpy(t + n, "inf", 4);
        *out = std::strtod(t, nullptr);
        return true;
    }
    bool hex = false, got_digit = false, got_dot = false, got_e = false;
    bool nonzero = false, sticky = false, any_after_x = false;
    bool eneg = false;
    long long scale = 0, ex = 0;
    int head = n, kept = 0;
    if (c == '0') {
        ++r.pos;
        c = peekc(r);
        if (lower(c) == 'x') {
            ++r.pos;
            c = peekc(r);
            hex = true;
        } else {
            got_digit = true;
        }
    }
    // the canonical form: 0.<digits> times a power of the base
    const char *lead = hex ? "0x0." : "0.";
    std::memcpy(t + n, lead, std::strlen(lead));
    n += static_cast<int>(std::strlen(lead));
    for (bool last_e = false; c >= 0;) {
        int d = -1;
        bool is_e = false;
        if (got_e && is_digit(c)) {
            // saturates far beyond any exponent that a digit count of a
            // real file could bring back into range
            if (ex < 1000000000000000LL)
                ex = ex * 10 + (c - '0');
        } else if (is_digit(c) || (hex && !got_e && hex_value(c) >= 0)) {
            d = hex_value(c);
            got_digit = true;
        } else if (last_e && (c == '-' || c == '+')) {
            eneg = c == '-';
        } else if (got_digit && !got_e && lower(c) == (hex ? 'p' : 'e')) {
            got_e = got_dot = is_e = true;
        } else if (!got_dot && c == '.') {
            got_dot = true;
        } else {
            break;
        }
        last_e = is_e;
        any_after_x = true;
        if (d > 0 || (d == 0 && nonzero)) {
            nonzero = true;
            if (kept < kKeep) {
                t[n++] = "0123456789abcdef"[d];
                ++kept;
            } else {
                sticky = sticky || d != 0;
            }
            if (!got_dot)
                ++scale;
        } else if (d == 0 && got_dot) {
            --scale;
        }
        ++r.pos;
        c = peekc(r);
    }
    if (hex ? !any_after_x : !got_digit)
        return false;
    if (!nonzero) {
        std::memcpy(t + head, "0", 2);
    } else {
        if (sticky)
            t[n++] = '1';
        long long e = (hex ? 4 * scale : scale) + (eneg ? -ex : ex);
        if (e > kExpClamp)
            e = kExpClamp;
        if (e < -kExpClamp)
            e = -kExpClamp;
        std::snprintf(t + n, sizeof t - n, "%c%lld", hex ? 'p' : 'e', e);
    }
    *out = std::strtod(t, nullptr);
    return true;
}

}  // namespace

// Counts a number that starts on line `line` towards the numbers of its
// line, and judges the line before it once a number lies past it.
static void count_on_line(Reader &r, long long line, int n)
{
    if (line != r.fit_line) {
        if (r.fit_numbers != n && r.fit_numbers != 0 && r.misfit.line == 0)
            r.misfit = {r.fit_line, r.fit_numbers};
        r.fit_line = line;
        r.fit_numbers = 0;
    }
    ++r.fit_numbers;
}

// Skips white space, counting lines, with kLookahead bytes kept ahead; the
// result lies at the end of the buffered bytes only at the end of the input.
static inline __attribute__((always_inline)) const unsigned char *skip_space(Reader &r)
{
    for (;;) {
        if (r.len - r.pos < kLookahead && !r.at_eof)
            refill(r, kLookahead);
        const unsigned char *p = r.buf + r.pos;
        long long line = r.line;
        for (; is_space(*p); ++p)
            line += *p == '\n';
        r.line = line;
        r.pos = static_cast<std::size_t>(p - r.buf);
        if (r.pos < r.len || r.at_eof)
            return p;
    }
}

// Counts the numbers of the usual shape in the 64 bytes at r.pos, which
// start with a word, and takes them: every word up to the first one that
// must be read one byte at a time (or that runs past the window) is checked
// at once, with carries through the masks standing for loops over bytes.
// Returns how many numbers it took; 0 when the first word is not usual.
// kAvx2: built for machines with AVX2 and a popcount instruction.
template <bool kAvx2>
[[gnu::always_inline]] inline long long count_window(Reader &r)
{
    const unsigned char *q = r.buf + r.pos;
    std::size_t avail = r.len - r.pos;
    Classes c;
    if constexpr (kAvx2)
        c = classify64_avx2(q);
    else
        c = classify64(q);
    std::uint64_t valid = avail >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << avail) - 1;
    std::uint64_t run = (c.digit | c.point | c.exp | c.sign) & valid;  // number bytes
    std::uint64_t space = c.space & valid;
    std::uint64_t other = valid & ~(run | space);
    // what may follow a number: white space, or the end of the input
    std::uint64_t ender = space | (r.at_eof && avail < 64 ? std::uint64_t{1} << avail : 0);
    std::uint64_t words = ~space & valid & (space << 1 | 1);  // first byte of each word
    std::uint64_t starts = run & ~(run << 1);
    std::uint64_t ends = run & ~(run >> 1);
    std::uint64_t dig = c.digit & valid, pt = c.point & valid, ex = c.exp & valid;
    std::uint64_t sg = c.sign & valid;
    // Adding a run's first bit, or any bit of it, to the run's mask sends a
    // carry up the run: it clears the bits from there to the run's end, and
    // stops at the first clear bit after it. So (run + ex) & run keeps the
    // part of each run before its first e, and a second e, or a second
    // point, is one that a carry reached. An e with no digits after it needs
    // no check: "1e" and "1e+" convert as 1, as the C library's scanf has it.
    std::uint64_t mantissa = (run + ex) & run;
    std::uint64_t lead = mantissa & ~dig;  // signs and points
    std::uint64_t bad = ((run + ex) & ex) | ((run + pt) & pt)  // two e, two points
                        | (pt & ~mantissa)                     // a point after the e
                        | (sg & ~(starts | ex << 1))           // a sign inside
                        | (ex & starts)                        // e first
                        | ((lead + (starts & lead)) & ~mantissa)  // no digit before the e
                        | (ends & ~(ender >> 1))  // not followed by white space
                        | other;
    unsigned at = static_cast<unsigned>(avail < 64 ? avail : 64);
    if (bad) {
        // back to the first byte of the word where the first fault lies
        unsigned x = static_cast<unsigned>(std::countr_zero(bad));
        std::uint64_t before = words & (x == 63 ? ~std::uint64_t{0} : (std::uint64_t{2} << x) - 1);
        at = 63 - static_cast<unsigned>(std::countl_zero(before));
    }
    std::uint64_t taken = at == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << at) - 1;
    r.pos += at;
    if constexpr (kAvx2)
        return __builtin_popcountll(starts & taken);
    else
        return count_bits(starts & taken);
}

// One number at p, by the fast path or, where it cannot decide, one byte
// after another; Stop::none when it converted.
template <bool kValue>
static Stop one_number(Reader &r, const unsigned char *p, double *out)
{
    const unsigned char *end = decimal_swar_clinger<kValue>(p, out);
    // a number that runs into the end of the buffered bytes may go on in the
    // bytes not read yet
    if (end && (end < r.buf + r.len || r.at_eof)) {
        r.pos = static_cast<std::size_t>(end - r.buf);
        return Stop::none;
    }
    bool ok = slow_number(r, out);
    return r.err ? Stop::error : ok ? Stop::none : Stop::not_number;
}

template <bool kAvx2>
[[gnu::always_inline]] inline Count count_all(Reader &r)
{
    long long numbers = 0;
    double ignored;
    for (;;) {
        const unsigned char *p = skip_space(r);
        if (r.pos == r.len)
            return {numbers, r.err ? Stop::error : Stop::end, r.err};
        if (long long k = count_window<kAvx2>(r)) {
            numbers += k;
            continue;
        }
        if (Stop stop = one_number<false>(r, p, &ignored); stop != Stop::none)
            return {numbers, stop, r.err};
        ++numbers;
    }
}

#if CASETOOLS_HAVE_AVX2_CLASSES
__attribute__((target("avx2,popcnt"))) static Count count_all_avx2(Reader &r)
{
    return count_all<true>(r);
}
#endif

Count count_numbers(Reader &r)
{
#if CASETOOLS_HAVE_AVX2_CLASSES
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt"))
        return count_all_avx2(r);
#endif
    return count_all<false>(r);
}

Record read_record(Reader &r, double *v, int n)
{
    Record rec{0, Stop::none, 0, 0};
    // The usual record, with the position and line in registers: numbers of
    // the usual shape, well inside the buffered bytes. Anything else goes on
    // below, from the number where this stopped.
    if (r.len - r.pos >= kLookahead) {
        const unsigned char *p = r.buf + r.pos, *lim = r.buf + r.len;
        long long line = r.line;
        for (; rec.got < n; ++rec.got) {
            for (; is_space(*p); ++p)
                line += *p == '\n';
            const unsigned char *end = decimal_swar_clinger<true>(p, &v[rec.got]);
            if (!end || end == lim)
                break;
            if (rec.got == 0)
                rec.line = line;
            count_on_line(r, line, n);
            p = end;
        }
        r.pos = static_cast<std::size_t>(p - r.buf);
        r.line = line;
    }
    while (rec.got < n) {
        const unsigned char *p = skip_space(r);
        if (r.pos == r.len) {
            rec.stop = r.err ? Stop::error : Stop::end;
            if (rec.got == 0)
                rec.line = r.line;
            break;
        }
        if (rec.got == 0)
            rec.line = r.line;
        long long word_line = r.line;
        if (Stop stop = one_number<true>(r, p, &v[rec.got]); stop != Stop::none) {
            rec.stop = stop;
            if (stop == Stop::not_number)
                rec.line = word_line;
            break;
        }
        count_on_line(r, word_line, n);
        ++rec.got;
    }
    rec.err = rec.stop == Stop::error ? r.err : 0;
    return rec;
}

Misfit first_misfit(const Reader &r, int n)
{
    if (r.misfit.line == 0 && r.fit_numbers != n && r.fit_numbers != 0)
        return {r.fit_line, r.fit_numbers};
    return r.misfit;
}

// Whether warn_stop has a warning for the record that ended the reading.
static bool stopped_early(const Record &last)
{
    return last.stop == Stop::not_number || (last.stop == Stop::end && last.got > 0);
}

void warn_stop(const Reader &r, const Record &last, int n)
{
    if (!stopped_early(last))
        return;
    if (last.stop == Stop::end)
        warnx("%s: line %lld: the last record is incomplete (%d of %d numbers); it was "
              "ignored",
              r.path, last.line, last.got, n);
    else if (last.got == 0)
        warnx("%s: line %lld: not a number; the rest of the file was ignored", r.path,
              last.line);
    else
        warnx("%s: line %lld: not a number; the incomplete record before it and the "
              "rest of the file were ignored",
              r.path, last.line);
}

void warn_misfit(const Reader &r, const Record &last, int n)
{
    Misfit m = first_misfit(r, n);
    if (m.line == 0 || (stopped_early(last) && m.line == last.line))
        return;
    warnx("%s: line %lld: %d number%s on the line, but a record has %d; records are read "
          "as a stream of numbers across lines, not line by line",
          r.path, m.line, m.numbers, m.numbers == 1 ? "" : "s", n);
}

}  // namespace textio
