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

static textio::Reader reader, skipper;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    FILE *libc = fmemopen(const_cast<std::uint8_t *>(data), size, "r");
    std::string bytes(reinterpret_cast<const char *>(data), size);
    textio::attach_reader(reader, oracle::bytes_fd(bytes), "input");
    // skip_record, four numbers at a time, must end each record where
    // fscanf ended its fourth number
    textio::attach_reader(skipper, oracle::bytes_fd(bytes), "input");
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
        if (n % 4 == 3 && (textio::skip_record(skipper, 4).got != 4 ||
                           std::ftell(libc) != textio::offset(skipper))) {
            std::fprintf(stderr, "number %d: skip_record ends elsewhere\n", n);
            std::abort();
        }
    }
    std::fclose(libc);
    textio::close_reader(reader);
    textio::close_reader(skipper);
    return 0;
}
