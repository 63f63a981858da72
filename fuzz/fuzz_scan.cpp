// The dump trimmer's scanning rule on arbitrary bytes against the getc and
// putc reference.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
    textio::attach_reader(reader, fmemopen(dump0.data(), size, "r"), "dump0");
    headcut::Scan first = headcut::scan(reader, nullptr, 0);
    textio::close_reader(reader);

    char *buf = nullptr;
    std::size_t len = 0;
    textio::attach_sink(sink, open_memstream(&buf, &len), "dump");
    textio::attach_reader(reader, fmemopen(dump0.data(), size, "r"), "dump0");
    headcut::Scan second = headcut::scan(reader, &sink, first.lines);
    textio::close_reader(reader);
    textio::close_sink(sink);

    oracle::Trim want = oracle::headcut(dump0);
    if (std::to_string(first.lines) != want.count || second.lines != first.lines ||
        std::string(buf, len) != want.dump) {
        std::fprintf(stderr, "count %d/%d vs %s, copy of %zu bytes vs %zu\n", first.lines,
                     second.lines, want.count.c_str(), len, want.dump.size());
        std::abort();
    }
    std::free(buf);
    return 0;
}
