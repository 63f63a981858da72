// orbfill and orbtint, run as built in a case directory.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>

#include "casedir.h"
#include "oracle.h"

namespace {

using oracle::kHeaderAlpha;
using oracle::kHeaderH;
using oracle::kSuffixAlpha;
using oracle::kSuffixH;

}  // namespace

TEST(Orbfill, WholeDictionaryInBothProfiles)
{
    const std::string dump =
        "0.0005 0.0001 -0.0001 0.00002\n"
        "0.001 0.00029 -0.000235 0.00001\n"
        "-1e-7 1e-7 0.0078125 12345.5\n";
    const std::string entries_alpha =
        " sphereToCell { centre  (0.001000 0.000290 -0.000235);        radius  0.000010;"
        "        fieldValues (            volScalarFieldValue alpha.phase1 1                );    }"
        " sphereToCell { centre  (-0.000000 0.000000 0.007812);        radius  12345.500000;"
        "        fieldValues (            volScalarFieldValue alpha.phase1 1                );    }";
    Ran a = run_on("orbfill", dump);
    EXPECT_EQ(a.run.status, 0);
    EXPECT_EQ(a.run.out, "3T1A1B2A2B");
    EXPECT_EQ(a.run.err, "");
    EXPECT_EQ(a.output, kHeaderAlpha + "\n " + entries_alpha + ");");

    std::string entries_h = entries_alpha;
    for (std::size_t at; (at = entries_h.find("alpha.phase1 1")) != std::string::npos;)
        entries_h.replace(at, 14, "h 586500");
    Ran h = run_on("orbtint", dump);
    EXPECT_EQ(h.run.status, 0);
    EXPECT_EQ(h.run.out, "3T1A1B2A2B");
    EXPECT_EQ(h.output, kHeaderH + "\n " + entries_h + ");");
}

TEST(Orbfill, OneRecordIsTheBoxAlone)
{
    Ran one = run_on("orbtint", "1 2 3 4\n");
    EXPECT_EQ(one.run.out, "1T");
    EXPECT_EQ(one.output, kHeaderH + "\n );");
    EXPECT_EQ(one.run.err, "");
}

// What is read, written and traced, and one warning for each thing the
// user should know about the list; a clean list gives none.
TEST(Orbfill, RecordsAndWarnings)
{
    struct Case {
        const char *dump, *trace;
        std::vector<std::string> warnings;
    } cases[] = {
        {"", "1T", {"no complete record, so system/setFieldsDict is empty"}},
        {"   \n", "1T", {"no complete record"}},
        {"x 1 2 3 4\n", "1T", {"line 1: not a number; the rest", "no complete record"}},
        // the line where reading ended is named once
        {"1 2 3\n", "1T", {"line 1: the last record is incomplete (3 of 4", "no complete record"}},
        {"1 2 3 4\r\n5 6 7 8\r\n", "2T1A1B", {}},
        // five numbers on a line shift every later record
        {"1 2 3 4 5\n6 7 8\n9 10 11\n", "2T1A1B",
         {"line 3: the last record is incomplete (3 of 4",
          "line 1: 5 numbers on the line, but a record has 4; records are read as a stream"}},
        // a record split over two lines is one record
        {"1 2\n3 4\n5 6\n7 8\n", "2T1A1B", {"line 1: 2 numbers on the line"}},
        // a DEM dump of six columns
        {"1 2 3 4 5 6\n7 8 9 10 11 12\n", "3T1A1B2A2B", {"line 1: 6 numbers on the line"}},
        {"1 2 3 4\n5 6 7 8\n9 10\n", "2T1A1B", {"line 3: the last record is incomplete (2 of 4"}},
        {"1 2 3 4\n5 6 7 8\nEnd of dump\n", "2T1A1B", {"line 3: not a number; the rest"}},
        {"1 2 3 4\n5 6 7 8\n9 10 end\n", "2T1A1B", {"line 3: not a number; the incomplete record"}},
        // setFields rejects nan and inf; the first record is never written
        {"nan 2 3 4\n5 6 7 8\n1 nan 3 4\n\n5 6 7 8\n1 2 -inf 4\n", "5T1A1B2A2B3A3B4A4B",
         {"line 3: nan or inf in a sphere entry (2 such entries in all); setFields will reject"}},
        // a nan centre x alone
        {"0 0 0 1\n-nan 0 0 1\n", "2T1A1B", {"line 2: nan or inf in a sphere entry (1 such entry in all)"}},
        // a nan or inf radius alone
        {"0 0 0 1\n0 0 0 nan\n0 0 0 inf\n", "3T1A1B2A2B", {"line 2: nan or inf in a sphere entry"}},
        // a radius that six decimals make zero sets no cell; a negative one
        // sets cells as if it were positive
        {"0 0 0 -1\n0 0 0 1\n0 0 0 5e-7\n0 0 0 5.1e-7\n0 0 0 -2\n", "5T1A1B2A2B3A3B4A4B",
         {"line 3: a radius written as 0.000000 or -0.000000 (1 such sphere in all)",
          "line 5: a negative radius (1 such sphere in all)"}},
    };
    for (const Case &c : cases) {
        Ran g = run_on("orbfill", c.dump);
        EXPECT_EQ(g.run.status, 0) << c.dump;
        EXPECT_EQ(g.run.out, c.trace) << c.dump;
        EXPECT_EQ(g.output, oracle::regiondict(c.dump, kHeaderAlpha, kSuffixAlpha).dict) << c.dump;
        expect_warnings(g.run, "orbfill", "dump.txt", c.warnings);
    }
}

