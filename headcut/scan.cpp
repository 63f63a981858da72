#include "scan.h"

#include "cpu.h"

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

// The state of one scan, kept from one block of bytes to the next.
// Positions count from the first byte of the current block.
//
// The column counter of the rule starts at 1 and restarts at 0 after every
// newline, and a byte is used only while the counter, raised for it, stays
// within the limit; so the state keeps, instead of the counter, where the
// current line starts and the last place where its newline may lie.
// Invariants:
// - last_byte == start + kColumnLimit - 1, except on the first line of the
//   input, where start == 0 and last_byte == kColumnLimit - 2.
// - Between blocks start <= 0: 0 when the next byte begins a line;
//   negative when the current line began -start bytes back, in bytes already
//   used; at the end of the input, that is a last line without newline.
// - mark is the next line count above `lines` at which something happens:
//   the copy starts (kHeaderLines) or ends (total), or the cap is passed
//   (kLineCap + 1). A mask whose newlines stay below it is counted whole.
// - copying: with an output, lines lies in [kHeaderLines, total).
struct Rule {
    textio::Sink *out;  // the second scan's output; null for the first
    int total;          // the first scan's count, for the second
    int lines;          // newlines counted
    int mark;
    bool copying;
    long long start, last_byte;
};

int next_mark(const Rule &s)
{
    if (s.out && s.lines < kHeaderLines)
        return kHeaderLines;
    if (s.out && s.lines < s.total && s.total <= kLineCap)
        return s.total;
    return kLineCap + 1;
}

Rule start_rule(textio::Sink *out, int total)
{
    Rule s{out, total, 0, 0, false, 0, kColumnLimit - 2};
    s.mark = next_mark(s);
    return s;
}

// Whether the 64 bytes at c, with newline mask m, hold a byte past the
// current line's room: its newline, the first of m, or with none the last
// byte of the 64 (or of the block). Only the first line of a mask can be
// too long: every later one is shorter than 64 bytes.
inline bool past_room(const Rule &s, long long c, std::uint64_t m, long long size)
{
    long long last = m ? c + __builtin_ctzll(m) : (c + 64 < size ? c + 64 : size) - 1;
    return last > s.last_byte && s.last_byte < size;
}

// The bulk step: the k newlines of mask m at c, none of which reaches the
// mark, counted at once; the current line starts after the last of them.
inline void bulk_step(Rule &s, long long c, std::uint64_t m, int k)
{
    s.lines += k;
    s.start = c + 64 - __builtin_clzll(m);
    s.last_byte = s.start + kColumnLimit - 1;
}

// The newline-by-newline step, for the mask that reaches the mark: the copy
// starts after newline kHeaderLines, and the bytes from copy_from to the
// end of newline `total` go out when it ends. False when the line cap
// stops the scan, after the newline at s.start - 1.
inline bool newline_step(Rule &s, long long c, std::uint64_t m, const unsigned char *data,
                         long long &copy_from)
{
    for (; m; m &= m - 1) {
        ++s.lines;
        s.start = c + __builtin_ctzll(m) + 1;
        s.last_byte = s.start + kColumnLimit - 1;
        if (s.out && s.lines == kHeaderLines && s.total > kHeaderLines) {
            s.copying = true;
            copy_from = s.start;
        }
        if (s.out && s.lines == s.total && s.copying) {
            textio::put(*s.out, reinterpret_cast<const char *>(data) + copy_from,
                        static_cast<std::size_t>(s.start - copy_from));
            s.copying = false;
        }
        if (s.lines > kLineCap)
            return false;
        s.mark = next_mark(s);
    }
    return true;
}

// What the scan did with one block of bytes.
struct Block {
    long long used;  // bytes it took
    bool long_line;  // a line too long stopped it, at the byte `used`
};

// The rule over one block, 64 bytes at a time; the bytes to copy go to the
// output in one piece.
template <bool kPopcnt>
[[gnu::always_inline]] inline Block scan_block(Rule &s, const unsigned char *data, long long size)
{
    long long copy_from = 0;
    Block k{size, false};
    for (long long c = 0; c < size; c += 64) {
        std::uint64_t m = newlines64(data + c);
        if (size - c < 64)
            m &= (std::uint64_t{1} << (size - c)) - 1;
        if (past_room(s, c, m, size)) {
            k = {s.last_byte + 1, true};
            break;
        }
        if (!m)
            continue;
        int n = textio::popcount<kPopcnt>(m);
        if (s.lines + n < s.mark) {
            bulk_step(s, c, m, n);
            continue;
        }
        if (!newline_step(s, c, m, data, copy_from)) {
            k.used = s.start;
            break;
        }
    }
    if (s.copying)
        textio::put(*s.out, reinterpret_cast<const char *>(data) + copy_from,
                    static_cast<std::size_t>(k.used - copy_from));
    return k;
}

// The scanning rule. A byte that would trip the column limit stops the scan
// unread; so does the end of the input, whose reads count like bytes.
template <bool kPopcnt>
[[gnu::always_inline]] inline Scan scan_rule(textio::Reader &r, textio::Sink *out, int total)
{
    Rule s = start_rule(out, total);
    for (;;) {
        textio::Bytes b = textio::peek(r);
        if (s.lines > kLineCap)
            return {s.lines, b.size ? ScanEnd::cap : ScanEnd::clean, 0};
        if (b.size == 0) {
            if (b.err)
                return {s.lines, ScanEnd::error, b.err};
            return {s.lines, s.start < 0 ? ScanEnd::partial : ScanEnd::clean, 0};
        }
        Block k = scan_block<kPopcnt>(s, b.data, static_cast<long long>(b.size));
        textio::consume(r, static_cast<std::size_t>(k.used));
        s.start -= k.used;
        s.last_byte -= k.used;
        if (k.long_line)
            return {s.lines, ScanEnd::long_line, 0};
    }
}

#if defined(__x86_64__)
// The same rule built for machines with a popcount instruction.
__attribute__((target("popcnt"))) Scan scan_popcnt(textio::Reader &r, textio::Sink *out,
                                                   int total)
{
    return scan_rule<true>(r, out, total);
}
#endif

}  // namespace

Scan scan(textio::Reader &r, textio::Sink *out, int total)
{
#if defined(__x86_64__)
    if (textio::isa().popcnt)
        return scan_popcnt(r, out, total);
#endif
    return scan_rule<false>(r, out, total);
}

}  // namespace headcut
