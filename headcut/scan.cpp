#include "scan.h"

#include <cstring>

namespace headcut {

// The column counter starts at 1 and restarts at 0 after every newline, and
// a byte is used only while the counter, raised for it, stays within the
// limit: so the first line holds at most kFirstLineMax bytes before its
// newline and every later line kLineMax. A byte that would trip the limit
// stops the scan unread; so does the end of the input, whose reads count
// like bytes.
Scan scan(textio::Reader &r, textio::Sink *out, int total)
{
    int lines = 0, column = 1;
    for (;;) {
        textio::Bytes b = textio::peek(r);
        if (lines > kLineCap)
            return {lines, b.size ? ScanEnd::cap : ScanEnd::clean, 0};
        if (b.size == 0) {
            if (b.err)
                return {lines, ScanEnd::error, b.err};
            bool bytes = column > (lines == 0 ? 1 : 0);
            return {lines, bytes ? ScanEnd::partial : ScanEnd::clean, 0};
        }
        int budget = kColumnLimit - column;
        if (budget == 0)
            return {lines, ScanEnd::long_line, 0};
        const char *p = reinterpret_cast<const char *>(b.data);
        std::size_t n = b.size < static_cast<std::size_t>(budget) ? b.size
                                                                   : static_cast<std::size_t>(budget);
        const char *nl = static_cast<const char *>(std::memchr(p, '\n', n));
        if (nl)
            n = static_cast<std::size_t>(nl - p) + 1;
        if (out && lines >= kHeaderLines && lines < total)
            textio::put(*out, p, n);
        textio::consume(r, n);
        if (nl) {
            ++lines;
            column = 0;
        } else {
            column += static_cast<int>(n);
        }
    }
}

}  // namespace headcut
