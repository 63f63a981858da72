#include "reduce.h"

#include "diag.h"
#include "files.h"
#include "replace.h"

namespace pairlow {

using namespace textio;

namespace {

constexpr const char *kInput = "depth/depth.txt";
constexpr const char *kOutput = "depth/depth2.txt";
constexpr int kNumbers = 2;  // first and second column
constexpr int kGroup = 2;    // records per output line
constexpr double kSentinel = 1000.0;
// An output line, "%f %f\n", is written whole into the sink's room.
static_assert(2 * kFixed6Max + 2 + kSpill <= kPieceMax);

Reader in;
Replacement depth2;
Sink out;

// Pairs in which no first value was chosen: written as the sentinel with a
// second value left over from an earlier pair.
struct Placeholders {
    long long count;
    long long input_line;   // line of the first record of the first such pair
    long long output_line;  // its line in the output
    long long unpaired;     // the first ones, before any pair chose a value:
                            // written with 0.000000
};

void warn_placeholders(const Placeholders &p)
{
    const char *with = p.unpaired == 0 ? "with the second value of an earlier pair"
                       : p.unpaired == p.count
                           ? "with 0.000000, as no earlier pair had chosen a value"
                           : "with the second value of an earlier pair, or 0.000000 "
                             "before any pair had chosen one";
    warnx("%s: line %lld: %lld %s without a first value of %g or less, the first from this "
          "line (line %lld of %s); each was written as %f %s",
          kInput, p.input_line, p.count, noun(p.count, "pair", "pairs"), kSentinel,
          p.output_line, kOutput, kSentinel, with);
}

}  // namespace

int reduce()
{
    // It prints nothing: standard output onto depth2.txt loses nothing, but
    // onto depth.txt the shell has emptied the input.
    if (stdout_onto(kInput, "input"))
        return 1;
    if (!open_input_and_replacement(in, kInput, depth2, out, kOutput))
        return 1;

    // The paired value is never reset: a group that chooses nothing shows
    // the one left from the last group that did.
    double low = kSentinel, paired = 0.0, rec[kNumbers];
    int position = 1;
    bool chosen = false, any_chosen = false;
    long long group_line = 0, lines_out = 0;
    Placeholders none{0, 0, 0, 0};
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
                none = {0, group_line, lines_out, 0};
            ++none.count;
            none.unpaired += !any_chosen;
        }
        any_chosen = any_chosen || chosen;
        low = kSentinel;
        position = 1;
        chosen = false;
    }
    close_reader(in);
    if (r.stop == Stop::error) {
        abandon_replacement(depth2, out);
        return fail(kInput, r.err);
    }
    if (!commit_replacement(depth2, out))
        return 1;

    warn_stop(in, r, kNumbers);
    warn_misfit(in, r, kNumbers);
    if (position > 1)
        warnx("%s: line %lld: this record has no partner; it was ignored", kInput, group_line);
    if (none.count)
        warn_placeholders(none);
    return 0;
}

}  // namespace pairlow
