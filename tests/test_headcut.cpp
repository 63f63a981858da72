// headcut, run as built in a case directory.
#include <gtest/gtest.h>

#include <string>

#include "casedir.h"
#include "oracle.h"

namespace {

std::string lines(int n, const std::string &text = "a b c")
{
    std::string s;
    for (int i = 0; i < n; ++i)
        s += text + "\n";
    return s;
}

void expect_trim(const std::string &dump0, const std::string &count,
                 const std::string &dump, const char *warning)
{
    Ran t = run_on("headcut", dump0);
    EXPECT_EQ(t.run.status, 0);
    EXPECT_EQ(t.run.out, count);
    EXPECT_EQ(t.output, dump);
    oracle::Trim want = oracle::headcut(dump0);
    EXPECT_EQ(want.count, count);
    EXPECT_EQ(want.dump, dump);
    expect_warnings(t.run, "headcut", "dump0.txt",
                    warning ? std::vector<std::string>{warning} : std::vector<std::string>{});
}

}  // namespace

TEST(Headcut, HeaderLinesAndTheLastLine)
{
    expect_trim("", "0", "", "0 lines, no more than the 18 header lines, so dump.txt is empty");
    expect_trim(dump_header(), "18", "", "18 lines, no more than the 18 header lines");
    expect_trim(lines(5), "5", "", "5 lines, no more than");
    expect_trim(dump_header() + "x y\n", "19", "x y\n", nullptr);
    expect_trim(dump_header() + "x y", "18", "", "line 19 has no newline");
    expect_trim(lines(20) + "tail", "20", lines(2), "line 21 has no newline");
}

TEST(Headcut, ColumnLimit)
{
    std::string l97(97, 'a'), l98(98, 'a'), l99(99, 'a');
    expect_trim(l97 + "\n" + lines(18), "19", lines(1), nullptr);
    // too long for a first line though it holds a sphere's numbers: no header line warned of
    expect_trim("1 2 3 4" + std::string(91, ' ') + "\n" + lines(30), "0", "", "line 1 is longer than 97");
    expect_trim(lines(20) + l98 + "\n" + lines(1), "22", lines(2) + l98 + "\n" + lines(1), nullptr);
    expect_trim(lines(20) + l99 + "\n" + lines(3), "20", lines(2), "line 21 is longer than 98");
    expect_trim(lines(10) + l99 + "\n" + lines(30), "10", "", "line 11 is longer than 98");
    expect_trim("a\n" + l99 + "\n", "1", "", "line 2 is longer than 98");  // the second line's limit
}

TEST(Headcut, EveryByteIsAnOrdinaryCharacter)
{
    std::string odd = std::string("\xff\xff\0\r a\r", 7);
    std::string body = odd + "\n" + std::string(97, '\xff') + "\n";
    expect_trim(dump_header() + body, "20", body, nullptr);
    // carriage returns count towards the column limit
    std::string crlf = std::string(98, 'c') + "\r\n";
    expect_trim(dump_header() + crlf, "18", "", "line 19 is longer than 98");
}

TEST(Headcut, LineCap)
{
    std::string cap = lines(200001, "x");
    expect_trim(cap, "200001", lines(200001 - 18, "x"), nullptr);
    expect_trim(cap + "8\n9\n", "200001", lines(200001 - 18, "x"),
                "more than 200001 lines; lines from 200002 on were not copied: "
                "`tail -n +19 dump0.txt > dump.txt` copies every line");
}
