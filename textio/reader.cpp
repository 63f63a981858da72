#include "reader.h"

#include "classes.h"
#include "cpu.h"
#include "diag.h"
#include "number.h"

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

inline int peekc(Reader &r) { return fill(r) ? r.buf[r.pos] : -1; }

inline int hex_value(int c)
{
    if (is_digit(c))
        return c - '0';
    unsigned l = static_cast<unsigned>((c | 0x20) - 'a');
    return l < 6 ? static_cast<int>(l) + 10 : -1;
}

// ---------------------------------------------------------------------
// The exact path: takes the bytes that "%lf" takes, one at a time and in
// the same order of tests as the C library's scanner, in steps that fill an
// ExactNumber; then strtod converts its canonical form.

// Significant digits kept of a long number. Any decimal that decides the
// rounding between two doubles has fewer, so the first kKeep digits and one
// more digit standing for "something nonzero follows" round the same way as
// the whole number.
constexpr int kKeep = 800;
// The power of the base in the canonical form is clamped here: far past
// the range of a double either way, so the value is 0 or inf alike.
constexpr long long kExpClamp = 10000000;
// The exponent as written saturates here, far beyond any exponent that a
// digit count of a real file could bring back into range.
constexpr long long kExpSaturate = 1000000000000000LL;

// One number as the exact path has read it. `text` is its canonical form
// so far: the sign, "0." (or "0x0." for hexadecimal), then the significant
// digits, of which a power of the base is added at the end.
struct ExactNumber {
    char text[kKeep + 40];
    int len;             // bytes of text
    int digits_at;       // where "0." starts: after the sign
    bool hex;            // "0x" came first
    bool got_digit;      // a digit of the mantissa (for decimal, the 0 of
                         // a 0 that was not followed by x too)
    bool got_dot;
    int kept;            // significant digits in text; 0 while the digits
                         // are zeros
    bool sticky;         // a nonzero digit beyond the kept ones
    long long scale;     // the power of the base that makes 0.<digits> the
                         // mantissa: integer digits from the first
                         // significant one, less the zeros between the
                         // point and the first significant digit
    long long exponent;  // the exponent as written, saturated
    bool exponent_negative;
};

void append(ExactNumber &x, const char *s, int n)
{
    std::memcpy(x.text + x.len, s, static_cast<std::size_t>(n));
    x.len += n;
}

// Step 1: the sign ("-1", "+.5"). False when the input ends right after it.
bool take_sign(Reader &r, ExactNumber &x)
{
    int c = peekc(r);
    if (c != '-' && c != '+')
        return true;
    if (c == '-')
        append(x, "-", 1);
    ++r.pos;
    return peekc(r) >= 0;
}

// Consumes the letters of `word` in any case; false at the first mismatch.
bool take_letters(Reader &r, const char *word)
{
    for (; *word; ++word) {
        if (lower(peekc(r)) != *word)
            return false;
        ++r.pos;
    }
    return true;
}

enum class Word {
    none,       // not a word: a number with digits follows
    converted,  // "nan", "inf" or "infinity", in any case
    failed,     // a word begun and broken off: "na", "infin"
};

// Step 2: nan and inf. Letters taken are not given back, so "infin" fails.
Word take_word(Reader &r, ExactNumber &x, double *out)
{
    int c = lower(peekc(r));
    if (c == 'n') {
        if (!take_letters(r, "nan"))
            return Word::failed;
        append(x, "nan", 4);
    } else if (c == 'i') {
        if (!take_letters(r, "inf") ||
            (lower(peekc(r)) == 'i' && !take_letters(r, "inity")))
            return Word::failed;
        append(x, "inf", 4);
    } else {
        return Word::none;
    }
    *out = std::strtod(x.text, nullptr);
    return Word::converted;
}

