// The OpenFOAM release whose setFields orbset reproduces: one of ESI's
// line (OpenCFD, www.openfoam.com: v1912, v2006, ... v2506) or of the
// OpenFOAM Foundation's (openfoam.org: 8 ... 13). Each part of the run
// asks it what that release's setFields does where releases differ.
#pragma once

#include <string>
#include <string_view>

#include "foam/geometry.h"
#include "foam/scalar.h"

namespace orbset {

struct Release {
    enum class Line { esi, foundation };
    Line line = Line::esi;
    int number = 1912;  // 1912, 2006, ... for ESI's; 8, 9, ... for the Foundation's

    // Its name as its etc/bashrc sets WM_PROJECT_VERSION: "v2406", "12".
    std::string name() const;
    // The directory name its user and site etc directories use: "2406", "12".
    std::string etc_name() const { return std::to_string(number); }
    // Whether it is ESI's release `from` or a later one of that line.
    bool esi(int from = 0) const { return line == Line::esi && number >= from; }
    // Whether it is the Foundation's release `from` or a later one.
    bool foundation(int from = 0) const { return line == Line::foundation && number >= from; }
};

// The release of Debian's and Ubuntu's openfoam package.
inline constexpr Release kDebianRelease{};

// The release a name gives, as WM_PROJECT_VERSION or -release gives it:
// "v2406" (or its number, 2406) or "12". Throws foam::Bad for a release
// orbset does not reproduce, in one line that names where the name comes
// from (`origin`) and lists the releases it reproduces.
Release release_named(std::string_view name, std::string_view origin);

// How the release reads numbers, and computes centres.
foam::Reading number_reading(const Release &r);
inline foam::Centres centres_of(const Release &r)
{
    return r.foundation() ? foam::Centres::foundation : foam::Centres::esi;
}

// The release of the run: -release's name where given (not null), else
// WM_PROJECT_VERSION where the environment sets it, else Debian's.
Release release_of_run(const char *option);

}  // namespace orbset
