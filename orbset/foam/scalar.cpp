#include "scalar.h"

#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "digits.h"

namespace foam {

namespace {

Reading g_reading;

}  // namespace

void set_reading(const Reading &r) { g_reading = r; }
const Reading &reading() { return g_reading; }

namespace {

// OpenFOAM's doubleScalarVSMALL and doubleScalarVGREAT, compared in long
// double as its reader compares them.
constexpr long double kVSmall = 1.0e-300;
constexpr long double kVGreat = 1.0e+300;

// 10^0 to 10^27 in long double: every one exact, since 5^27 < 2^64.
constexpr int kExactPower = 27;
constexpr long double kPow10[kExactPower + 1] = {
    1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L,  1e9L,
    1e10L, 1e11L, 1e12L, 1e13L, 1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L,
    1e20L, 1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L,
};
// The most decimal digits a 64-bit integer always holds.
constexpr int kMantissaDigits = 19;
// The exact way below needs a long double of a 64-bit mantissa or more
// (x87's 80-bit type; IEEE quadruple precision, as on aarch64): where it
// is double, every number not a label goes through strtold.
constexpr bool kLongDoubleFastPath = LDBL_MANT_DIG >= 64;
constexpr std::int64_t kLabelMax = 2147483647;

// ESI's own way for the tokens the exact way does not take: strtold, then
// the checks and the narrowing of its ScalarRead (Scalar.C).
Converted by_strtold(const char *p, const char *end)
{
    char buf[kNumberMax + 1];
    std::size_t n = static_cast<std::size_t>(end - p);
    std::memcpy(buf, p, n);
    buf[n] = 0;
    char *stop = nullptr;
    errno = 0;
    long double v = std::strtold(buf, &stop);
    if (stop != buf + n)
        return {Conv::not_number, end, 0, false, 0};
    if (errno == ERANGE || v < -kVGreat || v > kVGreat)
        return {Conv::out_of_range, end, 0, false, 0};
    double d = (v >= -kVSmall && v <= kVSmall) ? 0.0 : static_cast<double>(v);
    return {Conv::ok, end, d, false, 0};
}

// The Foundation's way (readScalar in doubleScalar.H): strtod, whose one
// rounding std::from_chars gives as well, faster; strtod itself where
// from_chars reports a value beyond the range of double, which it leaves
// unset. Its value beyond the largest double, infinity, is refused: cell
// centres and tests of infinities are not numbers setFields means.
Converted by_strtod(const char *p, const char *end)
{
    double d = 0;
    auto [stop, ec] = std::from_chars(p, end, d);
    if (ec == std::errc() && stop == end)
        return {Conv::ok, end, d, false, 0};
    if (ec != std::errc::result_out_of_range)
        return {Conv::not_number, end, 0, false, 0};
    const std::string buf(p, end);
    d = std::strtod(buf.c_str(), nullptr);
    if (std::isinf(d))
        return {Conv::out_of_range, end, 0, false, 0};
    return {Conv::ok, end, d, false, 0};
}

// The Foundation's 12 and later read a token of '-' and digits beyond 32
// bits as a 64-bit integer: signed, else unsigned, and strtoumax takes a
// negative one beyond the signed range without complaint, as 2^64 less
// its size. Only those differ from strtod.
bool wrapped_integer(const char *p, const char *end, double &value)
{
    if (*p != '-' || end - p > 21)
        return false;
    for (const char *q = p + 1; q < end; ++q)
        if (!is_digit(*q))
            return false;
    char buf[24];
    std::memcpy(buf, p, static_cast<std::size_t>(end - p));
    buf[end - p] = 0;
    errno = 0;
    std::strtoimax(buf, nullptr, 10);
    if (errno == 0)
        return false;  // within the signed range: strtod's value
    errno = 0;
    const std::uintmax_t wrapped = std::strtoumax(buf, nullptr, 10);
    if (errno != 0)
        return false;  // beyond 64 bits: strtod's value
    value = static_cast<double>(wrapped);
    return true;
}

}  // namespace

namespace {

constexpr std::uint64_t kPow10Int[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000,
                                        100000000};

// The decimal mantissa of a number: its significant digits, up to 19 of
// them, and the power of ten that scales them.
struct Mantissa {
    std::uint64_t m = 0;
    int digits = 0;      // significant digits in m
    int exp10 = 0;
    bool many = false;   // more than 19 significant digits: m holds the first 19
};

// Appends the digits at c to the mantissa, eight at a time where it has
// room for them; `scale` is added to exp10 for each digit that is kept
// after the point (-1) or dropped before it (+1). Returns the end.
[[gnu::always_inline]] inline const char *take_digits(const char *c, Mantissa &t, int kept_scale,
                                                      int dropped_scale)
{
    for (;;) {
        int n = leading_digits(load8(c));
        if (n == 0)
            return c;
        if (t.digits + n <= kMantissaDigits) {
            t.m = t.m * kPow10Int[n] + digits_value(load8(c), n);
            t.digits += n;
            t.exp10 += kept_scale * n;
        } else {
            for (int i = 0; i < n; ++i) {
                if (t.digits < kMantissaDigits) {
                    t.m = t.m * 10 + static_cast<unsigned>(c[i] - '0');
                    ++t.digits;
                    t.exp10 += kept_scale;
                } else {
                    t.many = true;
                    t.exp10 += dropped_scale;
                }
            }
        }
        c += n;
        if (n < 8)
            return c;
    }
}

[[gnu::always_inline]] inline const char *skip_zeros(const char *c)
{
    while (*c == '0')
        ++c;
    return c;
}

bool too_long(const char *p, const char *end)
{
    return end - p > kNumberMax && !g_reading.any_length;
}

Converted refused(Conv why, const char *p)
{
    const char *end = p + 1;
    while (is_number_char(*end))
        ++end;
    return {too_long(p, end) ? Conv::too_long : why, end, 0, false, 0};
}

// 10^0 to 10^22 in double: every one exact, since 5^22 < 2^53.
constexpr int kExactDoublePower = 22;
constexpr double kPow10Double[kExactDoublePower + 1] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22,
};
constexpr std::uint64_t kExactDoubleMantissa = std::uint64_t{1} << 53;

// The Foundation's reading of a token that is not a label.
Converted one_rounding(const char *p, const char *c, const Mantissa &t, bool negative)
{
    if (t.m == 0)
        return {Conv::ok, c, negative ? -0.0 : 0.0, false, 0};
    double wrapped;
    if (g_reading.wide_integers && wrapped_integer(p, c, wrapped))
        return {Conv::ok, c, wrapped, false, 0};
    if (t.many || t.m > kExactDoubleMantissa || t.exp10 < -kExactDoublePower ||
        t.exp10 > kExactDoublePower)
        return by_strtod(p, c);
    // Clinger's fast path in double: the mantissa and the power of ten
    // are exact, so one correctly rounded operation gives strtod's value.
    double v = static_cast<double>(t.m);
    v = t.exp10 >= 0 ? v * kPow10Double[t.exp10] : v / kPow10Double[-t.exp10];
    return {Conv::ok, c, negative ? -v : v, false, 0};
}

}  // namespace

