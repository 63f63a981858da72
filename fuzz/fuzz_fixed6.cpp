// The "%f" writer against snprintf, eight input bytes to a double.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    for (std::size_t at = 0; at + 8 <= size; at += 8) {
        double x;
        std::memcpy(&x, data + at, sizeof x);
        char ours[textio::kFixed6Max + textio::kSpill], libc[400];
        std::size_t n = textio::format_fixed6(ours, x);
        int m = std::snprintf(libc, sizeof libc, "%f", x);
        if (static_cast<int>(n) != m || std::memcmp(ours, libc, n) != 0) {
            std::fprintf(stderr, "%a: \"%.*s\" vs \"%s\"\n", x, static_cast<int>(n), ours, libc);
            std::abort();
        }
    }
    return 0;
}
