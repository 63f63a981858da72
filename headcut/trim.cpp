#include "trim.h"

#include <cstdio>
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

// Header lines that hold numbers and nothing else, as records do: a dump
// with a shorter header, or none, whose first records are cut as header.
// A LIGGGHTS or LAMMPS dump has its own header, whose sections start with
// "ITEM:" and hold numbers of their own (the time step, the number of
// atoms, the box bounds); only the lines after its last "ITEM:" line, where
// its records begin, count.
struct HeaderRecords {
    int count;        // header lines holding numbers only
    int first_line;   // the first of them
    int numbers;      // how many numbers that line holds
    int item_line;    // the first "ITEM:" line, or 0
};

// How many numbers a line holds when it holds numbers and nothing else, as
// orbfill reads them; else 0.
long long numbers_only(const unsigned char *p, std::size_t n)
{
    attach_bytes(header_line, p, n, kInput);
    Count c = count_numbers(header_line);
    return c.stop == Stop::end ? c.numbers : 0;
}

bool starts_an_item(const unsigned char *p, std::size_t n)
{
    static constexpr char kItem[] = "ITEM:";
    return n >= sizeof kItem - 1 && std::memcmp(p, kItem, sizeof kItem - 1) == 0;
}

// The header lines that the scans count, among the bytes first read: all
// of them from a file, those that came at once from a pipe.
HeaderRecords header_records(Bytes b)
{
    HeaderRecords h{0, 0, 0, 0};
    const unsigned char *p = b.data, *end = b.data + b.size;
    for (int line = 1; line <= kHeaderLines; ++line) {
        auto nl = static_cast<const unsigned char *>(
            std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        if (!nl || nl - p > (line == 1 ? kFirstLineMax : kLineMax))
            break;
        auto n = static_cast<std::size_t>(nl - p);
        if (starts_an_item(p, n)) {
            if (!h.item_line)
                h.item_line = line;
            h.count = 0;  // the numbers so far were the dump's own header
        } else if (long long numbers = numbers_only(p, n); numbers && h.count++ == 0) {
            h.first_line = line;
            h.numbers = static_cast<int>(numbers);
        }
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
        warnx("%s: more than %d lines; lines from %d on were not copied: `tail -n +%d %s > %s` "
              "copies every line, and orbfill takes a list of any length",
              kInput, s.lines, s.lines + 1, kHeaderLines + 1, kInput, kOutput);
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

// The header lines that look like records: they are never copied, and
// records of another width than a sphere's shift every sphere orbfill reads.
void warn_header(HeaderRecords h)
{
    if (!h.count)
        return;
    const bool spheres = h.numbers == regiondict::kSphereNumbers;
    char item[256] = "";
    if (h.item_line)
        std::snprintf(item, sizeof item,
                      "; line %d starts with ITEM:, so this is a LIGGGHTS or LAMMPS dump with "
                      "a header of its own: make dump0.txt from it with the awk line of the "
                      "README's road, step 1",
                      h.item_line);
    char width[96] = "";
    if (!spheres)
        std::snprintf(width, sizeof width, ", and orbfill reads %d numbers a sphere, x y z and radius",
                      regiondict::kSphereNumbers);
    warnx("%s: line %d: a header line holding %d %s, as a %s does (%d such %s); the first %d "
          "lines are never copied, so a dump with a shorter header loses such %s%s%s",
          kInput, h.first_line, h.numbers, noun(h.numbers, "number", "numbers"),
          spheres ? "sphere record" : "record", h.count, noun(h.count, "line", "lines"),
          kHeaderLines, spheres ? "spheres" : "records", width, item);
}

void warn_scans(HeaderRecords h, Scan first, Scan second)
{
    warn_header(h);
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
    HeaderRecords header = header_records(peek(in));
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