// Step 3: "0x" opens a hexadecimal number; a 0 without x is a digit.
void take_prefix(Reader &r, ExactNumber &x)
{
    x.digits_at = x.len;
    if (peekc(r) == '0') {
        ++r.pos;
        if (lower(peekc(r)) == 'x') {
            ++r.pos;
            x.hex = true;
        } else {
            x.got_digit = true;
        }
    }
    if (x.hex)
        append(x, "0x0.", 4);
    else
        append(x, "0.", 2);
}

// Step 4: the digits of the base and at most one point ("12.5", ".5",
// "5.", "0x1a.8").
void take_mantissa(Reader &r, ExactNumber &x)
{
    for (int c = peekc(r); c >= 0; ++r.pos, c = peekc(r)) {
        if (c == '.' && !x.got_dot) {
            x.got_dot = true;
            continue;
        }
        if (!(is_digit(c) || (x.hex && hex_value(c) >= 0)))
            return;
        int d = hex_value(c);
        x.got_digit = true;
        if (d == 0 && x.kept == 0) {  // a leading zero
            if (x.got_dot)
                --x.scale;
            continue;
        }
        if (x.kept < kKeep) {
            x.text[x.len++] = "0123456789abcdef"[d];
            ++x.kept;
        } else {
            x.sticky = x.sticky || d != 0;
        }
        if (!x.got_dot)
            ++x.scale;
    }
}

// Step 5: the exponent: e (p for hexadecimal) after a digit, a sign, its
// digits ("1e5", "1e-5", "0x1p3"). Only a sign right after the e counts,
// and "1e" and "1e+" keep what they took.
void take_exponent(Reader &r, ExactNumber &x)
{
    if (!x.got_digit || lower(peekc(r)) != (x.hex ? 'p' : 'e'))
        return;
    ++r.pos;
    int c = peekc(r);
    if (c == '-' || c == '+') {
        x.exponent_negative = c == '-';
        ++r.pos;
        c = peekc(r);
    }
    for (; is_digit(c); ++r.pos, c = peekc(r))
        if (x.exponent < kExpSaturate)
            x.exponent = x.exponent * 10 + (c - '0');
}

// Step 6: the value, from the canonical form; false when there was no
// digit ("." or "-e5"), or nothing after "0x" ("0x", "0xg").
bool exact_value(ExactNumber &x, double *out)
{
    if (!(x.got_digit || (x.hex && x.got_dot)))
        return false;
    if (x.kept == 0) {
        x.len = x.digits_at;
        append(x, "0", 2);
    } else {
        if (x.sticky)
            x.text[x.len++] = '1';
        long long e = (x.hex ? 4 * x.scale : x.scale) +
                      (x.exponent_negative ? -x.exponent : x.exponent);
        if (e > kExpClamp)
            e = kExpClamp;
        if (e < -kExpClamp)
            e = -kExpClamp;
        std::snprintf(x.text + x.len, sizeof x.text - static_cast<std::size_t>(x.len), "%c%lld",
                      x.hex ? 'p' : 'e', e);
    }
    *out = std::strtod(x.text, nullptr);
    return true;
}

}  // namespace

bool exact_number(Reader &r, double *out)
{
    ExactNumber x;
    x.len = 0;
    x.hex = x.got_digit = x.got_dot = x.sticky = x.exponent_negative = false;
    x.kept = 0;
    x.scale = x.exponent = 0;
    if (!take_sign(r, x))
        return false;
    if (Word w = take_word(r, x, out); w != Word::none)
        return w == Word::converted;
    take_prefix(r, x);
    take_mantissa(r, x);
    take_exponent(r, x);
    return exact_value(x, out);
}

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
// at once, by the mask rules of number.h. Returns how many numbers it took; 0 when the first word is not usual.
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
    Window w = window(c, avail, r.at_eof);
    unsigned at = taken_bytes(w, faults(w), avail);
    std::uint64_t taken = at == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << at) - 1;
    r.pos += at;
    return popcount<kAvx2>(w.starts & taken);
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
    bool ok = exact_number(r, out);
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
    if (Isa isa_ = isa(); isa_.avx2 && isa_.popcnt)
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
