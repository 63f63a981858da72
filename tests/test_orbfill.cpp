// orbfill and orbtint, run as built in a case directory.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "casedir.h"
#include "oracle.h"

namespace {

const std::string kHeaderAlpha =
    "FoamFile {version     2.0;format      ascii;class       dictionary; object      "
    "setFieldsDict;} defaultFieldValues     (    volScalarFieldValue alpha.phase1 0 ); "
    "regions ( boxToCell    {       box (0 0.00001 -0.000235) (0.001 0.00029 0);        "
    "fieldValues        (           volScalarFieldValue alpha.phase1 1        );    }";
const std::string kHeaderH =
    "FoamFile {version     2.0;format      ascii;class       dictionary; object      "
    "setFieldsDict;} defaultFieldValues     (    volScalarFieldValue h 140878 ); "
    "regions ( boxToCell    {       box (0 0.00001 -0.000235) (0.001 0.00029 0);        "
    "fieldValues        (           volScalarFieldValue h 586500        );    }";
const std::string kSuffixAlpha =
    ";        fieldValues (            volScalarFieldValue alpha.phase1 1                );    }";
const std::string kSuffixH =
    ";        fieldValues (            volScalarFieldValue h 586500                );    }";

struct Generated {
    Outcome run;
    std::string dict;
};

Generated generate(const std::string &program, const std::string &dump)
{
    CaseDir c;
    c.mkdir("system");
    c.write("dump.txt", dump);
    Outcome r = c.run(program);
    return {r, c.read("system/setFieldsDict")};
}

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
    Generated a = generate("orbfill", dump);
    EXPECT_EQ(a.run.status, 0);
    EXPECT_EQ(a.run.out, "3T1A1B2A2B");
    EXPECT_EQ(a.run.err, "");
    EXPECT_EQ(a.dict, kHeaderAlpha + "\n " + entries_alpha + ");");

    std::string entries_h = entries_alpha;
    for (std::size_t at; (at = entries_h.find("alpha.phase1 1")) != std::string::npos;)
        entries_h.replace(at, 14, "h 586500");
    Generated h = generate("orbtint", dump);
    EXPECT_EQ(h.run.status, 0);
    EXPECT_EQ(h.run.out, "3T1A1B2A2B");
    EXPECT_EQ(h.dict, kHeaderH + "\n " + entries_h + ");");
}

TEST(Orbfill, NoRecordOrOneRecord)
{
    for (const char *dump : {"", "   \n", "x 1 2 3 4\n", "1 2 3\n"}) {
        Generated g = generate("orbfill", dump);
        EXPECT_EQ(g.run.status, 0) << dump;
        EXPECT_EQ(g.run.out, "1T") << dump;
        EXPECT_EQ(g.dict, "") << dump;
        EXPECT_NE(g.run.err.find("orbfill: warning: dump.txt: "), std::string::npos) << dump;
        EXPECT_NE(g.run.err.find("system/setFieldsDict is empty"), std::string::npos) << dump;
        EXPECT_EQ(std::count(g.run.err.begin(), g.run.err.end(), '\n'), 1) << dump;
    }
    Generated one = generate("orbtint", "1 2 3 4\n");
    EXPECT_EQ(one.run.out, "1T");
    EXPECT_EQ(one.dict, kHeaderH + "\n );");
    EXPECT_EQ(one.run.err, "");
}

TEST(Orbfill, RecordBoundariesAndWhereReadingStopped)
{
    struct Case {
        const char *dump, *trace, *warning;
    } cases[] = {
        // five numbers on a line shift every later record
        {"1 2 3 4 5\n6 7 8\n9 10 11\n", "2T1A1B", "line 3: the last record is incomplete (3 of 4"},
        // a record split over two lines is one record
        {"1 2\n3 4\n5 6\n7 8\n", "2T1A1B", nullptr},
        {"1 2 3 4\r\n5 6 7 8\r\n", "2T1A1B", nullptr},
        {"1 2 3 4\n5 6 7 8\n9 10\n", "2T1A1B", "line 3: the last record is incomplete (2 of 4"},
        {"1 2 3 4\n5 6 7 8\nEnd of dump\n", "2T1A1B", "line 3: not a number; the rest"},
        {"1 2 3 4\n5 6 7 8\n9 10 end\n", "2T1A1B", "line 3: not a number; the incomplete record"},
    };
    for (const Case &c : cases) {
        Generated g = generate("orbfill", c.dump);
        EXPECT_EQ(g.run.status, 0) << c.dump;
        EXPECT_EQ(g.run.out, c.trace) << c.dump;
        EXPECT_EQ(g.dict, oracle::regiondict(c.dump, kHeaderAlpha, kSuffixAlpha).dict) << c.dump;
        if (c.warning) {
            EXPECT_EQ(g.run.err.rfind("orbfill: warning: dump.txt: ", 0), 0u) << g.run.err;
            EXPECT_NE(g.run.err.find(c.warning), std::string::npos) << g.run.err;
            EXPECT_EQ(std::count(g.run.err.begin(), g.run.err.end(), '\n'), 1) << g.run.err;
        } else {
            EXPECT_EQ(g.run.err, "") << c.dump;
        }
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
        Generated got = generate(h ? "orbtint" : "orbfill", dump);
        ASSERT_EQ(got.run.status, 0) << dump;
        ASSERT_EQ(got.run.out, want.trace) << dump;
        ASSERT_EQ(got.dict, want.dict) << dump;
    }
}

TEST(Orbfill, TheSecondProgramReplacesTheFirstOnesDictionary)
{
    CaseDir c;
    c.mkdir("system");
    c.write("dump.txt", "1 2 3 4\n5 6 7 8\n");
    c.run("orbfill");
    EXPECT_NE(c.read("system/setFieldsDict").find("alpha.phase1"), std::string::npos);
    c.run("orbtint");
    std::string d = c.read("system/setFieldsDict");
    EXPECT_EQ(d.find("alpha.phase1"), std::string::npos);
    EXPECT_EQ(d.rfind(kHeaderH, 0), 0u);
}

// A list that grows between the two passes (here a named pipe that gives
// two records to the first pass and four to the second): entries stop at
// the count minus one, the trace shows the records passed over, and a
// warning says they were not written.
TEST(Orbfill, ListGrowingBetweenThePassesIsCappedWithAWarning)
{
    CaseDir c;
    c.mkdir("system");
    // the pause lets the first pass see the end of its input before the
    // second writer opens the pipe
    Outcome r = c.sh("mkfifo dump.txt; { printf '1 2 3 4\\n5 6 7 8\\n' >dump.txt; sleep 0.5; "
                     "printf '1 2 3 4\\n5 6 7 8\\n9 9 9 9\\n1 1 1 1\\n' >dump.txt; } & "
                     "timeout 20 '" BIN_DIR "/orbfill'; st=$?; kill $! 2>/dev/null; wait; exit $st");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "2T1A1B2A2A");
    EXPECT_EQ(c.read("system/setFieldsDict"),
              kHeaderAlpha + "\n  sphereToCell { centre  (5.000000 6.000000 7.000000);        radius  "
                             "8.000000" + kSuffixAlpha + ");");
    EXPECT_EQ(r.err, "orbfill: warning: dump.txt: grew while it was read; 2 records beyond "
                     "the 2 counted were not written\n");
}
