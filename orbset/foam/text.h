// A whole input file in memory, as OpenFOAM finds it: `name`, or else the
// compressed `name.gz`, inflated. The bytes are followed by kTextPad zero
// bytes, so that a scan may look past the last byte without a bounds check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace foam {

constexpr std::size_t kTextPad = 64;

// Gives back the bytes of a Text: heap memory, or a mapping of `mapped`
// bytes.
struct TextRelease {
    std::size_t mapped = 0;
    void operator()(char *p) const;
};

struct Text {
    std::string name;                        // the file read, for diagnostics
    std::unique_ptr<char[], TextRelease> data;  // size bytes, then kTextPad zeros
    std::size_t size = 0;
    bool compressed = false;                 // read from name.gz
    long long first_line = 1;                // the line of name its first byte is on

    const char *begin() const { return data.get(); }
    const char *end() const { return data.get() + size; }
};

// A text made in memory: the bytes of a value with its variables expanded,
// standing for line `first_line` of the file `name` in diagnostics.
Text text_of(std::string name, std::string_view bytes, long long first_line);

// The name under which path exists, path or path.gz, or "" when neither.
std::string find_file(const std::string &path);

// Whether path names a directory (through symbolic links).
bool is_dir(const std::string &path);

// The most bytes an input may hold once inflated, and what that bound
// stands for, for the line that refuses a larger one: an input linked to
// a device that never ends, or a small .gz that inflates to gigabytes,
// is refused before it fills the memory.
struct Bound {
    std::size_t bytes = SIZE_MAX;
    const char *what = "";  // "a field of this mesh can need"
};

// Reads path, or path.gz; throws Bad when neither exists, when it is not a
// regular file (a named pipe, a device: it is opened without blocking and
// refused), when it holds more than `bound` allows, or when it cannot be
// read or inflated.
Text load_text(const std::string &path, const Bound &bound = {});

// As load_text, but maps a plain regular file into memory instead of
// copying it: no copy and few page faults for the large files of a mesh.
// The file must not shrink while the Text lives (SIGBUS).
Text map_text(const std::string &path, const Bound &bound = {});

// The name of the mapped file whose bytes hold addr, or null: for the one
// line that a SIGBUS ends the run with (a mapped file cut short while it
// is read). Safe in a signal handler.
const char *mapped_file_at(const void *addr);

// The line of `at` in t: one more than the newlines before it.
long long line_of(const Text &t, const char *at);

// The lines of places met in order through a text, each counted on from
// the last: a dictionary of 10^5 regions has each region's line at the
// cost of one pass, not of 10^5.
class LineCounter {
public:
    long long line_of(const Text &t, const char *at);

private:
    const Text *text_ = nullptr;
    const char *at_ = nullptr;
    long long line_ = 0;
};

// Asks the kernel to back [p, p + bytes) with huge pages where it may: a
// mesh of 10^6 cells fills some 10^5 small pages, and on a virtual machine
// the first touch of each can cost microseconds.
void advise_huge_pages(void *p, std::size_t bytes);

// Room for n items in v, backed by huge pages where the kernel allows.
template <class V>
void reserve_huge(V &v, std::size_t n)
{
    v.reserve(n);
    advise_huge_pages(v.data(), n * sizeof(*v.data()));
}

}  // namespace foam
