#include "trim.h"

#include "diag.h"
#include "files.h"
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
              kInput, s.lines + 1, s.lines == 0 ? kFirstLineMax : kLineMax);
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

// Lines of dump.txt when the copy found `lines` of the `total` counted.
int copied(int lines, int total)
{
    int n = (lines < total ? lines : total) - kHeaderLines;
    return n > 0 ? n : 0;
}

}  // namespace

int trim()
{
    if (!open_input(in, kInput))
        return 1;
    Scan first = count_lines(in);
    close_reader(in);
    if (first.end == ScanEnd::error)
        return fail(kInput, first.err);

    if (!open_input_and_output(in, kInput, out, kOutput))
        return 1;
    Scan second = copy_lines(in, out, first.lines);
    close_reader(in);
    if (second.end == ScanEnd::error)
        return fail(kInput, second.err);
    if (!close_sink(out))
        return fail(kOutput, out.err);

    warn_end(first);
    // A file that shrank, or a pipe that cannot be read twice.
    if (second.lines < first.lines)
        warnx("%s: changed while it was read: %d lines counted, %d found again; %s holds "
              "%d of the %d lines expected",
              kInput, first.lines, second.lines, kOutput, copied(second.lines, first.lines),
              copied(first.lines, first.lines));
    open_stdout(count_out);
    put_int(count_out, first.lines);
    if (!close_sink(count_out))
        return fail(count_out.path, count_out.err);
    return 0;
}

}  // namespace headcut
