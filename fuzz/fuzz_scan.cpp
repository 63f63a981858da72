// The dump trimmer's scanning rule on arbitrary bytes against the getc and
// putc reference.
#include <cstdint>
#include <cstdio>
#include <string>

#include "oracle.h"
#include "scan.h"

static textio::Reader reader;
static textio::Sink sink;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::string dump0(reinterpret_cast<const char *>(data), size);
    textio::attach_reader(reader, oracle::bytes_fd(dump0), "dump0");
    headcut::Scan first = headcut::count_lines(reader);
    textio::close_reader(reader);

    headcut::Scan second{};
    std::string copy = oracle::captured([&](int fd) {
        textio::attach_sink(sink, fd, "dump");
        textio::attach_reader(reader, oracle::bytes_fd(dump0), "dump0");
        second = headcut::copy_lines(reader, sink, first.lines);
        textio::close_reader(reader);
        textio::close_sink(sink);
    });

    oracle::Trim want = oracle::headcut(dump0);
    if (std::to_string(first.lines) != want.count || second.lines != first.lines ||
        copy != want.dump) {
        std::fprintf(stderr, "count %d/%d vs %s, copy of %zu bytes vs %zu\n", first.lines,
                     second.lines, want.count.c_str(), copy.size(), want.dump.size());
        std::abort();
    }
    return 0;
}
