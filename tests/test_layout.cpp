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

TEST(Layout, ProfilesDifferOnlyInFieldAndValues)
{
    EXPECT_EQ(regiondict::kAlphaPhase1.header.size(), 325u);
    EXPECT_EQ(regiondict::kH.header.size(), 313u);
    EXPECT_EQ(regiondict::kAlphaPhase1.suffix.size, 91u);
    EXPECT_EQ(regiondict::kH.suffix.size, 85u);
    auto to_h = [](std::string s) {
        for (auto [from, to] : {std::pair{"alpha.phase1 0 ", "h 140878 "},
                                std::pair{"alpha.phase1 1 ", "h 586500 "}}) {
            std::size_t at;
            while ((at = s.find(from)) != std::string::npos)
                s.replace(at, std::string(from).size(), to);
        }
        return s;
    };
    EXPECT_EQ(to_h(std::string(regiondict::kAlphaPhase1.header)), regiondict::kH.header);
    EXPECT_EQ(to_h(std::string(regiondict::kAlphaPhase1.suffix.view())), regiondict::kH.suffix.view());
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
