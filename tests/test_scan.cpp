// The dump trimmer's scanning rule against the byte-by-byte getc/putc
// reference, on random dumps whose lines sit around the column limit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "oracle.h"
#include "scan.h"

namespace {

struct Result {
    std::string dump;
    int count;
    headcut::ScanEnd end;
};

Result trim(const std::string &dump0)
{
    auto r = std::make_unique<textio::Reader>();
    textio::attach_reader(*r, oracle::bytes_fd(dump0), "dump0");
    headcut::Scan first = headcut::count_lines(*r);
    textio::close_reader(*r);

    std::string copy = oracle::captured([&](int fd) {
        auto s = std::make_unique<textio::Sink>();
        textio::attach_sink(*s, fd, "dump");
        textio::attach_reader(*r, oracle::bytes_fd(dump0), "dump0");
        headcut::Scan second = headcut::copy_lines(*r, *s, first.lines);
        textio::close_reader(*r);
        textio::close_sink(*s);
        EXPECT_EQ(second.lines, first.lines);
    });
    return {copy, first.lines, first.end};
}

}  // namespace

TEST(Scan, AgreesWithTheReferenceOnRandomDumps)
{
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
        for (int i = 0; i < shape.dumps; ++i) {
            std::string d;
            int lines = static_cast<int>(rng() % shape.max_lines);
            for (int l = 0; l < lines; ++l) {
                for (int k = 0, len = shape.length(); k < len; ++k) {
                    const char bytes[] = {'1', ' ', '\r', '\0', '\xff', '\t', '.'};
                    d += bytes[rng() % sizeof bytes];
                }
                if (l + 1 < lines || rng() % 2)
                    d += '\n';
            }
            oracle::Trim want = oracle::headcut(d);
            Result got = trim(d);
            ASSERT_EQ(std::to_string(got.count), want.count) << "dump " << i;
            ASSERT_EQ(got.dump, want.dump) << "dump " << i;
        }
}

// A line of the longest length allowed, or one byte longer, across the
// edge of the reader's buffer at every offset.
TEST(Scan, LinesAcrossTheBufferEdge)
{
    for (int tail : {98, 99})
        for (int shift = 0; shift <= 99; ++shift) {
            std::string d;
            while (d.size() + 99 < textio::kReadBuf - shift)
                d += std::string(d.size() % 7 ? 98 : 97, 'x') + "\n";
            d += std::string(textio::kReadBuf - shift - d.size() - 1, 'y') + "\n";
            d += std::string(static_cast<std::size_t>(tail), 'z') + "\n" + "end\n";
            oracle::Trim want = oracle::headcut(d);
            Result got = trim(d);
            ASSERT_EQ(std::to_string(got.count), want.count) << tail << " " << shift;
            ASSERT_EQ(got.dump, want.dump) << tail << " " << shift;
        }
}

TEST(Scan, TellsWhyItStopped)
{
    std::string header;
    for (int i = 0; i < 18; ++i)
        header += "h\n";
    EXPECT_EQ(trim("").end, headcut::ScanEnd::clean);
    EXPECT_EQ(trim(header + "1 2 3 4\n").end, headcut::ScanEnd::clean);
    EXPECT_EQ(trim(header + "1 2 3 4").end, headcut::ScanEnd::partial);
    EXPECT_EQ(trim(std::string(98, 'x') + "\n").end, headcut::ScanEnd::long_line);
    EXPECT_EQ(trim(std::string(97, 'x') + "\n").end, headcut::ScanEnd::clean);
    EXPECT_EQ(trim("a\n" + std::string(99, 'x') + "\n").end, headcut::ScanEnd::long_line);
    Result r = trim("a\n" + std::string(98, 'x'));  // 98 bytes, then the end
    EXPECT_EQ(r.end, headcut::ScanEnd::partial);
    EXPECT_EQ(r.count, 1);
}
