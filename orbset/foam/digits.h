// Runs of decimal digits eight bytes at a time: how many of the eight bytes
// at p lead with digits, and the value of up to eight digits in one word,
// with fast_float's eight-digit step (Daniel Lemire, "Number parsing at a
// gigabyte per second", 2021). The bytes after a number must be readable:
// every Text ends in kTextPad zero bytes.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace foam {

inline std::uint64_t load8(const char *p)
{
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    if constexpr (std::endian::native == std::endian::big)
        w = __builtin_bswap64(w);
    return w;  // p[0] in the lowest byte
}

// How many of the bytes of w, from the lowest, are digits before the first
// one that is not (8 when all are). A byte is a digit when its high nibble
// is 3 and its low nibble at most 9 (+6 then stays within the nibble).
inline int leading_digits(std::uint64_t w)
{
    std::uint64_t high = (w & 0xF0F0F0F0F0F0F0F0) ^ 0x3030303030303030;
    std::uint64_t low = ((w & 0x0F0F0F0F0F0F0F0F) + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0;
    std::uint64_t other = high | low;
    return other ? std::countr_zero(other) >> 3 : 8;
}

// The value of the first n digits of w (1 <= n <= 8): the digits moved to
// the top, so that the bytes below stand for leading zeros, then pairs,
// fours and eights of digits combined by three multiplications.
inline std::uint32_t digits_value(std::uint64_t w, int n)
{
    // each digit byte >= '0' borrows nothing; bytes past the digits may,
    // into higher bytes, which the shift drops
    std::uint64_t v = (w - 0x3030303030303030) << (8 * (8 - n));
    v = (v * 10) + (v >> 8);
    v = (((v & 0x000000FF000000FF) * 0x000F424000000064) +
         (((v >> 16) & 0x000000FF000000FF) * 0x0000271000000001)) >> 32;
    return static_cast<std::uint32_t>(v);
}

}  // namespace foam
