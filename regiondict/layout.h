// The text of system/setFieldsDict: fixed pieces of a field profile and
// numbers in "%f" text, concatenated. Nothing is escaped or read back.
#pragma once

#include <string_view>

#include "writer.h"

namespace regiondict {

// A field profile: every text that names the field or one of its values.
struct Profile {
    std::string_view header;  // FoamFile, defaultFieldValues and the box
    std::string_view suffix;  // closes a sphereToCell with the region value
};

inline constexpr Profile kAlphaPhase1{
    "FoamFile {version     2.0;format      ascii;class       dictionary; "
    "object      setFieldsDict;} defaultFieldValues     (    "
    "volScalarFieldValue alpha.phase1 0 ); regions ( boxToCell    {       "
    "box (0 0.00001 -0.000235) (0.001 0.00029 0);        fieldValues        "
    "(           volScalarFieldValue alpha.phase1 1        );    }",
    ";        fieldValues (            volScalarFieldValue alpha.phase1 1  "
    "              );    }",
};

inline constexpr Profile kH{
    "FoamFile {version     2.0;format      ascii;class       dictionary; "
    "object      setFieldsDict;} defaultFieldValues     (    "
    "volScalarFieldValue h 140878 ); regions ( boxToCell    {       "
    "box (0 0.00001 -0.000235) (0.001 0.00029 0);        fieldValues        "
    "(           volScalarFieldValue h 586500        );    }",
    ";        fieldValues (            volScalarFieldValue h 586500  "
    "              );    }",
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

// One sphereToCell entry: centre (x y z) and radius r.
inline void write_sphere(textio::Sink &s, const Profile &p, double x,
                         double y, double z, double r)
{
    textio::put(s, kEntryPrefix.data(), kEntryPrefix.size());
    textio::put_fixed6(s, x);
    textio::put(s, " ", 1);
    textio::put_fixed6(s, y);
    textio::put(s, " ", 1);
    textio::put_fixed6(s, z);
    textio::put(s, kRadiusLabel.data(), kRadiusLabel.size());
    textio::put_fixed6(s, r);
    textio::put(s, p.suffix.data(), p.suffix.size());
}

// Ends the regions list.
inline void write_closing(textio::Sink &s)
{
    textio::put(s, kClosing.data(), kClosing.size());
}

}  // namespace regiondict
