// The dump trimmer's scanning rule on arbitrary bytes against the getc and
// putc reference, on the machine's paths and on the portable ones.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "differential.h"
#include "oracle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string dump0(reinterpret_cast<const char *>(data), size);
    oracle::Trim want = oracle::headcut(dump0);
    differential::on_each_path([&] {
        differential::Trim got = differential::trim(dump0);
        if (std::to_string(got.count) != want.count || got.count_again != got.count ||
            got.dump != want.dump) {
            std::fprintf(stderr, "count %d/%d vs %s, copy of %zu bytes vs %zu (%s path)\n",
                         got.count, got.count_again, want.count.c_str(), got.dump.size(),
                         want.dump.size(), textio::portable() ? "portable" : "machine's");
            std::abort();
        }
    });
    return 0;
}
