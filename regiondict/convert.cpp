#include "convert.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "diag.h"
#include "files.h"
#include "replace.h"

namespace regiondict {

using namespace textio;

namespace {

constexpr const char *kInput = "dump.txt";
constexpr const char *kOutput = "system/setFieldsDict";

// The streams live outside the stack frame: their buffers are fixed and
// large, and there is one run per process.
Reader in;
Replacement dict;
Sink out, trace;

// Sphere entries that setFields will not use as the user meant.
struct Flagged {
    long long count;
    long long first_line;  // input line of the first
};

void flag(Flagged &f, long long line)
{
    if (f.count++ == 0)
        f.first_line = line;
}

struct Emitted {
    bool any;           // a first record opened the dictionary
    int written;        // sphere entries written
    long long skipped;  // records beyond the count, not written
    Record end;         // the record that ended the pass
    Flagged nonfinite;  // nan or inf in x, y, z or r
    Flagged flat;       // a radius written as 0.000000 or -0.000000
    Flagged negative;   // a radius written below -0.000000
};

// The emission pass: the first record opens the dictionary but is never
// written; every later one becomes a sphere entry, at most count - 1.
Emitted emit(Reader &r, Sink &s, const Profile &profile, int count)
{
    double v[kSphereNumbers];
    Emitted e{false, 0, 0, read_record(r, v, kSphereNumbers), {0, 0}, {0, 0}, {0, 0}};
    if (e.end.stop != Stop::none)
        return e;
    e.any = true;
    write_header(s, profile);
    while ((e.end = read_record(r, v, kSphereNumbers)).stop == Stop::none) {
        if (e.written + 1 >= count) {
            ++e.skipped;
            continue;
        }
        write_sphere(s, profile, v[0], v[1], v[2], v[3]);
        ++e.written;
        if (!(std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]) &&
              std::isfinite(v[3])))
            flag(e.nonfinite, e.end.line);
        else if (std::fabs(v[3]) <= kLargestZero)
            flag(e.flat, e.end.line);
        else if (v[3] < 0)
            flag(e.negative, e.end.line);
    }
    write_closing(s);
    return e;
}

// A counter kept as its decimal text, digits ending at `end`: counting up
// by one changes the last digits only, cheaper than writing it anew.
struct Odometer {
    char at[32];  // the text, then room to copy 16 bytes from its start
    unsigned len;
    static constexpr unsigned end = 16;

    // The trace copies a fixed end bytes of the text, past its length by
    // at most end - 1, into the sink's room.
    static_assert(end - 1 <= kSpill);

    const char *text() const { return at + end - len; }
    void next()
    {
        unsigned i = end - 1;
        for (; i >= end - len && at[i] == '9'; --i)
            at[i] = '0';
        if (i < end - len) {
            at[i] = '1';
            ++len;
        } else {
            ++at[i];
        }
    }
};

// The progress trace, which follows from the counters alone: the count
// with T, then every entry number with A and B, then one A with the entry
// counter, stuck at the count, for every record passed over.
void write_trace(Sink &t, int count, const Emitted &e)
{
    put_int(t, count);
    put(t, "T", 1);
    Odometer entry{{}, 1};
    entry.at[Odometer::end - 1] = '1';
    for (int k = 1; k <= e.written; ++k, entry.next()) {
        // "<entry>A<entry>B", each copy a fixed Odometer::end bytes, cut to length
        char *p = room(t);
        std::memcpy(p, entry.text(), Odometer::end);
        p[entry.len] = 'A';
        std::memcpy(p + entry.len + 1, entry.text(), Odometer::end);
        p[2 * entry.len + 1] = 'B';
        advance(t, 2 * entry.len + 2);
    }
    for (long long k = 0; k < e.skipped; ++k) {
        put(t, entry.text(), entry.len);
        put(t, "A", 1);
    }
}

// setFields takes the cells whose centre lies at a squared distance below
// the radius squared: a radius of zero takes none, a negative one takes
// those within its size.
void warn_entries(const Emitted &e)
{
    const Flagged &n = e.nonfinite, &f = e.flat, &m = e.negative;
    if (n.count)
        warnx("%s: line %lld: nan or inf in a sphere entry (%lld such %s in all); setFields "
              "will reject the dictionary",
              kInput, n.first_line, n.count, noun(n.count, "entry", "entries"));
    if (f.count)
        warnx("%s: line %lld: a radius written as 0.000000 or -0.000000 (%lld such %s in "
              "all); such a sphere sets no cell",
              kInput, f.first_line, f.count, noun(f.count, "sphere", "spheres"));
    if (m.count)
        warnx("%s: line %lld: a negative radius (%lld such %s in all); setFields uses its "
              "size, so such a sphere sets cells as if it were positive: probably a sign "
              "error in the dump",
              kInput, m.first_line, m.count, noun(m.count, "sphere", "spheres"));
}

}  // namespace

int convert(const Profile &profile)
{
    if (stdout_onto(kInput, "input") || stdout_onto(kOutput, "output"))
        return 1;

    // Counting pass: the number of complete records, or 1 when there is
    // none; only whether numbers convert matters here.
    if (!open_input(in, kInput))
        return 1;
    Count counted = count_numbers(in);
    close_reader(in);
    if (counted.stop == Stop::error)
        return fail(kInput, counted.err);
    long long records = counted.numbers / kSphereNumbers;
    if (records > INT_MAX)
        return failx("%s: more than %d records", kInput, INT_MAX);
    int count = records ? static_cast<int>(records) : 1;

    // Emission pass: the new dictionary replaces the old one only when it
    // is whole.
    if (!open_input_and_replacement(in, kInput, dict, out, kOutput))
        return 1;
    Emitted e = emit(in, out, profile, count);
    close_reader(in);
    if (e.end.stop == Stop::error) {
        abandon_replacement(dict, out);
        return fail(kInput, e.end.err);
    }
    if (!commit_replacement(dict, out))
        return 1;

    warn_stop(in, e.end, kSphereNumbers);
    warn_misfit(in, e.end, kSphereNumbers);
    warn_entries(e);
    if (!e.any)
        warnx("%s: no complete record, so %s is empty", kInput, kOutput);
    const char *records_counted = noun(count, "record", "records");
    if (e.written < count - 1)
        warnx("%s: changed while it was read: %d %s counted, so %d sphere %s expected; "
              "written: %d",
              kInput, count, records_counted, count - 1,
              noun(count - 1, "entry was", "entries were"), e.written);
    if (e.skipped)
        warnx("%s: changed while it was read: %d %s counted; %lld %s beyond them %s not "
              "written",
              kInput, count, records_counted, e.skipped, noun(e.skipped, "record", "records"),
              noun(e.skipped, "was", "were"));

    open_stdout(trace);
    write_trace(trace, count, e);
    if (!close_sink(trace))
        return fail(trace.path, trace.err);
    return 0;
}

}  // namespace regiondict
