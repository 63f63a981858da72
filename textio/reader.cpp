#include "reader.h"

#include "diag.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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

// The usual number: a plain decimal with at most 19 significant digits whose
// value one correctly rounded multiplication or division gives exactly.
// Returns the end of the number, or nullptr when the exact path must decide
// (hex, inf, nan, long or extreme numbers, no digits, or a number that
// reaches the end of the buffered bytes before the end of the input).
const unsigned char *fast_decimal(const unsigned char *p,
                                  const unsigned char *e, bool final,
                                  double *out)
{
    bool neg = false;
    if (p < e && (*p == '-' || *p == '+')) {
        neg = *p == '-';
        ++p;
    }
    if (p + 1 < e && p[0] == '0' && lower(p[1]) == 'x')
        return nullptr;
    const unsigned char *start = p;
    while (p < e && *p == '0')
        ++p;
    std::uint64_t m = 0;
    int nd = 0, scale = 0;
    for (; p < e && is_digit(*p); ++p, ++nd) {
        if (nd == 19)
            return nullptr;
        m = m * 10 + (*p - '0');
    }
    bool any = p > start;
    if (p < e && *p == '.') {
        const unsigned char *frac = ++p;
        if (nd == 0)
            for (; p < e && *p == '0'; ++p)
                --scale;
        for (; p < e && is_digit(*p); ++p, ++nd, --scale) {
            if (nd == 19)
                return nullptr;
            m = m * 10 + (*p - '0');
        }
        any = any || p > frac;
    }
    if (!any)
        return nullptr;
    int ex = 0;
    if (p < e && lower(*p) == 'e') {
        ++p;
        bool eneg = false;
        if (p < e && (*p == '-' || *p == '+')) {
            eneg = *p == '-';
            ++p;
        }
        for (; p < e && is_digit(*p); ++p)
            if (ex < 100000)
                ex = ex * 10 + (*p - '0');
        if (eneg)
            ex = -ex;
    }
    if (p == e && !final)
        return nullptr;
    int e10 = scale + ex;
    double v;
    if (m == 0)
        v = 0.0;
    else if (m <= (std::uint64_t{1} << 53) && e10 >= -22 && e10 <= 22)
        v = e10 < 0 ? static_cast<double>(m) / kPow10[-e10]
                    : static_cast<double>(m) * kPow10[e10];
    else
        return nullptr;
    *out = neg ? -v : v;
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

Record read_record(Reader &r, double *v, int n)
{
    Record rec{0, Stop::none, 0, 0};
    for (; rec.got < n; ++rec.got) {
        for (;;) {
            if (r.len - r.pos < kLookahead)
                refill(r, kLookahead);
            const unsigned char *p = r.buf + r.pos, *e = r.buf + r.len;
            while (p < e && is_space(*p)) {
                if (*p == '\n')
                    ++r.line;
                ++p;
            }
            r.pos = static_cast<std::size_t>(p - r.buf);
            if (p < e || r.at_eof)
                break;
        }
        if (r.pos == r.len) {
            rec.stop = r.err ? Stop::error : Stop::end;
            if (rec.got == 0)
                rec.line = r.line;
            break;
        }
        if (rec.got == 0)
            rec.line = r.line;
        long long word_line = r.line;
        const unsigned char *end = fast_decimal(r.buf + r.pos, r.buf + r.len,
                                                r.at_eof, &v[rec.got]);
        bool ok = true;
        if (end)
            r.pos = static_cast<std::size_t>(end - r.buf);
        else
            ok = slow_number(r, &v[rec.got]);
        if (r.err) {
            rec.stop = Stop::error;
            break;
        }
        if (!ok) {
            rec.stop = Stop::not_number;
            rec.line = word_line;
            break;
        }
        count_on_line(r, word_line, n);
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
