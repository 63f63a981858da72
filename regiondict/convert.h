// The conversion run: dump.txt, counted in a first pass and written in a
// second, becomes system/setFieldsDict in the layout of one field profile.
#pragma once

#include "layout.h"

namespace regiondict {

// Numbers of one sphere record: centre x, y, z and radius.
constexpr int kSphereNumbers = 4;

// The whole run in the working directory; returns the exit status.
int convert(const Profile &profile);

}  // namespace regiondict
