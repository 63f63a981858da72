#include "lexer.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "bad.h"

namespace foam {

namespace {

// OpenFOAM's longest word and string, in characters.
constexpr std::size_t kWordMax = 1023;

bool is_punct(char c)
{
    switch (c) {
    case ';': case '(': case ')': case '[': case ']': case '{': case '}':
    case ':': case ',': case '=': case '+': case '*': case '/':
        return true;
    default:
        return false;
    }
}

// word::valid of OpenFOAM
bool is_word_char(char c)
{
    return !is_space(c) && c != '"' && c != '\'' && c != '/' && c != ';' && c != '{' &&
           c != '}' && c != 0;
}

// The end of the word at p: word characters, with "(...)" inside it kept
// whole and a ')' without its '(' ending it.
const char *word_end(const Cursor &c, const char *p)
{
    const char *q = p;
    int depth = 0;
    for (; is_word_char(*q) && q < c.text->end(); ++q) {
        if (*q == '(') {
            ++depth;
        } else if (*q == ')') {
            if (depth == 0)
                break;
            --depth;
        }
    }
    if (static_cast<std::size_t>(q - p) > kWordMax)
        c.fail(p, "a word longer than 1023 characters");
    return q;
}

std::string shown(std::string_view s)
{
    constexpr std::size_t kShown = 40;
    if (s.size() > kShown)
        return std::string(s.substr(0, kShown)) + "...";
    return std::string(s);
}

[[noreturn]] void fail_number(const Cursor &c, const char *at, const Converted &n)
{
    std::string tok = shown(std::string_view(at, static_cast<std::size_t>(n.end - at)));
    switch (n.status) {
    case Conv::too_long:
        c.fail(at, "the number '" + tok + "' is longer than 127 characters");
    case Conv::out_of_range:
        c.fail(at, "the number '" + tok + "' is out of range (" +
                       (reading().one_rounding ? "beyond the largest double, infinite"
                                               : "above 1e300 in size") + ")");
    default:
        c.fail(at, "'" + tok + "' is not a number");
    }
}

}  // namespace

void Cursor::fail(const char *at, const std::string &why) const
{
    throw Bad(text->name + ": line " + std::to_string(line_of(*text, at)) + ": " + why);
}

void skip_space_and_comments(Cursor &c)
{
    const char *end = c.text->end();
    for (;;) {
        while (is_space(*c.p))
            ++c.p;
        if (c.p[0] != '/' || c.p >= end)
            return;
        if (c.p[1] == '/') {
            const void *nl = std::memchr(c.p, '\n', static_cast<std::size_t>(end - c.p));
            c.p = nl ? static_cast<const char *>(nl) + 1 : end;
        } else if (c.p[1] == '*') {
            const char *start = c.p;
            const char *q = c.p + 2;
            for (;;) {
                q = static_cast<const char *>(
                    std::memchr(q, '*', static_cast<std::size_t>(end - q)));
                if (!q)
                    c.fail(start, "a comment /* ... is not closed");
                if (q[1] == '/')
                    break;
                ++q;
            }
            c.p = q + 2;
        } else {
            return;  // a lone '/'
        }
    }
}

Token next_token(Cursor &c)
{
    skip_space(c);
    Token t{};
    t.at = c.p;
    if (c.at_end()) {
        t.kind = Tok::end;
        return t;
    }
    char ch = *c.p;
    if (ch == 0)
        c.fail("a NUL byte in the text");
    if (is_punct(ch)) {
        t.kind = Tok::punct;
        t.punct = ch;
        ++c.p;
        return t;
    }
    if (starts_number(ch)) {
        if (ch == '-' && !is_number_char(c.p[1])) {
            t.kind = Tok::punct;
            t.punct = '-';
            ++c.p;
            return t;
        }
        t.kind = Tok::number;
        t.num = convert_number(c.p);
        if (t.num.status != Conv::ok)
            fail_number(c, c.p, t.num);
        c.p = t.num.end;
        return t;
    }
    if (ch == '"') {
        const char *q = c.p + 1;
        bool escaped = false;
        for (;; ++q) {
            if (q >= c.text->end())
                c.fail(t.at, "a string \"... is not closed");
            if (*q == '"' && !escaped)
                break;
            if (*q == '\n' && !escaped)
                c.fail(t.at, "a string \"... runs past the end of its line");
            escaped = *q == '\\' && !escaped;
        }
        if (static_cast<std::size_t>(q - c.p - 1) > kWordMax)
            c.fail(t.at, "a string longer than 1023 characters");
        t.kind = Tok::string;
        t.text = std::string_view(c.p + 1, static_cast<std::size_t>(q - c.p - 1));
        c.p = q + 1;
        return t;
    }
    if (ch == '#' && c.p[1] == '{') {
        const char *q = c.p + 2;
        while (q < c.text->end() && !(q[0] == '#' && q[1] == '}'))
            ++q;
        if (q >= c.text->end())
            c.fail(t.at, "a verbatim text #{ ... is not closed");
        t.kind = Tok::directive;
        t.text = std::string_view(c.p, static_cast<std::size_t>(q + 2 - c.p));
        c.p = q + 2;
        return t;
    }
    if (ch == '$' && c.p[1] == '{') {
        const char *q = static_cast<const char *>(
            std::memchr(c.p, '}', static_cast<std::size_t>(c.text->end() - c.p)));
        t.kind = Tok::variable;
        c.p = q ? q + 1 : c.text->end();
        t.text = std::string_view(t.at, static_cast<std::size_t>(c.p - t.at));
        return t;
    }
    const char *end = word_end(c, c.p + 1);
    t.kind = ch == '#' ? Tok::directive : ch == '$' ? Tok::variable : Tok::word;
    t.text = std::string_view(c.p, static_cast<std::size_t>(end - c.p));
    c.p = end;
    return t;
}

Token next_keyword(Cursor &c)
{
    Token t = next_token(c);
    while (t.is(';'))
        t = next_token(c);
    return t;
}

Token peek_token(const Cursor &c)
{
    Cursor copy = c;
    return next_token(copy);
}

std::string describe(const Token &t)
{
    // appended piece by piece: g++ 12 mistakes "'" + s + "'" for an overlapping copy
    auto quoted = [](std::string_view body, char q) {
        std::string s(1, q);
        s.append(body);
        s.push_back(q);
        return s;
    };
    switch (t.kind) {
    case Tok::end:
        return "the end of the file";
    case Tok::punct:
        return quoted(std::string_view(&t.punct, 1), '\'');
    case Tok::number:
        return quoted(shown(std::string_view(t.at, static_cast<std::size_t>(t.num.end - t.at))),
                      '\'');
    case Tok::string:
        return quoted(shown(t.text), '"');
    default:
        return quoted(shown(t.text), '\'');
    }
}

void expect(Cursor &c, char ch, const char *what)
{
    skip_space(c);
    if (*c.p == ch && !c.at_end()) {
        ++c.p;
        return;
    }
    Token t = next_token(c);
    c.fail(t.at, std::string("expected '") + ch + "' " + what + ", found " + describe(t));
}

label read_label_slow(Cursor &c, const char *what, std::int64_t lo, std::int64_t hi)
{
    skip_space(c);
    const char *at = c.p;
    Token t = next_token(c);
    if (t.kind != Tok::number || !t.num.is_label)
        c.fail(at, std::string("expected ") + what + " (a label), found " + describe(t));
    if (t.num.label < lo || t.num.label > hi)
        c.fail(at, std::string(what) + " " + std::to_string(t.num.label) +
                       " is out of range [" + std::to_string(lo) + ", " + std::to_string(hi) +
                       "]");
    return t.num.label;
}

double read_scalar(Cursor &c, const char *what)
{
    skip_space(c);
    // a sign of its own before the number, where the release takes one:
    // the value is then 0 - the number
    char sign = 0;
    if (reading().sign_tokens && !c.at_end() &&
        (*c.p == '+' || (*c.p == '-' && !is_number_char(c.p[1])))) {
        sign = *c.p++;
        skip_space(c);
    }
    if (!c.at_end() && starts_number(*c.p) && is_number_char(c.p[c.p[0] == '-'])) {
        Converted n = convert_number(c.p);
        if (n.status != Conv::ok)
            fail_number(c, c.p, n);
        c.p = n.end;
        return sign == '-' ? 0.0 - n.value : n.value;
    }
    Token t = next_token(c);
    c.fail(t.at, std::string("expected ") + what + " (a number), found " + describe(t));
}

Vec read_vector(Cursor &c, const char *what)
{
    expect(c, '(', what);
    Vec v;
    v.x = read_scalar(c, what);
    v.y = read_scalar(c, what);
    v.z = read_scalar(c, what);
    expect(c, ')', "closing a vector");
    return v;
}

namespace {

// arch "LSB;label=32;scalar=64": the byte order and the sizes of binary
// labels and scalars. A size is taken as the text after "label=" or
// "scalar=", up to the next ';': "32" or "64", anything else refused as
// written.
void read_arch(const Cursor &c, const Token &value, Header &h)
{
    std::string arch(value.text);
    auto bits_of = [&](const char *key, const char *usual) {
        auto at = arch.find(key);
        if (at == std::string::npos)
            return std::string(usual);
        at += std::strlen(key);
        return arch.substr(at, arch.find(';', at) - at);
    };
    if (arch.find("MSB") != std::string::npos)
        c.fail(value.at, "arch \"" + arch + "\": big-endian binary files are not read; "
                         "convert the case with foamFormatConvert on its own machine");
    const std::string label = bits_of("label=", "32"), scalar = bits_of("scalar=", "64");
    if (label != "32" && label != "64")
        c.fail(value.at, "arch \"" + arch + "\": labels of " + label + " bits are not read");
    if (scalar != "64")
        c.fail(value.at, "arch \"" + arch + "\": written by an OpenFOAM built with " + scalar +
                             "-bit scalars; only 64-bit scalars are read (write the case in "
                             "ascii, or with a 64-bit-scalar build)");
    h.label_bytes = label == "64" ? 8 : 4;
    h.scalar_bytes = 8;
}

}  // namespace

Header read_header(Cursor &c)
{
    Token t = next_token(c);
    if (!t.is_word("FoamFile"))
        c.fail(t.at, "expected the header FoamFile { ... }, found " + describe(t));
    expect(c, '{', "after FoamFile");
    Header h;
    for (;;) {
        Token key = next_keyword(c);
        if (key.is('}'))
            break;
        if (key.kind != Tok::word)
            c.fail(key.at, "expected a keyword in the header, found " + describe(key));
        Token value = next_token(c);
        for (Token t = value; !t.is(';'); t = next_token(c))
            if (t.kind == Tok::end || t.is('{') || t.is('}'))
                c.fail(t.at, "expected ';' after the header's " + std::string(key.text) +
                                 ", found " + describe(t));
        if (key.text == "format") {
            if (value.is_word("ascii"))
                h.binary = false;
            else if (value.is_word("binary"))
                h.binary = true;
            else
                c.fail(value.at, "format " + describe(value) + ": expected ascii or binary");
        } else if (key.text == "class") {
            if (value.kind != Tok::word && value.kind != Tok::string)
                c.fail(value.at, "expected a class name, found " + describe(value));
            h.cls = std::string(value.text);
        } else if (key.text == "arch") {
            read_arch(c, value, h);
        }
    }
    return h;
}

namespace {

// The start of a list: its count (-1 when "(" comes without one) and the
// delimiter that opened it, '(' or '{'; for a binary list of fixed-size
// items, the count and, when it is not 0, the '(' before the raw bytes.
struct ListStart {
    std::int64_t count;
    char open;
    const char *at;
};

// raw_item: the bytes of an item of a binary list of fixed-size items,
// whose raw bytes follow the '('; 0 for a list of tokens. A binary list
// that the file cuts short is refused as such before its size is weighed
// against max_count.
ListStart read_list_start(Cursor &c, std::size_t raw_item, std::size_t max_count,
                          const char *what)
{
    const bool raw = raw_item > 0;
    skip_space(c);
    ListStart s{-1, 0, c.p};
    Token t = next_token(c);
    if (t.kind == Tok::number && t.num.is_label && t.num.label >= 0) {
        s.count = t.num.label;
        auto too_many = [&] {
            c.fail(t.at, "a list of " + std::to_string(s.count) + " items where at most " +
                             std::to_string(max_count) + " are expected");
        };
        if (!raw && static_cast<std::size_t>(s.count) > max_count)
            too_many();
        if (raw && s.count == 0)
            return s;
        skip_space(c);
        if (*c.p == '(' || (*c.p == '{' && !raw)) {
            s.open = *c.p++;
            if (raw && static_cast<std::size_t>(s.count) > bytes_left(c) / raw_item)
                c.fail(s.at, "the file ends after " + std::to_string(bytes_left(c) / raw_item) +
                                 " of the " + std::to_string(s.count) + " items of " + what);
            if (raw && static_cast<std::size_t>(s.count) > max_count)
                too_many();
            return s;
        }
        Token u = next_token(c);
        c.fail(u.at, std::string("expected '(' after the size of ") + what + ", found " +
                         describe(u));
    }
    if (t.is('(') && !raw) {
        s.open = '(';
        return s;
    }
    c.fail(t.at, std::string("expected ") + what + " (a size and '('), found " + describe(t));
}

}  // namespace

void fail_short_list(const Cursor &c, std::int64_t got, std::int64_t count)
{
    c.fail("the list ends after " + std::to_string(got) + " of its " + std::to_string(count) +
           " items");
}

namespace {

void close_list(Cursor &c, const ListStart &s, const char *what)
{
    skip_space(c);
    char want = s.open == '{' ? '}' : ')';
    if (*c.p == want && !c.at_end()) {
        ++c.p;
        return;
    }
    Token t = next_token(c);
    if (s.count >= 0)
        c.fail(t.at, std::string("expected '") + want + "' closing " + what + " of " +
                         std::to_string(s.count) + " items, found " + describe(t));
    c.fail(t.at, std::string("expected '") + want + "' closing " + what + ", found " +
                     describe(t));
}

// Reads a list item by item: "N (items)", "N {item}" or "(items)".
template <class T, class ReadItem>
void read_items(Cursor &c, const ListStart &s, std::size_t max_count, std::vector<T> &out,
                ReadItem item, const char *what)
{
    if (s.open == '{') {
        T v = item(c);
        out.insert(out.end(), static_cast<std::size_t>(s.count), v);
    } else if (s.count >= 0) {
        for (std::int64_t i = 0; i < s.count; ++i) {
            if (list_ends(c))
                fail_short_list(c, i, s.count);
            out.push_back(item(c));
        }
    } else {
        for (std::size_t n = 0; !list_ends(c); ++n) {
            if (n == max_count)
                c.fail(std::string(what) + " of more than " + std::to_string(max_count) +
                       " items");
            out.push_back(item(c));
        }
    }
    close_list(c, s, what);
}

void check_raw_labels(const Cursor &c, const ListStart &s, const char *raw, std::size_t n,
                      int bytes, const LabelRange &range, label *out)
{
    // the usual 32-bit labels are copied whole and checked in one sweep
    // that the compiler vectorises; the first one out of range is then found
    if (bytes == 4) {
        std::memcpy(out, raw, n * sizeof(label));
        label lo = static_cast<label>(std::max<std::int64_t>(range.lo, INT32_MIN));
        label hi = static_cast<label>(std::min<std::int64_t>(range.hi, INT32_MAX));
        bool bad = false;
        for (std::size_t i = 0; i < n; ++i)
            bad |= out[i] < lo || out[i] > hi;
        if (!bad)
            return;
    }
    for (std::size_t i = 0; i < n; ++i) {
        std::int64_t v = raw_label(raw + i * static_cast<std::size_t>(bytes), bytes);
        if (v < range.lo || v > range.hi)
            c.fail(s.at, std::string(range.what) + " " + std::to_string(v) + " (item " +
                             std::to_string(i) + ") is out of range [" +
                             std::to_string(range.lo) + ", " + std::to_string(range.hi) + "]");
        out[i] = static_cast<label>(v);
    }
}

}  // namespace

std::int64_t raw_label(const char *p, int bytes)
{
    if (bytes == 4) {
        std::int32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
    std::int64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

const char *read_raw_block(Cursor &c, std::size_t bytes)
{
    const char *start = c.p;
    if (static_cast<std::size_t>(c.text->end() - start) < bytes)
        c.fail(start, "the binary data ends early: " + std::to_string(bytes) +
                          " bytes expected, " + std::to_string(c.text->end() - start) +
                          " left");
    c.p += bytes;
    return start;
}

// Room for the items of a list: no more than the text can hold, one item
// taking at least two bytes.
template <class V>
void reserve_items(Cursor &c, const ListStart &s, V &out)
{
    if (s.count > 0 && s.open == '(')
        reserve_huge(out, out.size() + std::min(static_cast<std::size_t>(s.count),
                                                 bytes_left(c) / 2 + 1));
}

void read_labels_into(Cursor &c, const Header &h, const LabelRange &range, std::size_t max_count,
                      std::vector<label> &out, const char *what)
{
    ListStart s = read_list_start(
        c, h.binary ? static_cast<std::size_t>(h.label_bytes) : 0, max_count, what);
    if (h.binary) {
        if (s.count == 0)
            return;
        auto n = static_cast<std::size_t>(s.count);
        const char *raw = read_raw_block(c, n * static_cast<std::size_t>(h.label_bytes));
        std::size_t at = out.size();
        reserve_huge(out, at + n);
        out.resize(at + n);
        check_raw_labels(c, s, raw, n, h.label_bytes, range, out.data() + at);
        close_list(c, s, what);
        return;
    }
    reserve_items(c, s, out);
    read_items(c, s, max_count, out,
               [&](Cursor &k) { return read_label(k, range.what, range.lo, range.hi); }, what);
}

std::vector<label> read_label_list(Cursor &c, const Header &h, const LabelRange &range,
                                   std::size_t max_count)
{
    std::vector<label> out;
    read_labels_into(c, h, range, max_count, out, "a list of labels");
    return out;
}

namespace {

// A list of items of fixed size, which binary files hold as raw bytes.
template <class T, class ReadItem>
std::vector<T> read_fixed_list(Cursor &c, const Header &h, std::size_t max_count, ReadItem item,
                               const char *what)
{
    std::vector<T> out;
    ListStart s = read_list_start(c, h.binary ? sizeof(T) : 0, max_count, what);
    if (h.binary) {
        if (s.count == 0)
            return out;
        // the bytes are there before room is made for them
        auto n = static_cast<std::size_t>(s.count);
        const char *raw = read_raw_block(c, n * sizeof(T));
        reserve_huge(out, n);
        out.resize(n);
        std::memcpy(out.data(), raw, n * sizeof(T));
        close_list(c, s, what);
        return out;
    }
    reserve_items(c, s, out);
    read_items(c, s, max_count, out, item, what);
    return out;
}

}  // namespace

std::vector<Vec> read_vector_list(Cursor &c, const Header &h, std::size_t max_count)
{
    return read_fixed_list<Vec>(
        c, h, max_count, [](Cursor &k) { return read_vector(k, "a point"); }, "a list of vectors");
}

std::vector<double> read_scalar_list(Cursor &c, const Header &h, std::size_t max_count)
{
    return read_fixed_list<double>(
        c, h, max_count, [](Cursor &k) { return read_scalar(k, "a value"); }, "a list of numbers");
}

std::vector<double> read_tuple_list(Cursor &c, const Header &h, std::size_t n,
                                    std::size_t max_count)
{
    const char *what = "a list of values";
    std::vector<double> out;
    ListStart s = read_list_start(c, h.binary ? n * sizeof(double) : 0, max_count, what);
    if (h.binary) {
        if (s.count == 0)
            return out;
        auto items = static_cast<std::size_t>(s.count);
        const char *raw = read_raw_block(c, items * n * sizeof(double));
        reserve_huge(out, items * n);
        out.resize(items * n);
        std::memcpy(out.data(), raw, items * n * sizeof(double));
        close_list(c, s, what);
        return out;
    }
    auto tuple = [&](Cursor &k) {
        expect(k, '(', "opening a value");
        for (std::size_t i = 0; i < n; ++i)
            out.push_back(read_scalar(k, "a value"));
        expect(k, ')', "closing a value");
    };
    if (s.open == '{') {
        tuple(c);
        const std::vector<double> one = out;
        out.clear();
        for (std::int64_t i = 0; i < s.count; ++i)
            out.insert(out.end(), one.begin(), one.end());
    } else if (s.count >= 0) {
        reserve_huge(out, std::min(static_cast<std::size_t>(s.count), bytes_left(c) / 2 + 1) * n);
        for (std::int64_t i = 0; i < s.count; ++i) {
            if (list_ends(c))
                fail_short_list(c, i, s.count);
            tuple(c);
        }
    } else {
        for (std::size_t i = 0; !list_ends(c); ++i) {
            if (i == max_count)
                c.fail(std::string(what) + " of more than " + std::to_string(max_count) + " items");
            tuple(c);
        }
    }
    close_list(c, s, what);
    return out;
}

void expect_end(Cursor &c)
{
    Token t = next_token(c);
    if (t.kind != Tok::end)
        c.fail(t.at, "unexpected " + describe(t) + " after the data");
}

}  // namespace foam
