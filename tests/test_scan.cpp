// The dump trimmer's scanning rule against the byte-by-byte getc/putc
// reference, on random dumps whose lines sit around the column limit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
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
    for (int i = 0; i < 20000; ++i) {
        std::string d;
        int lines = static_cast<int>(rng() % 40);
        for (int l = 0; l < lines; ++l) {
            int len = rng() % 4 ? 90 + static_cast<int>(rng() % 12) : static_cast<int>(rng() % 10);
            for (int k = 0; k < len; ++k) {
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
