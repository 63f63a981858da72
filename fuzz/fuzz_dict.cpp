// The dictionary readers on any bytes: system/setFieldsDict, controlDict
// and a field file read from them either whole or refused with foam::Bad,
// one line; never a crash, a hang or another exception. A number at the
// start is read as strtold narrowed to double reads it.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "control.h"
#include "field.h"
#include "foam/bad.h"
#include "foam/scalar.h"
#include "plan.h"

namespace {

foam::Text text_of(const std::uint8_t *data, std::size_t size)
{
    foam::Text t;
    t.name = "input";
    t.data = std::unique_ptr<char[], foam::TextRelease>(new char[size + foam::kTextPad]());
    std::memcpy(t.data.get(), data, size);
    t.size = size;
    return t;
}

void check_line(const foam::Bad &e)
{
    if (std::strchr(e.what(), '\n')) {
        std::fprintf(stderr, "a reason of more than one line: %s\n", e.what());
        std::abort();
    }
}

template <class Read>
void either_or_bad(Read read)
{
    try {
        read();
    } catch (const foam::Bad &e) {
        check_line(e);
    }
}

// The number at the start of the bytes, if any, against strtold.
void check_number(const std::uint8_t *data, std::size_t size)
{
    std::string s(reinterpret_cast<const char *>(data), size);
    if (s.empty() || !foam::starts_number(s[0]))
        return;
    std::size_t end = 1;
    while (end < s.size() && foam::is_number_char(s[end]))
        ++end;
    s.resize(end);
    std::string padded = s + std::string(16, '\0');  // as every text read is
    foam::Converted got = foam::convert_number(padded.c_str());
    if (got.status != foam::Conv::ok || s.size() > 127)
        return;
    errno = 0;
    char *stop = nullptr;
    long double v = std::strtold(s.c_str(), &stop);
    const long double vsmall = 1.0e-300;
    double want = (v >= -vsmall && v <= vsmall) ? 0.0 : static_cast<double>(v);
    if (stop != s.c_str() + s.size() || std::memcmp(&want, &got.value, sizeof want) != 0) {
        std::fprintf(stderr, "'%s': strtold narrowed %a, read %a\n", s.c_str(), want, got.value);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    check_number(data, size);
    foam::Text t = text_of(data, size);
    // a file it includes is looked for beside it, small; no etc directory
    foam::Includes inc;
    inc.bound = {std::size_t{1} << 20, "an input of the fuzzer"};
    either_or_bad([&] { orbset::read_plan(t, inc); });
    // as two other releases read it, numbers too
    for (const char *name : {"v2406", "12"}) {
        const orbset::Release release = orbset::release_named(name, "-release");
        foam::set_reading(orbset::number_reading(release));
        either_or_bad([&] { orbset::read_plan(t, inc, release); });
    }
    foam::set_reading({});
    either_or_bad([&] { orbset::read_control(t, inc); });
    for (orbset::FieldType type : {orbset::FieldType::scalar, orbset::FieldType::vector}) {
        either_or_bad([&] {
            // a field of a mesh of 2 cells, 1 face in patch "a", 2 in "b" (group g)
            static const std::vector<foam::BoundaryPatch> patches = {
                {{"a", "patch", 1, 1}, {}}, {{"b", "wall", 2, 2}, {"g"}}};
            orbset::FieldFile field = orbset::read_field(text_of(data, size), type, 2, inc);
            std::vector<std::string> warnings;
            orbset::resolve_patches(field, patches, {}, warnings);
        });
    }
    return 0;
}
