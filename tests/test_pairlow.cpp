// pairlow, run as built in a case directory.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "casedir.h"
#include "oracle.h"

namespace {

Outcome reduce(const std::string &depth, std::string *out)
{
    CaseDir c;
    c.mkdir("depth");
    c.write("depth/depth.txt", depth);
    Outcome r = c.run("pairlow");
    *out = c.read("depth/depth2.txt");
    return r;
}

void expect_reduce(const std::string &depth, const std::string &want,
                   const char *warning = nullptr)
{
    std::string got;
    Outcome r = reduce(depth, &got);
    EXPECT_EQ(r.status, 0) << depth;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(got, want) << depth;
    EXPECT_EQ(oracle::pairlow(depth), want) << depth;
    if (warning) {
        EXPECT_EQ(r.err.rfind("pairlow: warning: depth/depth.txt: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(warning), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    } else {
        EXPECT_EQ(r.err, "") << depth;
    }
}

}  // namespace

TEST(Pairlow, SelectionRule)
{
    expect_reduce("5 1\n3 2\n", "3.000000 2.000000\n");
    expect_reduce("3 1\n3 2\n", "3.000000 2.000000\n");  // the later of equals
    expect_reduce("1000 5\n1200 6\n", "1000.000000 5.000000\n");
    expect_reduce("1500 7\n2000 8\n", "1000.000000 0.000000\n");
    expect_reduce("nan 7\n-nan 8\n", "1000.000000 0.000000\n");
    expect_reduce("nan 7\n999 8\n", "999.000000 8.000000\n");
    expect_reduce("-inf 1\n-1e300 2\n", "-inf 1.000000\n");
}

TEST(Pairlow, PairedValueIsNeverReset)
{
    expect_reduce("2 9\n4 1\n1500 7\n2000 8\n", "2.000000 9.000000\n1000.000000 9.000000\n");
}

TEST(Pairlow, GroupsAndWhereReadingStopped)
{
    expect_reduce("", "");
    expect_reduce("1 2\n3 4\n5 6\n", "1.000000 2.000000\n",
                  "the record on line 3 has no partner and was ignored");
    // three numbers on a line shift the pairing
    expect_reduce("1 2 3\n4 5\n6 7 8 9\n", "1.000000 2.000000\n5.000000 6.000000\n",
                  "line 3: the last record is incomplete (1 of 2");
    expect_reduce("1 2\n3 4\nend\n", "1.000000 2.000000\n", "line 3: not a number");
    expect_reduce("1 2\n3 4\n5 6\n7 x\n", "1.000000 2.000000\n",
                  "line 4: not a number; the incomplete record before it and the rest of the "
                  "file were ignored; the record on line 3 has no partner");
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
        std::string got;
        Outcome r = reduce(depth, &got);
        ASSERT_EQ(r.status, 0);
        ASSERT_EQ(got, oracle::pairlow(depth)) << depth;
    }
}
