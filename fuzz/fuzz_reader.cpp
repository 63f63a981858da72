// The record reader against the C library's fscanf("%lf") on the same
// bytes: the same numbers converted, the same values bit for bit, and the
// same position after every number.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "oracle.h"
#include "reader.h"

static textio::Reader reader, counter;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    FILE *libc = fmemopen(const_cast<std::uint8_t *>(data), size, "r");
    std::string bytes(reinterpret_cast<const char *>(data), size);
    textio::attach_reader(reader, oracle::bytes_fd(bytes), "input");
    textio::attach_reader(counter, oracle::bytes_fd(bytes), "input");
    long long converted = 0;
    for (int n = 0;; ++n) {
        double a = 0, b = 0;
        int ca = std::fscanf(libc, "%lf", &a);
        int cb = textio::read_record(reader, &b, 1).got;
        if ((ca == 1) != (cb == 1)) {
            std::fprintf(stderr, "number %d: libc converted %d, reader %d\n", n, ca, cb);
            std::abort();
        }
        if (ca != 1)
            break;
        if (std::memcmp(&a, &b, sizeof a) != 0) {
            std::fprintf(stderr, "number %d: libc %a, reader %a\n", n, a, b);
            std::abort();
        }
        if (std::ftell(libc) != textio::offset(reader)) {
            std::fprintf(stderr, "number %d: libc at %ld, reader at %lld\n", n,
                         std::ftell(libc), textio::offset(reader));
            std::abort();
        }
        converted = n + 1;
    }
    // the counting pass counts the same numbers
    if (textio::count_numbers(counter).numbers != converted) {
        std::fprintf(stderr, "libc converted %lld numbers, count_numbers %lld\n", converted,
                     textio::count_numbers(counter).numbers);
        std::abort();
    }
    std::fclose(libc);
    textio::close_reader(reader);
    textio::close_reader(counter);
    return 0;
}
