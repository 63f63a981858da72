// headcut: dump0.txt to dump.txt without its 18 header lines; prints the
// number of lines it counted.
#include <cerrno>

#include "diag.h"
#include "scan.h"

using namespace textio;

namespace {

constexpr const char *kInput = "dump0.txt";
constexpr const char *kOutput = "dump.txt";

Reader in;
Sink out, count_out;

// One warning when the count and the copy ended before the end of the input.
void warn_end(headcut::Scan s)
{
    switch (s.end) {
    case headcut::ScanEnd::long_line:
        warnx("%s: line %d is longer than %d characters; it and the rest of "
              "the file were not copied",
              kInput, s.lines + 1, s.lines == 0 ? 97 : 98);
        break;
    case headcut::ScanEnd::partial:
        warnx("%s: line %d has no newline at the end; it was not copied",
              kInput, s.lines + 1);
        break;
    case headcut::ScanEnd::cap:
        warnx("%s: more than %d lines; lines from %d on were not copied",
              kInput, s.lines, s.lines + 1);
        break;
    default:
        break;
    }
}

}  // namespace

int main()
{
    progname = "headcut";
    if (!std_streams_ok())
        return 1;

    if (!open_reader(in, kInput))
        return fail(kInput, errno);
    headcut::Scan first = headcut::scan(in, nullptr, 0);
    if (first.end == headcut::ScanEnd::error)
        return fail(kInput, in.err);
    open_stdout(count_out);
    put_int(count_out, first.lines);
    close_reader(in);

    if (!open_reader(in, kInput))
        return fail(kInput, errno);
    if (!open_sink(out, kOutput))
        return fail(kOutput, errno);
    headcut::Scan second = headcut::scan(in, &out, first.lines);
    if (second.end == headcut::ScanEnd::error)
        return fail(kInput, in.err);
    close_reader(in);
    if (!close_sink(out))
        return fail(kOutput, out.err);

    warn_end(first);
    if (!close_sink(count_out))
        return fail(count_out.path, count_out.err);
    return 0;
}
