// A whole input file in memory, as OpenFOAM finds it: `name`, or else the
// compressed `name.gz`, inflated. The bytes are followed by kTextPad zero
// bytes, so that a scan may look past the last byte without a bounds check.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace foam {

constexpr std::size_t kTextPad = 64;

struct Text {
    std::string name;             // the file read, for diagnostics
    std::unique_ptr<char[]> data; // size bytes, then kTextPad zeros
    std::size_t size = 0;
    bool compressed = false;      // read from name.gz

    const char *begin() const { return data.get(); }
    const char *end() const { return data.get() + size; }
};

// The name under which path exists, path or path.gz, or "" when neither.
std::string find_file(const std::string &path);

// Reads path, or path.gz; throws Bad when neither exists or the file cannot
// be read or inflated.
Text load_text(const std::string &path);

// The line of `at` in t: one more than the newlines before it.
long long line_of(const Text &t, const char *at);

}  // namespace foam
