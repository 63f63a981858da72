#include "scalar.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "digits.h"

namespace foam {

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
constexpr std::int64_t kLabelMax = 2147483647;

// OpenFOAM's own way for the tokens the exact way does not take: strtold,
// then the checks and the narrowing of its ScalarRead.
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

Converted refused(Conv why, const char *p)
{
    const char *end = p + 1;
    while (is_number_char(*end))
        ++end;
    return {end - p > kNumberMax ? Conv::too_long : why, end, 0, false, 0};
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
        if (c - p > kNumberMax)
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
    if (c - p > kNumberMax)
        return refused(Conv::too_long, p);
    if (t.m == 0)
        return {Conv::ok, c, 0.0, false, 0};
    if (t.many || t.exp10 < -kExactPower || t.exp10 > kExactPower)
        return by_strtold(p, c);

    // Decimals of up to 19 significant digits scaled by at most 10^27: the
    // mantissa and the power of ten are exact in long double, so one
    // multiplication or division, correctly rounded, gives what strtold
    // gives (Clinger's fast path, "How to read floating point numbers
    // accurately", 1990, taken to the 64-bit mantissa of x87 long double).
    long double v = static_cast<long double>(t.m);
    v = t.exp10 >= 0 ? v * kPow10[t.exp10] : v / kPow10[-t.exp10];
    double value = static_cast<double>(v);
    return {Conv::ok, c, negative ? -value : value, false, 0};
}

}  // namespace foam
