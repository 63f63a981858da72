// The dump trimmer's scanning rule against the byte-by-byte getc/putc
// reference, on the machine's paths and on the portable ones.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "casedir.h"
#include "differential.h"
#include "oracle.h"

namespace {

// The count and the copy of both scans, and the reference's.
void expect_reference(const std::string &dump0, const std::string &why)
{
    oracle::Trim want = oracle::headcut(dump0);
    differential::Trim got = differential::trim(dump0);
    ASSERT_EQ(std::to_string(got.count), want.count) << why;
    ASSERT_EQ(got.count_again, got.count) << why;
    ASSERT_EQ(got.dump, want.dump) << why;
}

// n lines of `text`, each with its newline.
std::string lines(int n, const std::string &text)
{
    std::string s;
    for (int i = 0; i < n; ++i)
        s += text + "\n";
    return s;
}

}  // namespace

TEST(Scan, AgreesWithTheReferenceOnRandomDumps)
{
    differential::on_each_path([] {
        std::mt19937 rng(5);
        auto around_limit = [&] { return 90 + static_cast<int>(rng() % 12); };
        struct Shape {
            int dumps, max_lines;
            std::function<int()> length;  // of a line, newline not counted
        } shapes[] = {
            // short dumps, most lines around the column limit
            {20000, 40, [&] { return rng() % 4 ? around_limit() : static_cast<int>(rng() % 10); }},
            // dumps across several of the reader's buffers
            {30, 6000, [&] { return rng() % 3000 ? static_cast<int>(rng() % 90) : around_limit(); }},
        };
        for (const Shape &shape : shapes)
            for (int i = 0; i < shape.dumps && !testing::Test::HasFailure(); ++i) {
                std::string d;
                int n = static_cast<int>(rng() % shape.max_lines);
                for (int l = 0; l < n; ++l) {
                    for (int k = 0, len = shape.length(); k < len; ++k) {
                        const char bytes[] = {'1', ' ', '\r', '\0', '\xff', '\t', '.'};
                        d += bytes[rng() % sizeof bytes];
                    }
                    if (l + 1 < n || rng() % 2)
                        d += '\n';
                }
                expect_reference(d, "dump " + std::to_string(i));
            }
    });
}

// A line of the longest length allowed, or one byte longer, across the
// edge of the reader's buffer at every offset.
TEST(Scan, LinesAcrossTheBufferEdge)
{
    differential::on_each_path([] {
        for (int tail : {98, 99})
            for (int shift = 0; shift <= 99; ++shift) {
                std::string d;
                while (d.size() + 99 < textio::kReadBuf - shift)
                    d += std::string(d.size() % 7 ? 98 : 97, 'x') + "\n";
                d += std::string(textio::kReadBuf - shift - d.size() - 1, 'y') + "\n";
                d += std::string(static_cast<std::size_t>(tail), 'z') + "\n" + "end\n";
                expect_reference(d, std::to_string(tail) + " " + std::to_string(shift));
            }
    });
}

// The line counts that matter (the end of the copy, the cap) where they
// fall on the last byte of one of the reader's buffers, or just past it.
TEST(Scan, CountsThatMatterAtTheBufferEdge)
{
    // n lines of two lengths, the last newline on the last byte of buffer
    // `buffers`, then `rest`
    auto edge = [](int n, std::size_t buffers, const std::string &rest) {
        std::size_t bytes = buffers * textio::kReadBuf, each = bytes / n;
        int longer = static_cast<int>(bytes - each * n);
        return lines(longer, std::string(each, '1')) + lines(n - longer, std::string(each - 1, '1')) +
               rest;
    };
    const int cap = headcut::kLineCap;
    struct Case {
        const char *why;
        std::string dump0;
    } cases[] = {
        {"newline 200000 ends buffer 7, and more lines follow: the count is 200001",
         edge(cap, 7, lines(5, "2"))},
        {"newline 200001 ends buffer 7", edge(cap + 1, 7, lines(5, "2"))},
        {"200000 lines, newline 200000 ending buffer 7, and a last line without newline, "
         "which is not copied",
         edge(cap, 7, "tail")},
        {"the same not at a buffer edge", lines(cap, "1") + "tail"},
        {"the copy ends with newline 1000 at the end of buffer 1", edge(1000, 1, "tail")},
    };
    differential::on_each_path([&] {
        for (const Case &c : cases)
            expect_reference(c.dump0, c.why);
    });
}

TEST(Scan, TellsWhyItStopped)
{
    using headcut::ScanEnd;
    const std::string header = dump_header();
    struct Case {
        std::string dump0;
        ScanEnd end;
        int count;
    } cases[] = {
        {"", ScanEnd::clean, 0},
        {header + "1 2 3 4\n", ScanEnd::clean, 19},
        {header + "1 2 3 4", ScanEnd::partial, 18},
        {std::string(98, 'x') + "\n", ScanEnd::long_line, 0},  // the first line's limit
        {std::string(97, 'x') + "\n", ScanEnd::clean, 1},
        {"a\n" + std::string(99, 'x') + "\n", ScanEnd::long_line, 1},  // a later line's
        {"a\n" + std::string(98, 'x'), ScanEnd::partial, 1},            // then the end
        {lines(200002, "1"), ScanEnd::cap, 200001},
        {lines(200001, "1"), ScanEnd::clean, 200001},
    };
    for (const Case &c : cases) {
        differential::Trim t = differential::trim(c.dump0);
        EXPECT_EQ(t.end, c.end) << c.count;
        EXPECT_EQ(t.count, c.count);
    }
}
