// The instructions beyond the x86-64 baseline that the fast paths use, and
// the one place that says whether they may: the record reader's counting
// pass and headcut's scan both ask isa() when they start.
#pragma once

#include <cstdint>

namespace textio {

struct Isa {
    bool popcnt;  // set bits of a word counted by one instruction
    bool avx2;    // byte classes 32 bytes a step
};

namespace detail {
// A build configured with CASETOOLS_PORTABLE=ON takes the portable paths
// everywhere, so that its whole test suite runs on them.
#ifdef CASETOOLS_PORTABLE
inline bool portable = true;
#else
inline bool portable = false;
#endif
}  // namespace detail

// What the fast paths may use: what the machine has, unless the portable
// paths were chosen.
inline Isa isa()
{
#if defined(__x86_64__)
    if (!detail::portable)
        return {__builtin_cpu_supports("popcnt") != 0, __builtin_cpu_supports("avx2") != 0};
#endif
    return {false, false};
}

// For the tests, which run each path on its own: the portable paths from
// now on (true), or the machine's (false). The programs never call it.
inline void use_portable(bool on) { detail::portable = on; }
inline bool portable() { return detail::portable; }

// Set bits of x, in a few word operations: without a popcount instruction
// in the baseline instruction set, std::popcount would call a library.
inline int count_bits(std::uint64_t x)
{
    x -= (x >> 1) & 0x5555555555555555;
    x = (x & 0x3333333333333333) + ((x >> 2) & 0x3333333333333333);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0F;
    return static_cast<int>((x * 0x0101010101010101) >> 56);
}

// Set bits of x: by the instruction in code built for it (kPopcnt), else
// by count_bits.
template <bool kPopcnt>
[[gnu::always_inline]] inline int popcount(std::uint64_t x)
{
    if constexpr (kPopcnt)
        return __builtin_popcountll(x);
    else
        return count_bits(x);
}

}  // namespace textio
