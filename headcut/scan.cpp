#include "scan.h"

#include "classes.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace headcut {

namespace {

// Bit i set where byte i of the 64 at q is a newline. The reader keeps
// readable bytes past its data, so the 64 may run past it.
inline std::uint64_t newlines64(const unsigned char *q)
{
    std::uint64_t m = 0;
#if defined(__SSE2__)
    const __m128i newline = _mm_set1_epi8('\n');
    for (int i = 0; i < 4; ++i) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(q + 16 * i));
        m |= static_cast<std::uint64_t>(
                 static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, newline))))
             << (16 * i);
    }
#else
    for (int i = 0; i < 64; ++i)
        m |= static_cast<std::uint64_t>(q[i] == '\n') << i;
#endif
    return m;
}

}  // namespace

// The scanning rule. The column counter starts at 1 and restarts at 0 after
// every newline, and a byte is used only while the counter, raised for it,
// stays within the limit: so a line, newline included, holds at most
// kColumnLimit - 1 bytes if it is the first and kColumnLimit bytes if not.
// A byte that would trip the limit stops the scan unread; so does the end of
// the input, whose reads count like bytes.
//
// The newlines are found 64 bytes at a time, as a mask: within a mask every
// line but the first is shorter than any limit, so only the first newline of
// a mask is checked against the line it ends, and the others are counted
// together. A mask that reaches a line count that matters (the start or end
// of the copy, the line cap) is walked newline by newline. The bytes to copy
// go to the output in one piece per buffer.
//
// kPopcount: the machine's popcount instruction counts the newlines of a
// mask; without it, a few word operations.
template <bool kPopcount>
[[gnu::always_inline]] inline Scan scan_rule(textio::Reader &r, textio::Sink *out, int total)
{
    int lines = 0;
    // where the current line starts and the last place its newline may be,
    // counted from the start of the unread bytes
    long long start = 0, last_byte = kColumnLimit - 2;
    // the copy: from the byte after newline kHeaderLines to the end of
    // newline `total`, when there is an output and anything to copy
    bool copying = false;
    // the next line count at which something happens: the copy starts or
    // ends, or the cap is passed
    auto next_mark = [&] {
        if (out && lines < kHeaderLines)
            return kHeaderLines;
        if (out && lines < total && total <= kLineCap)
            return total;
        return kLineCap + 1;
    };
    int mark = next_mark();
    for (;;) {
        textio::Bytes b = textio::peek(r);
        if (lines > kLineCap)
            return {lines, b.size ? ScanEnd::cap : ScanEnd::clean, 0};
        if (b.size == 0) {
            if (b.err)
                return {lines, ScanEnd::error, b.err};
            return {lines, start < 0 ? ScanEnd::partial : ScanEnd::clean, 0};
        }
        long long size = static_cast<long long>(b.size), used = size, copy_from = 0;
        ScanEnd stop = ScanEnd::clean;
        for (long long c = 0; c < size; c += 64) {
            std::uint64_t m = newlines64(b.data + c);
            if (size - c < 64)
                m &= (std::uint64_t{1} << (size - c)) - 1;
            long long first = m ? c + __builtin_ctzll(m) : size;
            long long chunk_end = c + 64 < size ? c + 64 : size;
            if ((m ? first : chunk_end - 1) > last_byte && last_byte < size) {
                // a byte past the line's room: the line is too long
                stop = ScanEnd::long_line;
                used = last_byte + 1;
                break;
            }
            if (!m)
                continue;
            int k = kPopcount ? __builtin_popcountll(m) : textio::count_bits(m);
            if (lines + k < mark) {
                lines += k;
                start = c + 64 - __builtin_clzll(m);
                last_byte = start + kColumnLimit - 1;
                continue;
            }
            for (; m; m &= m - 1) {  // seldom: newline by newline
                long long at = c + __builtin_ctzll(m);
                ++lines;
                start = at + 1;
                last_byte = start + kColumnLimit - 1;
                if (out && lines == kHeaderLines && total > kHeaderLines) {
                    copying = true;
                    copy_from = start;
                }
                if (out && lines == total && copying) {
                    textio::put(*out, reinterpret_cast<const char *>(b.data) + copy_from,
                                static_cast<std::size_t>(start - copy_from));
                    copying = false;
                }
                if (lines > kLineCap) {
                    used = start;
                    break;
                }
                mark = next_mark();
            }
            if (lines > kLineCap)
                break;
        }
        if (copying)
            textio::put(*out, reinterpret_cast<const char *>(b.data) + copy_from,
                        static_cast<std::size_t>(used - copy_from));
        textio::consume(r, static_cast<std::size_t>(used));
        start -= used;
        last_byte -= used;
        if (stop == ScanEnd::long_line)
            return {lines, ScanEnd::long_line, 0};
    }
}

#if defined(__x86_64__)
// The same rule built for machines with a popcount instruction, chosen when
// the program runs.
__attribute__((target("popcnt"))) static Scan scan_popcount(textio::Reader &r,
                                                            textio::Sink *out, int total)
{
    return scan_rule<true>(r, out, total);
}

Scan scan(textio::Reader &r, textio::Sink *out, int total)
{
    if (__builtin_cpu_supports("popcnt"))
        return scan_popcount(r, out, total);
    return scan_rule<false>(r, out, total);
}
#else
Scan scan(textio::Reader &r, textio::Sink *out, int total) { return scan_rule<false>(r, out, total); }
#endif

}  // namespace headcut
