#include "trim.h"

#include <cerrno>

#include "diag.h"
#include "scan.h"

namespace headcut {

using namespace textio;

namespace {

constexpr const char *kInput = "dump0.txt";
constexpr const char *kOutput = "dump.txt";

Reader in;
Sink out, count_out;

// One warning when the count and the copy ended before the end of the input.
void warn_end(Scan s)
{
    switch (s.end) {
    case ScanEnd::long_line:
        warnx("%s: line %d is longer than %d characters; it and the rest of "
              "the file were not copied",
              kInput, s.lines + 1, s.lines == 0 ? 97 : 98);
        break;
    case ScanEnd::partial:
        warnx("%s: line %d has no newline at the end; it was not copied",
              kInput, s.lines + 1);
        break;
    case ScanEnd::cap:
        warnx("%s: more than %d lines; lines from %d on were not copied",
              kInput, s.lines, s.lines + 1);
        break;
    default:
        break;
    }
}

}  // namespace

int trim()
{
    if (!std_streams_ok(/*prints=*/true))
        return 1;

    if (!open_reader(in, kInput))
        return fail(kInput, errno);
    Scan first = scan(in, nullptr, 0);
    if (first.end == ScanEnd::error)
        return fail(kInput, in.err);
    open_stdout(count_out);
    put_int(count_out, first.lines);
    close_reader(in);

    if (!open_reader(in, kInput))
        return fail(kInput, errno);
    if (!open_sink(out, kOutput))
        return fail(kOutput, errno);
    Scan second = scan(in, &out, first.lines);
    if (second.end == ScanEnd::error)
        return fail(kInput, in.err);
    close_reader(in);
    if (!close_sink(out))
        return fail(kOutput, out.err);

    warn_end(first);
    if (!close_sink(count_out))
        return fail(count_out.path, count_out.err);
    return 0;
}

}  // namespace headcut
