#include "trim.h"

#include <cstring>

#include "../regiondict/convert.h"
#include "diag.h"
#include "files.h"
#include "replace.h"
#include "scan.h"

namespace headcut {

using namespace textio;

namespace {

constexpr const char *kInput = "dump0.txt";
constexpr const char *kOutput = "dump.txt";

Reader in, header_line;
Replacement dump;
Sink out, count_out;

// Header lines that hold one sphere record's worth of numbers: a dump
// with a shorter header, or none, whose first spheres are cut as header.
struct HeaderSpheres {
    int count;
    int first_line;
};

// Whether a line holds the numbers of one sphere record and nothing more,
// as orbfill reads them.
bool holds_a_sphere(const unsigned char *p, std::size_t n)
{
    attach_bytes(header_line, p, n, kInput);
    double v[regiondict::kSphereNumbers];
    return read_record(header_line, v, regiondict::kSphereNumbers).stop == Stop::none &&
           read_record(header_line, v, 1).stop == Stop::end;
}

// The header lines that the scans count, among the bytes first read: all
// of them from a file, those that came at once from a pipe.
HeaderSpheres header_spheres(Bytes b)
{
    HeaderSpheres h{0, 0};
    const unsigned char *p = b.data, *end = b.data + b.size;
    for (int line = 1; line <= kHeaderLines; ++line) {
        auto nl = static_cast<const unsigned char *>(
            std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        if (!nl || nl - p > (line == 1 ? kFirstLineMax : kLineMax))
            break;
        if (holds_a_sphere(p, static_cast<std::size_t>(nl - p)) && h.count++ == 0)
            h.first_line = line;
        p = nl + 1;
    }
    return h;
}

// One warning when the count and the copy ended before the end of the
// input; true when there was one.
bool warn_end(Scan s)
{
    switch (s.end) {
    case ScanEnd::long_line:
        warnx("%s: line %d is longer than %d characters; it and the rest of "
              "the file were not copied",
              kInput, s.lines + 1, s.lines == 0 ? kFirstLineMax : kLineMax);
        return true;
    case ScanEnd::partial:
        warnx("%s: line %d has no newline at the end; it was not copied",
              kInput, s.lines + 1);
        return true;
    case ScanEnd::cap:
        warnx("%s: more than %d lines; lines from %d on were not copied",
              kInput, s.lines, s.lines + 1);
        return true;
    default:
        return false;
    }
}

// Lines of dump.txt when the copy found `lines` of the `total` counted.
int copied(int lines, int total)
{
    int n = (lines < total ? lines : total) - kHeaderLines;
    return n > 0 ? n : 0;
}

void warn_scans(HeaderSpheres h, Scan first, Scan second)
{
    if (h.count)
        warnx("%s: line %d: a header line holding %d numbers, as a sphere record does (%d "
              "such %s); the first %d lines are never copied, so a dump with a shorter "
              "header loses such spheres",
              kInput, h.first_line, regiondict::kSphereNumbers, h.count,
              noun(h.count, "line", "lines"), kHeaderLines);
    const char *counted = noun(first.lines, "line", "lines");
    if (!warn_end(first) && first.lines <= kHeaderLines)
        warnx("%s: %d %s, no more than the %d header lines, so %s is empty", kInput,
              first.lines, counted, kHeaderLines, kOutput);
    // A file that shrank, or a pipe that cannot be read twice; or a file
    // that grew.
    int expected = copied(first.lines, first.lines);
    if (second.lines < first.lines)
        warnx("%s: changed while it was read: %d %s counted, %d found again; %s holds %d "
              "of the %d %s expected",
              kInput, first.lines, counted, second.lines, kOutput,
              copied(second.lines, first.lines), expected, noun(expected, "line", "lines"));
    int beyond = second.lines - first.lines;
    if (beyond > 0)
        warnx("%s: changed while it was read: %d %s counted; %d %s beyond them %s not "
              "copied",
              kInput, first.lines, counted, beyond, noun(beyond, "line", "lines"),
              noun(beyond, "was", "were"));
}

}  // namespace

int trim()
{
    if (stdout_onto(kInput, "input") || stdout_onto(kOutput, "output"))
        return 1;

    // First scan: the line count.
    if (!open_input(in, kInput))
        return 1;
    HeaderSpheres header = header_spheres(peek(in));
    Scan first = count_lines(in);
    close_reader(in);
    if (first.end == ScanEnd::error)
        return fail(kInput, first.err);

    // Second scan: the copy, which replaces the old dump.txt only when it
    // is whole.
    if (!open_input_and_replacement(in, kInput, dump, out, kOutput))
        return 1;
    Scan second = copy_lines(in, out, first.lines);
    close_reader(in);
    if (second.end == ScanEnd::error) {
        abandon_replacement(dump, out);
        return fail(kInput, second.err);
    }
    if (!commit_replacement(dump, out))
        return 1;

    warn_scans(header, first, second);
    open_stdout(count_out);
    put_int(count_out, first.lines);
    if (!close_sink(count_out))
        return fail(count_out.path, count_out.err);
    return 0;
}

}  // namespace headcut
