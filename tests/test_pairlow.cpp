// pairlow, run as built in a case directory.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "casedir.h"
#include "oracle.h"

namespace {

void expect_reduce(const std::string &depth, const std::string &want,
                   const std::vector<std::string> &warnings = {})
{
    Ran r = run_on("pairlow", depth);
    EXPECT_EQ(r.run.status, 0) << depth;
    EXPECT_EQ(r.run.out, "");
    EXPECT_EQ(r.output, want) << depth;
    EXPECT_EQ(oracle::pairlow(depth), want) << depth;
    expect_warnings(r.run, "pairlow", "depth/depth.txt", warnings);
}

const char kPlaceholder[] = " without a first value of 1000 or less, the first from this line (line ";

}  // namespace

TEST(Pairlow, SelectionRule)
{
    expect_reduce("5 1\n3 2\n", "3.000000 2.000000\n");
    expect_reduce("3 1\n3 2\n", "3.000000 2.000000\n");  // the later of equals
    expect_reduce("1000 5\n1200 6\n", "1000.000000 5.000000\n");
    expect_reduce("1500 7\n2000 8\n", "1000.000000 0.000000\n",
                  {std::string("line 1: 1 pair") + kPlaceholder + "1 of depth/depth2.txt); each "
                   "was written as 1000.000000 with 0.000000, as no earlier pair had chosen a value"});
    expect_reduce("nan 7\n-nan 8\n", "1000.000000 0.000000\n", {kPlaceholder});
    expect_reduce("nan 7\n999 8\n", "999.000000 8.000000\n");
    expect_reduce("-inf 1\n-1e300 2\n", "-inf 1.000000\n");
}

TEST(Pairlow, PairedValueIsNeverReset)
{
    expect_reduce("2 9\n4 1\n1500 7\n2000 8\n1 1\n1 1\n1e9 0\n1e9 0\n",
                  "2.000000 9.000000\n1000.000000 9.000000\n1.000000 1.000000\n"
                  "1000.000000 1.000000\n",
                  {std::string("line 3: 2 pairs") + kPlaceholder + "2 of depth/depth2.txt)"});
    // two such pairs in a row after one that chose: the warning names no 0.000000
    Ran r = run_on("pairlow", "2 9\n4 1\n1500 7\n2000 8\n1500 7\n2000 8\n");
    EXPECT_EQ(r.output, "2.000000 9.000000\n1000.000000 9.000000\n1000.000000 9.000000\n");
    EXPECT_TRUE(r.run.err.ends_with("each was written as 1000.000000 with the second value of an earlier pair\n"))
        << r.run.err;
}

TEST(Pairlow, GroupsAndWhereReadingStopped)
{
    expect_reduce("", "");
    expect_reduce("1 2\n3 4\n5 6\n", "1.000000 2.000000\n",
                  {"line 3: this record has no partner; it was ignored"});
    // three numbers on a line shift the pairing
    expect_reduce("1 2 3\n4 5\n6 7 8 9\n", "1.000000 2.000000\n5.000000 6.000000\n",
                  {"line 3: the last record is incomplete (1 of 2",
                   "line 1: 3 numbers on the line, but a record has 2"});
    expect_reduce("1 2 3\n4 5 6\n7 8\n", "1.000000 2.000000\n5.000000 6.000000\n",
                  {"line 1: 3 numbers on the line"});
    expect_reduce("1 2\n3 4\nend\n", "1.000000 2.000000\n", {"line 3: not a number"});
    expect_reduce("1 2\n3 4\n5 6\n7 x\n", "1.000000 2.000000\n",
                  {"line 4: not a number; the incomplete record before it and the rest of the "
                   "file were ignored",
                   "line 3: this record has no partner"});
    expect_reduce("1 2\r\n3 4\r\n", "1.000000 2.000000\n");
}

TEST(Pairlow, AgreesWithTheReferenceOnRandomTables)
{
    std::mt19937 rng(8);
    const char *words[] = {"1000", "1000.0000001", "999.9999999", "nan", "inf", "-0", "1e3"};
    for (int i = 0; i < 40; ++i) {
        std::string depth;
        for (int k = 0, n = static_cast<int>(rng() % 60); k < n; ++k) {
            if (rng() % 4 == 0)
                depth += words[rng() % 7];
            else
                depth += std::to_string(static_cast<double>(rng() % 3000000) / 1000);
            depth += " \t\n"[rng() % 3];
        }
        Ran r = run_on("pairlow", depth);
        ASSERT_EQ(r.run.status, 0);
        ASSERT_EQ(r.output, oracle::pairlow(depth)) << depth;
    }
}
