#include "scan.h"

#include <cstring>

namespace headcut {

// The column counter starts at 1 and restarts at 0 after every newline, and
// a byte is used only while the counter, raised for it, stays within the
// limit: so the first line holds at most 97 bytes before its newline and
// every later line 98. A byte that would trip the limit stops the scan
// unread; so does the end of the input, whose reads count like bytes.
Scan scan(textio::Reader &r, textio::Sink *out, int total)
{
    int lines = 0, column = 1;
    for (;;) {
        if (lines > kLineCap)
            return {lines, textio::fill(r) ? ScanEnd::cap : ScanEnd::clean};
        if (!textio::fill(r)) {
            if (r.err)
                return {lines, ScanEnd::error};
            bool bytes = column > (lines == 0 ? 1 : 0);
            return {lines, bytes ? ScanEnd::partial : ScanEnd::clean};
        }
        int budget = kColumnLimit - column;
        if (budget == 0)
            return {lines, ScanEnd::long_line};
        const char *p = reinterpret_cast<const char *>(r.buf + r.pos);
        std::size_t n = r.len - r.pos;
        if (n > static_cast<std::size_t>(budget))
            n = static_cast<std::size_t>(budget);
        const char *nl = static_cast<const char *>(std::memchr(p, '\n', n));
        if (nl)
            n = static_cast<std::size_t>(nl - p) + 1;
        if (out && lines >= kHeaderLines && lines < total)
            textio::put(*out, p, n);
        r.pos += n;
        if (nl) {
            ++lines;
            column = 0;
        } else {
            column += static_cast<int>(n);
        }
    }
}

}  // namespace headcut
