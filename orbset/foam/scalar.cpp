#include "scalar.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

Converted convert_number(const char *p)
{
    const char *end = p + 1;
    while (is_number_char(*end))
        ++end;
    if (end - p > kNumberMax)
        return {Conv::too_long, end, 0, false, 0};

    bool negative = *p == '-';
    const char *c = p + negative;

    // Labels: digits only, within 32 bits.
    const char *d = c;
    std::int64_t whole = 0;
    for (; d < end && is_digit(*d); ++d)
        if (whole <= kLabelMax + 1)
            whole = whole * 10 + (*d - '0');
    if (d == end && d > c && whole <= kLabelMax + negative) {
        auto label = static_cast<std::int32_t>(negative ? -whole : whole);
        return {Conv::ok, end, static_cast<double>(label), true, label};
    }

    // Decimals of up to 19 significant digits scaled by at most 10^27: the
    // mantissa and the power of ten are exact in long double, so one
    // multiplication or division, correctly rounded, gives what strtold
    // gives (Clinger's fast path, "How to read floating point numbers
    // accurately", 1990, taken to the 64-bit mantissa of x87 long double).
    std::uint64_t m = 0;
    int digits = 0, exp10 = 0;
    bool any = false, many = false;
    for (; is_digit(*c); ++c) {
        any = true;
        if (m == 0 && *c == '0')
            continue;
        if (digits < kMantissaDigits) {
            m = m * 10 + static_cast<unsigned>(*c - '0');
            ++digits;
        } else {
            many = true;
        }
    }
    if (*c == '.') {
        for (++c; is_digit(*c); ++c) {
            any = true;
            if (m == 0 && *c == '0') {
                --exp10;
                continue;
            }
            if (digits < kMantissaDigits) {
                m = m * 10 + static_cast<unsigned>(*c - '0');
                ++digits;
                --exp10;
            } else {
                many = true;
            }
        }
    }
    if (!any)
        return {Conv::not_number, end, 0, false, 0};
    if (*c == 'e' || *c == 'E') {
        ++c;
        bool down = *c == '-';
        if (*c == '-' || *c == '+')
            ++c;
        if (!is_digit(*c))
            return {Conv::not_number, end, 0, false, 0};
        int e = 0;
        for (; is_digit(*c); ++c)
            if (e < 100000)
                e = e * 10 + (*c - '0');
        exp10 += down ? -e : e;
    }
    if (c != end)
        return {Conv::not_number, end, 0, false, 0};
    if (m == 0)
        return {Conv::ok, end, 0.0, false, 0};
    if (many || exp10 < -kExactPower || exp10 > kExactPower)
        return by_strtold(p, end);
    long double v = static_cast<long double>(m);
    v = exp10 >= 0 ? v * kPow10[exp10] : v / kPow10[-exp10];
    double value = static_cast<double>(v);
    return {Conv::ok, end, negative ? -value : value, false, 0};
}

}  // namespace foam
