#include "release.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "foam/bad.h"

namespace orbset {

namespace {

// The releases whose setFields orbset reproduces, each read in its own
// sources where it differs from the others.
constexpr int kEsi[] = {1912, 2006, 2012, 2106, 2112, 2206, 2212, 2306, 2312, 2406, 2412, 2506};
constexpr int kFoundation[] = {8, 9, 10, 11, 12, 13};

std::string supported()
{
    std::string s;
    for (int n : kEsi)
        s += (s.empty() ? "v" : ", v") + std::to_string(n);
    s += " (ESI) and ";
    for (int n : kFoundation)
        s += std::to_string(n) + (n == kFoundation[std::size(kFoundation) - 1] ? "" : ", ");
    return s + " (the Foundation)";
}

// Why a name is refused, where more can be said than that it is unknown.
std::string why_not(std::string_view name, int number, bool esi)
{
    if (name == "dev" || (!esi && number >= 14))
        return " (the setFields of the Foundation's 14 and dev reads neither defaultFieldValues "
               "nor regions)";
    if (esi && number > kEsi[std::size(kEsi) - 1])
        return " (newer than any of these)";
    return "";
}

}  // namespace

std::string Release::name() const
{
    return (line == Line::esi ? "v" : "") + std::to_string(number);
}

Release release_named(std::string_view name, std::string_view origin)
{
    std::string_view digits = name.starts_with('v') ? name.substr(1) : name;
    int number = -1;
    if (!digits.empty() && digits.size() <= 4 &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        number = std::atoi(std::string(digits).c_str());
    const bool esi = number >= 1000 || name.starts_with('v');
    const int *first = esi ? std::begin(kEsi) : std::begin(kFoundation);
    const int *last = esi ? std::end(kEsi) : std::end(kFoundation);
    if (number >= 0 && std::find(first, last, number) != last)
        return {esi ? Release::Line::esi : Release::Line::foundation, number};
    throw foam::Bad(std::string(origin) + " " + std::string(name) +
                    ": not a release orbset reproduces" + why_not(name, number, esi) +
                    "; it reproduces the setFields of OpenFOAM " + supported() +
                    "; name one with -release NAME");
}

foam::Reading number_reading(const Release &r)
{
    foam::Reading reading;
    reading.one_rounding = r.foundation();
    reading.any_length = r.foundation(9);
    reading.wide_integers = r.foundation(12);
    reading.sign_tokens = r.esi(2106);
    return reading;
}

Release release_of_run(const char *option)
{
    if (option)
        return release_named(option, "-release");
    if (const char *env = std::getenv("WM_PROJECT_VERSION"); env && *env)
        return release_named(env, "WM_PROJECT_VERSION");
    return kDebianRelease;
}

}  // namespace orbset
