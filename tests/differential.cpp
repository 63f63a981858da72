#include "differential.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "number.h"
#include "oracle.h"

namespace differential {

namespace {

// The reader lives outside the stack: it holds a buffer of 64 KiB.
textio::Reader reader;
textio::Sink sink;

// The sentinel, then digits: what the reader's buffer holds past its bytes
// may be anything left from earlier, and no way of reading may take it.
void pad(unsigned char *p)
{
    p[0] = textio::kSentinel;
    std::memset(p + 1, '9', textio::kPad - 1);
}

Number number(double d, long long end)
{
    Number n{0, end};
    std::memcpy(&n.bits, &d, sizeof d);
    return n;
}

// A reading as text: the numbers as "value@end", then how it stopped; with
// `values` false only how many.
std::string text(const Numbers &n, bool values)
{
    std::string s;
    for (const Number &x : n.list) {
        char b[64];
        double d;
        std::memcpy(&d, &x.bits, sizeof d);
        std::snprintf(b, sizeof b, "%a@%lld ", d, x.end);
        s += values ? b : "# ";
    }
    return s + (n.at_end ? "end" : "word");
}

// The first number, or "none".
std::string first(const Numbers &n)
{
    return n.list.empty() ? "none" : text({{n.list[0]}, true}, true);
}

// "" when the same, else both from a little before where they part.
std::string differ(const char *way, const std::string &got, const std::string &want)
{
    if (got == want)
        return "";
    std::size_t at = std::mismatch(got.begin(), got.end(), want.begin(), want.end()).first -
                     got.begin();
    std::size_t from = at < 40 ? 0 : at - 40;
    return std::string(way) + ": " + got.substr(from, 80) + "; libc: " + want.substr(from, 80);
}

std::string count_pass(const std::string &bytes, const Numbers &want)
{
    open_bytes(reader, bytes);
    textio::Count c = textio::count_numbers(reader);
    textio::close_reader(reader);
    Numbers got{std::vector<Number>(static_cast<std::size_t>(c.numbers)), c.stop == textio::Stop::end};
    return differ(textio::portable() ? "counting pass, portable" : "counting pass",
                  text(got, false), text(want, false));
}

std::string records(const std::string &bytes, const Numbers &want)
{
    open_bytes(reader, bytes);
    Numbers got{{}, false};
    double d;
    textio::Record r;
    while ((r = textio::read_record(reader, &d, 1)).got == 1)
        got.list.push_back(number(d, textio::offset(reader)));
    got.at_end = r.stop == textio::Stop::end;
    textio::close_reader(reader);
    return differ("read_record", text(got, true), text(want, true));
}

// The fast path needs a sentinel after the bytes and eight readable bytes
// after any byte, as the reader's buffer gives it.
std::string fast_path(const std::string &bytes, const Numbers &want)
{
    static std::vector<unsigned char> padded;
    padded.assign(bytes.begin(), bytes.end());
    padded.resize(bytes.size() + textio::kPad);
    pad(padded.data() + bytes.size());
    const unsigned char *p = padded.data(), *end;
    while (textio::is_space(*p) && p < padded.data() + bytes.size())
        ++p;
    double d;
    std::string diff;
    if ((end = textio::decimal_swar_clinger<true>(p, &d)))
        diff = differ("fast path", first({{number(d, end - padded.data())}, true}), first(want));
    if (diff.empty() && (end = textio::decimal_swar_clinger<false>(p, &d)))
        diff = differ("fast path, no value", std::to_string(end - padded.data()),
                      want.list.empty() ? "none" : std::to_string(want.list[0].end));
    return diff;
}

std::string exact_path(const std::string &bytes, const Numbers &want)
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
    double d;
    Numbers got{{}, true};
    if (textio::exact_number(reader, &d))
        got.list.push_back(number(d, textio::offset(reader)));
    textio::close_reader(reader);
    return differ("exact path", first(got), first(want));
}

// The first bytes, closed by a quote, with every byte outside printable
// ASCII as \xNN.
std::string show(const std::string &bytes)
{
    std::string o;
    for (unsigned char c : bytes.substr(0, 80)) {
        char b[8];
        std::snprintf(b, sizeof b, c >= 32 && c < 127 ? "%c" : "\\x%02x", c);
        o += b;
    }
    return bytes.size() > 80 ? o + "...\" (" + std::to_string(bytes.size()) + " bytes)" : o + "\"";
}

}  // namespace

void open_bytes(textio::Reader &r, const std::string &bytes)
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
        n.list.push_back(number(d, std::ftell(f)));
    std::fclose(f);
    for (std::size_t i = n.list.empty() ? 0 : n.list.back().end; i < bytes.size(); ++i)
        n.at_end = n.at_end && textio::is_space(static_cast<unsigned char>(bytes[i]));
    return n;
}

std::string check_paths(const std::string &bytes)
{
    Numbers want = by_libc(bytes);
    std::string diff = records(bytes, want);
    on_each_path([&] { diff += diff.empty() ? count_pass(bytes, want) : ""; });
    diff += diff.empty() ? fast_path(bytes, want) : "";
    diff += diff.empty() ? exact_path(bytes, want) : "";
    return diff.empty() ? "" : "input \"" + show(bytes) + ": " + diff;
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

}  // namespace differential
