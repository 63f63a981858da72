// The scanning rule of the dump trimmer: lines are counted while each one
// fits the column limit and the line cap holds; the first scan counts, the
// second copies every line from the 19th up to the count.
#pragma once

#include "reader.h"
#include "writer.h"

namespace headcut {

constexpr int kColumnLimit = 99;
constexpr int kLineCap = 200000;
constexpr int kHeaderLines = 18;
// The longest lines the rule lets through, newline not counted: the column
// counter starts at 1 on the first line and at 0 after every newline, and
// the newline itself must stay within the limit.
constexpr int kFirstLineMax = kColumnLimit - 2;
constexpr int kLineMax = kColumnLimit - 1;

enum class ScanEnd {
    clean,      // the input ended after a newline (or was empty)
    partial,    // the last line has no newline
    long_line,  // a line is longer than the column limit allows
    cap,        // more lines follow the line cap
    error,      // the input could not be read
};

struct Scan {
    int lines;    // newlines counted: the line counter when the scan stopped
    ScanEnd end;
    int err;      // errno of a read error, else 0
};

// Runs the scanning rule over r. With out, the bytes of the lines whose
// zero-based index lies from kHeaderLines to total - 1 are copied to it.
Scan scan(textio::Reader &r, textio::Sink *out, int total);

}  // namespace headcut

namespace headcut {

// The first scan: counts the lines.
inline Scan count_lines(textio::Reader &r) { return scan(r, nullptr, 0); }

// The second scan: copies the lines after the header, up to the count.
inline Scan copy_lines(textio::Reader &r, textio::Sink &out, int total)
{
    return scan(r, &out, total);
}

}  // namespace headcut
