#include "convert.h"

#include <cerrno>
#include <climits>

#include "diag.h"
#include "reader.h"

namespace regiondict {

using namespace textio;

namespace {

constexpr const char *kInput = "dump.txt";
constexpr const char *kOutput = "system/setFieldsDict";
constexpr int kNumbers = 4;  // centre x, y, z and radius

// The streams live outside the stack frame: their buffers are fixed and
// large, and there is one run per process.
Reader in;
Sink out, trace;

void trace_mark(int n, char letter)
{
    put_int(trace, n);
    put(trace, &letter, 1);
}

}  // namespace

int convert(const Profile &profile)
{
    double v[kNumbers];

    if (!std_streams_ok(/*prints=*/true))
        return 1;
    if (!open_reader(in, kInput))
        return fail(kInput, errno);
    if (!open_sink(out, kOutput))
        return fail(kOutput, errno);
    open_stdout(trace);

    // Counting pass: the number of complete records, or 1 when there is none.
    int count = 1;
    if (read_record(in, v, kNumbers) == kNumbers) {
        while (read_record(in, v, kNumbers) == kNumbers) {
            if (count == INT_MAX)
                return failx("%s: more than %d records", kInput, INT_MAX);
            ++count;
        }
    }
    if (in.stop == Stop::error)
        return fail(kInput, in.err);
    close_reader(in);
    trace_mark(count, 'T');

    // Emission pass: the first record opens the dictionary but is never
    // written; every later one becomes a sphere entry, at most count - 1.
    if (!open_reader(in, kInput))
        return fail(kInput, errno);
    bool any = read_record(in, v, kNumbers) == kNumbers;
    long long skipped = 0;
    if (any) {
        write_header(out, profile);
        int entry = 1;
        while (read_record(in, v, kNumbers) == kNumbers) {
            trace_mark(entry, 'A');
            if (entry < count) {
                write_sphere(out, profile, v[0], v[1], v[2], v[3]);
                trace_mark(entry, 'B');
                ++entry;
            } else {
                ++skipped;
            }
        }
        write_closing(out);
    }
    if (in.stop == Stop::error)
        return fail(kInput, in.err);
    close_reader(in);
    if (!close_sink(out))
        return fail(kOutput, out.err);

    warn_stop(in, kNumbers, any ? nullptr : "no complete record, so system/setFieldsDict is empty");
    if (skipped)
        warnx("%s: grew while it was read; %lld records beyond the %d counted were not written",
              kInput, skipped, count);
    if (!close_sink(trace))
        return fail(trace.path, trace.err);
    return 0;
}

}  // namespace regiondict
