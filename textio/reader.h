// Streaming input with a fixed buffer: the byte source of every program and
// the numeric record reader, which reads numbers exactly as the C library's
// "%lf" conversion does (the same numbers converted, the same values bit for
// bit, the same place where reading stops) in constant memory.
#pragma once

#include <cstddef>

namespace textio {

constexpr std::size_t kReadBuf = 1 << 16;
// Bytes kept ahead of the read position while numbers are read, so that any
// ordinary number lies whole in the buffer; longer ones stream.
constexpr std::size_t kLookahead = 4096;
// Readable bytes past the end of the buffered input: the first is always
// the sentinel, so that scanning a number needs no bounds checks, and the
// rest let the reader look at 64 bytes, and eight more, at once.
constexpr std::size_t kPad = 64 + 16;
constexpr unsigned char kSentinel = 0;

// Why a record has fewer numbers than asked.
enum class Stop {
    none,        // the record is complete
    end,         // end of the input
    not_number,  // a word that does not convert as a number
    error,       // the input could not be read
};

// The whole outcome of reading one record.
struct Record {
    int got;         // numbers converted; all of them when stop is none
    Stop stop;
    long long line;  // the line of the record's first number; for a word
                     // that is not a number, the line of that word
    int err;         // errno of a read error, else 0
};

// A line holding some numbers, but not one record's worth: records are read
// across lines, so such a line shifts every later record.
struct Misfit {
    long long line;  // 0 when every line held none or one record's worth
    int numbers;     // how many numbers the line holds
};

struct Reader {
    int fd;
    const char *path;
    std::size_t pos, len;   // unread bytes are buf[pos, len)
    long long base;         // offset in the input of buf[0]
    bool at_eof;            // nothing more comes from fd
    int err;                // errno of a failed read, or 0
    long long line;         // 1-based line of buf[pos]
    long long fit_line;     // the line of the last number read
    int fit_numbers;        // numbers read on fit_line so far
    Misfit misfit;          // the first line left with a misfit count
    unsigned char buf[kReadBuf + kPad];
};

// Opens path for reading; false with errno set when it cannot be opened.
bool open_reader(Reader &r, const char *path);
// Reads from descriptor fd, named `name` in diagnostics.
void attach_reader(Reader &r, int fd, const char *name);
void close_reader(Reader &r);
// Reads the n bytes at p (at most kReadBuf are taken), named `name` in
// diagnostics, as a whole input.
void attach_bytes(Reader &r, const unsigned char *p, std::size_t n, const char *name);

// The unread bytes of the input, read anew when none are left: empty at
// the end of the input, or on a read error (err set).
struct Bytes {
    const unsigned char *data;
    std::size_t size;
    int err;
};
Bytes peek(Reader &r);
// Takes n bytes of those peek() gave.
inline void consume(Reader &r, std::size_t n) { r.pos += n; }

// Reads one record of n numbers, as fscanf with n "%lf" conversions
// separated by white space would.
Record read_record(Reader &r, double *v, int n);

// What a counting pass saw: how many numbers convert before reading stops,
// and why it stopped.
struct Count {
    long long numbers;
    Stop stop;  // end, not_number or error
    int err;    // errno of a read error, else 0
};

// Reads the rest of the input as read_record would, without the values and
// without following lines, and counts the numbers: records of n numbers
// are numbers / n of them. Much cheaper than read_record.
Count count_numbers(Reader &r);

// The first line that held numbers, but not n of them, among the lines
// read so far (the line of the last number included).
Misfit first_misfit(const Reader &r, int n);

// Warns in one line when reading, in records of n numbers, ended before
// the end of the input or inside a record; `last` is the record that ended
// it. Says nothing when the input ended after whole records.
void warn_stop(const Reader &r, const Record &last, int n);

// Warns in one line about the first misfit line of r, if any, unless it is
// the line where warn_stop(r, last, n) says reading ended.
void warn_misfit(const Reader &r, const Record &last, int n);

// The exact path on its own: reads one number at the position of r (white
// space is not skipped) one byte at a time, as "%lf" does; false when it
// does not convert, with the bytes "%lf" would have taken consumed. The
// programs reach it through read_record and count_numbers, where the
// faster ways of number.h cannot decide; the tests call it alone.
bool exact_number(Reader &r, double *out);

// Offset in the input of the next unread byte.
inline long long offset(const Reader &r)
{
    return r.base + static_cast<long long>(r.pos);
}

// The white space of the C locale, as isspace() tells it.
inline bool is_space(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace textio
