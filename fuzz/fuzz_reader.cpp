// The reader's ways of reading numbers, each on its own, against the C
// library's fscanf("%lf") on the same bytes: the same numbers converted,
// the same values bit for bit, and the same position after every number.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "differential.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string diff = differential::check_paths(std::string(reinterpret_cast<const char *>(data), size));
    if (!diff.empty()) {
        std::fprintf(stderr, "%s\n", diff.c_str());
        std::abort();
    }
    return 0;
}
