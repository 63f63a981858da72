#include "differential.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "number.h"
#include "oracle.h"

namespace differential {

using textio::Reader;
using textio::Stop;

namespace {

// The readers live outside the stack: each holds a buffer of 64 KiB.
Reader reader;
textio::Sink sink;

std::uint64_t bits(double d)
{
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}

// The sentinel, then digits: what the reader's buffer holds past its bytes
// may be anything left from earlier, and no way of reading may take it.
void pad(unsigned char *p)
{
    p[0] = textio::kSentinel;
    std::memset(p + 1, '9', textio::kPad - 1);
}

std::string number(std::size_t i, double d, long long end)
{
    char s[80];
    std::snprintf(s, sizeof s, "number %zu: %a ending at %lld", i, d, end);
    return s;
}

std::string number(std::size_t i, const Number &n)
{
    double d;
    std::memcpy(&d, &n.bits, sizeof d);
    return number(i, d, n.end);
}

// "" when `got` is the first number of want, or no number when there is none.
std::string first_number(const Numbers &want, bool ok, double d, long long end)
{
    if (!ok)
        return want.list.empty() ? "" : "none for libc's " + number(0, want.list[0]);
    if (want.list.empty())
        return number(0, d, end) + " where libc converts none";
    if (want.list[0].bits != bits(d) || want.list[0].end != end)
        return number(0, d, end) + " for libc's " + number(0, want.list[0]);
    return "";
}

Stop stop_of(const Numbers &want) { return want.at_end ? Stop::end : Stop::not_number; }

std::string check_count(const std::string &bytes, const Numbers &want)
{
    open_bytes(reader, bytes);
    textio::Count c = textio::count_numbers(reader);
    textio::close_reader(reader);
    if (c.numbers != static_cast<long long>(want.list.size()) || c.stop != stop_of(want))
        return "counting pass (" + std::string(textio::portable() ? "portable" : "machine's") +
               " path): " + std::to_string(c.numbers) + " numbers, stop " +
               std::to_string(static_cast<int>(c.stop)) + ", libc " +
               std::to_string(want.list.size());
    return "";
}

std::string check_records(const std::string &bytes, const Numbers &want)
{
    open_bytes(reader, bytes);
    std::string diff;
    for (std::size_t i = 0;; ++i) {
        double d = 0;
        textio::Record rec = textio::read_record(reader, &d, 1);
        long long end = textio::offset(reader);
        if (rec.got == 0) {
            if (i != want.list.size() || rec.stop != stop_of(want))
                diff = "read_record: stops after " + std::to_string(i) + " numbers, libc after " +
                       std::to_string(want.list.size());
            break;
        }
        if (i == want.list.size() || want.list[i].bits != bits(d) || want.list[i].end != end) {
            diff = "read_record: " + number(i, d, end) +
                   (i < want.list.size() ? " for libc's " + number(i, want.list[i]) : "");
            break;
        }
    }
    textio::close_reader(reader);
    return diff;
}

// The fast path needs a sentinel after the bytes and eight readable bytes
// after any byte, as the reader's buffer gives it.
std::string check_fast(const std::string &bytes, const Numbers &want)
{
    static std::vector<unsigned char> padded;
    padded.assign(bytes.begin(), bytes.end());
    padded.resize(bytes.size() + textio::kPad);
    pad(padded.data() + bytes.size());
    const unsigned char *p = padded.data();
    while (textio::is_space(*p) && p < padded.data() + bytes.size())
        ++p;
    double d = 0;
    if (const unsigned char *end = textio::decimal_swar_clinger<true>(p, &d))
        if (std::string diff = first_number(want, true, d, end - padded.data()); !diff.empty())
            return "fast path: " + diff;
    if (const unsigned char *end = textio::decimal_swar_clinger<false>(p, &d))
        if (want.list.empty() || want.list[0].end != end - padded.data())
            return "fast path without the value: ends at " +
                   std::to_string(end - padded.data());
    return "";
}

std::string check_exact(const std::string &bytes, const Numbers &want)
{
    open_bytes(reader, bytes);
    for (textio::Bytes b; (b = textio::peek(reader)).size;) {
        std::size_t k = 0;
        while (k < b.size && textio::is_space(b.data[k]))
            ++k;
        textio::consume(reader, k);
        if (k < b.size)
            break;
    }
    double d = 0;
    bool ok = textio::exact_number(reader, &d);
    std::string diff = first_number(want, ok, d, textio::offset(reader));
    textio::close_reader(reader);
    return diff.empty() ? "" : "exact path: " + diff;
}

}  // namespace

void open_bytes(Reader &r, const std::string &bytes)
{
    if (bytes.size() > textio::kReadBuf) {
        textio::attach_reader(r, oracle::bytes_fd(bytes), "memory");
        return;
    }
    textio::attach_reader(r, -1, "memory");
    std::memcpy(r.buf, bytes.data(), bytes.size());
    r.len = bytes.size();
    r.at_eof = true;
    pad(r.buf + r.len);
}

Numbers by_libc(const std::string &bytes)
{
    Numbers n{{}, true};
    FILE *f = oracle::read_bytes(bytes);
    for (double d; std::fscanf(f, "%lf", &d) == 1;)
        n.list.push_back({bits(d), std::ftell(f)});
    std::fclose(f);
    std::size_t from = n.list.empty() ? 0 : static_cast<std::size_t>(n.list.back().end);
    for (std::size_t i = from; i < bytes.size() && n.at_end; ++i)
        n.at_end = textio::is_space(static_cast<unsigned char>(bytes[i]));
    return n;
}

std::string check_paths(const std::string &bytes)
{
    Numbers want = by_libc(bytes);
    std::string diff = check_records(bytes, want);
    on_each_path([&] {
        if (diff.empty())
            diff = check_count(bytes, want);
    });
    if (diff.empty())
        diff = check_fast(bytes, want);
    if (diff.empty())
        diff = check_exact(bytes, want);
    return diff.empty() ? "" : "input \"" + show(bytes) + "\": " + diff;
}

Trim trim(const std::string &dump0)
{
    open_bytes(reader, dump0);
    headcut::Scan first = headcut::count_lines(reader);
    textio::close_reader(reader);
    headcut::Scan second{};
    std::string copy = oracle::captured([&](int fd) {
        textio::attach_sink(sink, fd, "dump.txt");
        open_bytes(reader, dump0);
        second = headcut::copy_lines(reader, sink, first.lines);
        textio::close_reader(reader);
        textio::close_sink(sink);
    });
    return {copy, first.lines, second.lines, first.end};
}

std::string show(const std::string &bytes)
{
    std::string o;
    for (unsigned char c : bytes)
        if (c >= 32 && c < 127) {
            o += static_cast<char>(c);
        } else {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02x", c);
            o += b;
        }
    return o;
}

}  // namespace differential
