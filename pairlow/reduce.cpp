#include "reduce.h"

#include <cerrno>
#include <cstdio>

#include "diag.h"
#include "reader.h"
#include "writer.h"

namespace pairlow {

using namespace textio;

namespace {

constexpr const char *kInput = "depth/depth.txt";
constexpr const char *kOutput = "depth/depth2.txt";
constexpr int kNumbers = 2;  // first and second column
constexpr int kGroup = 2;    // records per output line
constexpr double kSentinel = 1000.0;

Reader in;
Sink out;

}  // namespace

int reduce()
{
    if (!std_streams_ok(/*prints=*/false))
        return 1;
    if (!open_reader(in, kInput))
        return fail(kInput, errno);
    if (!open_sink(out, kOutput))
        return fail(kOutput, errno);

    // The paired value is never reset: a group that chooses nothing shows
    // the one left from the last group that did.
    double low = kSentinel, paired = 0.0, rec[kNumbers];
    int position = 1;
    long long pending_line = 0;
    while (read_record(in, rec, kNumbers) == kNumbers) {
        if (rec[0] <= low) {  // false for NaN; the later of equals wins
            low = rec[0];
            paired = rec[1];
        }
        if (position < kGroup) {
            pending_line = in.rec_line;
            ++position;
        } else {
            put_fixed6(out, low);
            put(out, " ", 1);
            put_fixed6(out, paired);
            put(out, "\n", 1);
            low = kSentinel;
            position = 1;
        }
    }
    if (in.stop == Stop::error)
        return fail(kInput, in.err);
    close_reader(in);
    if (!close_sink(out))
        return fail(kOutput, out.err);

    char unpaired[80];
    std::snprintf(unpaired, sizeof unpaired,
                  "the record on line %lld has no partner and was ignored",
                  pending_line);
    warn_stop(in, kNumbers, position > 1 ? unpaired : nullptr);
    return 0;
}

}  // namespace pairlow