// Random sphere lists, run as built and by the reference, in both profiles.
TEST(Orbfill, AgreesWithTheReferenceOnRandomLists)
{
    std::mt19937 rng(3);
    const char *words[] = {"1e-7", "-0", "0.0078125", "nan", "-inf", "0x1p-3", "1e",
                           "123456789.123456789", "-0.000235", "0.00029", "4.5", "x"};
    for (int i = 0; i < 60; ++i) {
        std::string dump;
        int n = static_cast<int>(rng() % 40);
        for (int k = 0; k < n; ++k) {
            if (rng() % 3 == 0)
                dump += words[rng() % (sizeof words / sizeof *words - (rng() % 8 ? 1 : 0))];
            else
                dump += std::to_string(static_cast<double>(rng()) / 1e9 - 2);
            dump += " \t\n"[rng() % 3];
        }
        bool h = i % 2;
        oracle::Dict want = oracle::regiondict(dump, h ? kHeaderH : kHeaderAlpha,
                                               h ? kSuffixH : kSuffixAlpha);
        Ran got = run_on(h ? "orbtint" : "orbfill", dump);
        ASSERT_EQ(got.run.status, 0) << dump;
        ASSERT_EQ(got.run.out, want.trace) << dump;
        ASSERT_EQ(got.output, want.dict) << dump;
    }
}

// Entry numbers of four digits in the trace: every carry from 9 to 10,
// 99 to 100 and 999 to 1000.
TEST(Orbfill, LongTraceAgreesWithTheReference)
{
    std::string dump;
    for (int i = 0; i < 1200; ++i)
        dump += std::to_string(i) + " 1 2 3\n";
    Ran g = run_on("orbtint", dump);
    oracle::Dict want = oracle::regiondict(dump, kHeaderH, kSuffixH);
    EXPECT_EQ(g.run.out, want.trace);
    EXPECT_EQ(g.output, want.dict);
}

// Whichever runs second, the dictionary is its own, whole: the first
// run's longer dictionary leaves no tail behind.
TEST(Orbfill, TheSecondProgramReplacesTheFirstOnesDictionary)
{
    const std::string longer = "1 2 3 4\n5 6 7 8\n9 9 9 9\n", shorter = "1 2 3 4\n5 6 7 8\n";
    for (auto [first, second, header, suffix] :
         {std::tuple{"orbfill", "orbtint", kHeaderH, kSuffixH},
          std::tuple{"orbtint", "orbfill", kHeaderAlpha, kSuffixAlpha}}) {
        CaseDir c;
        c.mkdir("system");
        c.write("dump.txt", longer);
        c.run(first);
        c.write("dump.txt", shorter);
        c.run(second);
        EXPECT_EQ(c.read("system/setFieldsDict"), oracle::regiondict(shorter, header, suffix).dict)
            << second << " after " << first;
    }
}
