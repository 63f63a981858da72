#include "regex.h"

#include <regex>

namespace foam {

std::optional<bool> regex_matches(const std::string &pattern, const std::string &name)
{
    std::string body = pattern;
    auto flags = std::regex::extended;
    if (body.starts_with("(?i)")) {
        body.erase(0, 4);
        flags |= std::regex::icase;
    }
    if (body.empty() || name.empty())
        return false;
    try {
        return std::regex_match(name, std::regex(body, flags));
    } catch (const std::regex_error &) {
        return std::nullopt;
    }
}

}  // namespace foam