Converted convert_number(const char *p)
{
    bool negative = *p == '-';
    const char *c = p + negative;
    const char *digits_from = c;
    Mantissa t;
    c = take_digits(skip_zeros(c), t, 0, 1);
    bool any = c > digits_from;

    // Labels: digits only, within 32 bits.
    if (any && !is_number_char(*c) && !t.many && t.digits <= 10 &&
        t.m <= static_cast<std::uint64_t>(kLabelMax + negative)) {
        if (too_long(p, c))
            return refused(Conv::too_long, p);
        auto label = static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(t.m)
                                                        : static_cast<std::int64_t>(t.m));
        return {Conv::ok, c, static_cast<double>(label), true, label};
    }
    if (*c == '.') {
        const char *frac = ++c;
        if (t.m == 0) {
            c = skip_zeros(c);
            t.exp10 -= static_cast<int>(c - frac);
        }
        c = take_digits(c, t, -1, 0);
        any = any || c > frac;
    }
    if (!any)
        return refused(Conv::not_number, p);
    if (*c == 'e' || *c == 'E') {
        ++c;
        bool down = *c == '-';
        if (*c == '-' || *c == '+')
            ++c;
        if (!is_digit(*c))
            return refused(Conv::not_number, p);
        int e = 0;
        for (; is_digit(*c); ++c)
            if (e < 100000)
                e = e * 10 + (*c - '0');
        t.exp10 += down ? -e : e;
    }
    if (is_number_char(*c))
        return refused(Conv::not_number, p);
    if (too_long(p, c))
        return refused(Conv::too_long, p);
    if (g_reading.one_rounding)
        return one_rounding(p, c, t, negative);
    if (t.m == 0)
        return {Conv::ok, c, 0.0, false, 0};
    if (t.many || t.exp10 < -kExactPower || t.exp10 > kExactPower || !kLongDoubleFastPath)
        return by_strtold(p, c);

    // Decimals of up to 19 significant digits scaled by at most 10^27: the
    // mantissa and the power of ten are exact in a long double of 64
    // mantissa bits or more, so one multiplication or division, correctly
    // rounded, gives what strtold gives (Clinger's fast path, "How to read
    // floating point numbers accurately", 1990, taken to the mantissa of
    // the platform's long double), then narrowed as ESI narrows it.
    long double v = static_cast<long double>(t.m);
    v = t.exp10 >= 0 ? v * kPow10[t.exp10] : v / kPow10[-t.exp10];
    double value = static_cast<double>(v);
    return {Conv::ok, c, negative ? -value : value, false, 0};
}

}  // namespace foam
