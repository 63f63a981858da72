// The pieces of the dictionary text, written through a sink into memory.
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <string>

#include "layout.h"
#include "oracle.h"

namespace {

template <class F>
std::string written(F write)
{
    return oracle::captured([&](int fd) {
        auto s = std::make_unique<textio::Sink>();
        textio::attach_sink(*s, fd, "memory");
        write(*s);
        EXPECT_TRUE(textio::close_sink(*s));
    });
}

}  // namespace

TEST(Layout, SphereEntryInBothProfiles)
{
    auto entry = [](const regiondict::Profile &p) {
        return written([&](textio::Sink &s) {
            regiondict::write_sphere(s, p, 0.001, 0.00029, -0.000235, 0.00001);
        });
    };
    EXPECT_EQ(entry(regiondict::kAlphaPhase1),
              " sphereToCell { centre  (0.001000 0.000290 -0.000235);        radius  "
              "0.000010;        fieldValues (            volScalarFieldValue alpha.phase1 1"
              "                );    }");
    EXPECT_EQ(entry(regiondict::kH),
              " sphereToCell { centre  (0.001000 0.000290 -0.000235);        radius  "
              "0.000010;        fieldValues (            volScalarFieldValue h 586500"
              "                );    }");
}

// What setFields reads from a dictionary of either profile: the field with
// its default value once, with the region value for the box and for every
// sphere, and brackets that close; nothing else differs between them.
TEST(Layout, ProfilesDifferOnlyInFieldAndValues)
{
    struct Case {
        const regiondict::Profile &profile;
        std::string field, deflt, region;
    } cases[] = {
        {regiondict::kAlphaPhase1, "alpha.phase1", "0", "1"},
        {regiondict::kH, "h", "140878", "586500"},
    };
    std::string neutral[2];
    for (int i = 0; i < 2; ++i) {
        const Case &c = cases[i];
        std::string d = written([&](textio::Sink &s) {
            regiondict::write_header(s, c.profile);
            regiondict::write_sphere(s, c.profile, 1, 2, 3, 4);
            regiondict::write_sphere(s, c.profile, 5, 6, 7, 8);
            regiondict::write_closing(s);
        });
        auto count = [&](const std::string &what) {
            int n = 0;
            for (std::size_t at = d.find(what); at != std::string::npos; at = d.find(what, at + 1))
                ++n;
            return n;
        };
        EXPECT_EQ(count("volScalarFieldValue"), 4);
        EXPECT_EQ(count("volScalarFieldValue " + c.field + " " + c.deflt + " "), 1);
        EXPECT_EQ(count("volScalarFieldValue " + c.field + " " + c.region + " "), 3);
        EXPECT_EQ(count("("), count(")"));
        EXPECT_EQ(count("{"), count("}"));
        for (auto [from, to] : {std::pair{c.field + " " + c.deflt + " ", std::string("F D ")},
                                std::pair{c.field + " " + c.region + " ", std::string("F R ")}})
            for (std::size_t at; (at = d.find(from)) != std::string::npos;)
                d.replace(at, from.size(), to);
        neutral[i] = d;
    }
    EXPECT_EQ(neutral[0], neutral[1]);
}

TEST(Layout, LongNumbersAndFailedWritesOfTheSink)
{
    // a number text wider than the space left in the buffer
    std::string text = written([](textio::Sink &s) {
        for (int i = 0; i < 1000; ++i)
            regiondict::write_sphere(s, regiondict::kH, -1.7976931348623157e308, 1e300, 0, 1);
    });
    char big[400];
    std::snprintf(big, sizeof big, "%f", -1.7976931348623157e308);
    EXPECT_EQ(text.find(big), std::string(" sphereToCell { centre  (").size());
    EXPECT_EQ(text.size() % (text.size() / 1000), 0u);

    auto s = std::make_unique<textio::Sink>();
    int full = open("/dev/full", O_WRONLY);
    ASSERT_NE(full, -1);
    textio::attach_sink(*s, full, "/dev/full");
    textio::put(*s, "x", 1);
    EXPECT_FALSE(textio::close_sink(*s));
    EXPECT_EQ(s->err, ENOSPC);
}
