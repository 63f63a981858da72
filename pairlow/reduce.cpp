#include "reduce.h"

#include "diag.h"
#include "files.h"

namespace pairlow {

using namespace textio;

namespace {

constexpr const char *kInput = "depth/depth.txt";
constexpr const char *kOutput = "depth/depth2.txt";
constexpr int kNumbers = 2;  // first and second column
constexpr int kGroup = 2;    // records per output line
constexpr double kSentinel = 1000.0;
// An output line, "%f %f\n", is written whole into the sink's room.
static_assert(2 * kFixed6Max + 2 <= kPieceMax);

Reader in;
Sink out;

// Pairs in which no first value was chosen: written as the sentinel with a
// second value left over from an earlier pair.
struct Placeholders {
    long long count;
    long long input_line;   // line of the first record of the first such pair
    long long output_line;  // its line in the output
};

}  // namespace

int reduce()
{
    if (!open_input_and_output(in, kInput, out, kOutput))
        return 1;

    // The paired value is never reset: a group that chooses nothing shows
    // the one left from the last group that did.
    double low = kSentinel, paired = 0.0, rec[kNumbers];
    int position = 1;
    bool chosen = false;
    long long group_line = 0, lines_out = 0;
    Placeholders none{0, 0, 0};
    Record r;
    while ((r = read_record(in, rec, kNumbers)).stop == Stop::none) {
        if (position == 1)
            group_line = r.line;
        if (rec[0] <= low) {  // false for NaN; the later of equals wins
            low = rec[0];
            paired = rec[1];
            chosen = true;
        }
        if (position < kGroup) {
            ++position;
            continue;
        }
        // "%f %f\n", written whole into the sink's room
        char *line = room(out), *at = line;
        at += format_fixed6(at, low);
        *at++ = ' ';
        at += format_fixed6(at, paired);
        *at++ = '\n';
        advance(out, static_cast<std::size_t>(at - line));
        ++lines_out;
        if (!chosen) {
            if (none.count == 0)
                none = {0, group_line, lines_out};
            ++none.count;
        }
        low = kSentinel;
        position = 1;
        chosen = false;
    }
    close_reader(in);
    if (r.stop == Stop::error)
        return fail(kInput, r.err);
    if (!close_sink(out))
        return fail(kOutput, out.err);

    warn_stop(in, r, kNumbers);
    warn_misfit(in, r, kNumbers);
    if (position > 1)
        warnx("%s: line %lld: this record has no partner; it was ignored", kInput, group_line);
    if (none.count)
        warnx("%s: line %lld: %lld pair%s without a first value of %g or less, the first "
              "from this line (line %lld of %s); each was written as %f with the second "
              "value of an earlier pair",
              kInput, none.input_line, none.count, none.count == 1 ? "" : "s", kSentinel,
              none.output_line, kOutput, kSentinel);
    return 0;
}

}  // namespace pairlow
