// A quoted keyword of a dictionary is a regular expression, which OpenFOAM
// 1912 matches against the whole of a name with std::regex's extended
// (POSIX) grammar, "(?i)" in front making it ignore case.
#pragma once

#include <optional>
#include <string>

namespace foam {

// Whether the pattern matches all of name; nothing when the pattern is not
// a regular expression.
std::optional<bool> regex_matches(const std::string &pattern, const std::string &name);

}  // namespace foam
