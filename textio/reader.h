// Streaming input with a fixed buffer: the byte source of every program and
// the numeric record reader, which reads numbers exactly as the C library's
// "%lf" conversion does (the same numbers converted, the same values bit for
// bit, the same place where reading stops) in constant memory.
#pragma once

#include <cstddef>
#include <cstdio>

namespace textio {

constexpr std::size_t kReadBuf = 1 << 16;
// Bytes kept ahead of the read position while numbers are read, so that any
// ordinary number lies whole in the buffer; longer ones stream.
constexpr std::size_t kLookahead = 4096;

// Why the last read_record call returned fewer numbers than asked.
enum class Stop {
    none,        // the record was complete
    end,         // end of the input, after white space only
    not_number,  // a word that does not convert as a number
    error,       // the input could not be read (Reader::err)
};

struct Reader {
    std::FILE *f;
    const char *path;
    std::size_t pos, len;  // unread bytes are buf[pos, len)
    long long base;        // offset in the input of buf[0]
    bool at_eof;           // nothing more comes from f
    int err;               // errno of a failed read, or 0
    long long line;        // 1-based line of buf[pos]
    Stop stop;             // set by read_record
    int got;               // numbers of the incomplete record before the stop
    long long rec_line;    // line of the first number of the last record
    long long stop_line;   // line of the failing word, or of the incomplete
                           // record's first number at the end of the input
    unsigned char buf[kReadBuf + 1];
};

// Opens path for reading; false with errno set when it cannot be opened.
bool open_reader(Reader &r, const char *path);
// Reads from an open stream f, named `name` in diagnostics.
void attach_reader(Reader &r, std::FILE *f, const char *name);
void close_reader(Reader &r);

// Makes at least one unread byte available; false at the end of the input
// or on a read error (then r.err is set).
bool fill(Reader &r);

// Reads one record of n numbers, as fscanf with n "%lf" conversions
// separated by white space would: returns how many numbers converted, and
// sets r.stop (none when all n did).
int read_record(Reader &r, double *v, int n);

// Warns in one line where reading r (records of n numbers) stopped before
// the end and what was ignored, adding `more` (or nullptr) after "; ". Says
// nothing when the input ended after whole records and more is nullptr.
void warn_stop(const Reader &r, int n, const char *more);

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
