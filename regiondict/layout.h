// The text of system/setFieldsDict: fixed pieces of a field profile and
// numbers in "%f" text, concatenated. Nothing is escaped or read back.
#pragma once

#include <cstring>
#include <string_view>

#include "writer.h"

namespace regiondict {

// A short text kept in a fixed array, so that it is copied whole, in one
// move of known size: the bytes of the array past the text spill, so they
// are at most textio::kSpill.
constexpr std::size_t kSuffixMax = 96;
struct Padded {
    char at[kSuffixMax];
    std::size_t size;
    constexpr std::string_view view() const { return {at, size}; }
};

constexpr Padded padded(std::string_view text)
{
    Padded p{};
    if (text.size() > kSuffixMax)
        throw "text longer than kSuffixMax";  // stops the build
    if (text.size() + textio::kSpill < kSuffixMax)
        throw "text shorter than kSuffixMax - kSpill: make kSuffixMax smaller";
    for (std::size_t i = 0; i < text.size(); ++i)
        p.at[i] = text[i];
    p.size = text.size();
    return p;
}

// A field profile: every text that names the field or one of its values.
struct Profile {
    std::string_view header;  // FoamFile, defaultFieldValues and the box
    Padded suffix;            // closes a sphereToCell with the region value
};

inline constexpr Profile kAlphaPhase1{
    "FoamFile {version     2.0;format      ascii;class       dictionary; "
    "object      setFieldsDict;} defaultFieldValues     (    "
    "volScalarFieldValue alpha.phase1 0 ); regions ( boxToCell    {       "
    "box (0 0.00001 -0.000235) (0.001 0.00029 0);        fieldValues        "
    "(           volScalarFieldValue alpha.phase1 1        );    }",
    padded(";        fieldValues (            volScalarFieldValue alpha.phase1 1  "
           "              );    }"),
};

inline constexpr Profile kH{
    "FoamFile {version     2.0;format      ascii;class       dictionary; "
    "object      setFieldsDict;} defaultFieldValues     (    "
    "volScalarFieldValue h 140878 ); regions ( boxToCell    {       "
    "box (0 0.00001 -0.000235) (0.001 0.00029 0);        fieldValues        "
    "(           volScalarFieldValue h 586500        );    }",
    padded(";        fieldValues (            volScalarFieldValue h 586500  "
           "              );    }"),
};

inline constexpr std::string_view kEntryPrefix = " sphereToCell { centre  (";
inline constexpr std::string_view kRadiusLabel = ");        radius  ";
inline constexpr std::string_view kClosing = ");";

// Header literal, a newline and one space.
inline void write_header(textio::Sink &s, const Profile &p)
{
    textio::put(s, p.header.data(), p.header.size());
    textio::put(s, "\n ", 2);
}

// The longest sphere entry: it is written whole into the sink's room.
constexpr std::size_t kEntryMax =
    kEntryPrefix.size() + 4 * textio::kFixed6Max + 2 + kRadiusLabel.size() + kSuffixMax;
static_assert(kEntryMax + textio::kSpill <= textio::kPieceMax);

// One sphereToCell entry: centre (x y z) and radius r.
inline void write_sphere(textio::Sink &s, const Profile &p, double x,
                         double y, double z, double r)
{
    char *start = textio::room(s), *at = start;
    std::memcpy(at, kEntryPrefix.data(), kEntryPrefix.size());
    at += kEntryPrefix.size();
    at += textio::format_fixed6(at, x);
    *at++ = ' ';
    at += textio::format_fixed6(at, y);
    *at++ = ' ';
    at += textio::format_fixed6(at, z);
    std::memcpy(at, kRadiusLabel.data(), kRadiusLabel.size());
    at += kRadiusLabel.size();
    at += textio::format_fixed6(at, r);
    std::memcpy(at, p.suffix.at, kSuffixMax);
    at += p.suffix.size;
    textio::advance(s, static_cast<std::size_t>(at - start));
}

// Ends the regions list.
inline void write_closing(textio::Sink &s)
{
    textio::put(s, kClosing.data(), kClosing.size());
}

}  // namespace regiondict
