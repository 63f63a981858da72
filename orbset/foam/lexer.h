// Reading OpenFOAM's text format: white space and comments, the tokens of
// its tokenizer (punctuation, words, strings, numbers, directives and
// variables), the FoamFile header, and the lists of the files' data, in
// ascii and in binary. Every failure throws Bad naming the file and line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "digits.h"
#include "mesh.h"
#include "scalar.h"
#include "text.h"

namespace foam {

struct Cursor {
    const Text *text;
    const char *p;

    explicit Cursor(const Text &t) : text(&t), p(t.begin()) {}
    bool at_end() const { return p >= text->end(); }
    // Throws Bad: "<file>: line <line of at>: <why>".
    [[noreturn]] void fail(const char *at, const std::string &why) const;
    [[noreturn]] void fail(const std::string &why) const { fail(p, why); }
};

inline bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

void skip_space_and_comments(Cursor &c);

// Moves to the next token: past white space and comments.
inline void skip_space(Cursor &c)
{
    while (is_space(*c.p))
        ++c.p;
    if (*c.p == '/')
        skip_space_and_comments(c);
}

enum class Tok {
    end,        // no more tokens
    punct,      // one of ; ( ) [ ] { } : , = + * / and a lone -
    word,       // text: the word
    string,     // text: between the quotes, escapes kept
    number,     // num
    directive,  // text: "#include", "#{ ... #}", ...
    variable,   // text: "$name", "${...}"
};

struct Token {
    Tok kind;
    const char *at;         // where it starts
    std::string_view text;  // word, string, directive or variable
    char punct;             // punctuation
    Converted num;          // number

    bool is(char c) const { return kind == Tok::punct && punct == c; }
    bool is_word(std::string_view w) const { return kind == Tok::word && text == w; }
};

Token next_token(Cursor &c);
Token peek_token(const Cursor &c);
// The next token where a dictionary expects a keyword: a stray ';' there
// is skipped, as OpenFOAM skips it.
Token next_keyword(Cursor &c);

// How a token is shown in a diagnostic: "'word'", "'('", "the end of the file".
std::string describe(const Token &t);

// Expects the punctuation ch as the next token.
void expect(Cursor &c, char ch, const char *what);

// Reads the next token as a label within [lo, hi]; `what` names it.
label read_label_slow(Cursor &c, const char *what, std::int64_t lo, std::int64_t hi);
inline label read_label(Cursor &c, const char *what, std::int64_t lo, std::int64_t hi)
{
    skip_space(c);
    // the usual label: up to 7 digits, no sign, within the range
    int n = leading_digits(load8(c.p));
    if (n == 0 || n == 8 || is_number_char(c.p[n]))
        return read_label_slow(c, what, lo, hi);
    std::int64_t v = digits_value(load8(c.p), n);
    if (v < lo || v > hi)
        return read_label_slow(c, what, lo, hi);
    c.p += n;
    return static_cast<label>(v);
}

// Reads the next token as a scalar, as OpenFOAM reads one.
double read_scalar(Cursor &c, const char *what);
// (x y z)
Vec read_vector(Cursor &c, const char *what);

// The FoamFile header at the start of every file.
struct Header {
    bool binary = false;
    std::string cls;        // its class, e.g. faceList, volScalarField
    int label_bytes = 4;    // of binary labels, from arch
    int scalar_bytes = 8;
};
// Reads the header; refused when missing, or when the file's arch is one
// that is not read here (big-endian, 32-bit scalars).
Header read_header(Cursor &c);

// How a list of labels is checked while it is read: every label in
// [lo, hi], else `what` and the label go into the message.
struct LabelRange {
    std::int64_t lo, hi;
    const char *what;
};

// The bytes of the text after the cursor: a bound on the items of a list
// that holds them one by one.
inline std::size_t bytes_left(const Cursor &c)
{
    return static_cast<std::size_t>(c.text->end() - c.p);
}

// The lists of the files. Each reads "N (items)", "N {item}" or, in ascii,
// "(items)", in the format the header gives; a list of more than max_count
// items is refused before room is made for them.
// Appends the labels of one list to out.
void read_labels_into(Cursor &c, const Header &h, const LabelRange &range, std::size_t max_count,
                      std::vector<label> &out, const char *what);
std::vector<label> read_label_list(Cursor &c, const Header &h, const LabelRange &range,
                                   std::size_t max_count);
std::vector<Vec> read_vector_list(Cursor &c, const Header &h, std::size_t max_count);
std::vector<double> read_scalar_list(Cursor &c, const Header &h, std::size_t max_count);
// A list of items of n scalars each, "(a b c)" in ascii (a vector, a
// tensor, ...), their components back to back.
std::vector<double> read_tuple_list(Cursor &c, const Header &h, std::size_t n,
                                    std::size_t max_count);

// True at the ')' that closes a list, or at the end of the text.
inline bool list_ends(Cursor &c)
{
    skip_space(c);
    return *c.p == ')' || c.at_end();
}
// A list that ends before its size says: "the list ends after 3 of its 4 items".
[[noreturn]] void fail_short_list(const Cursor &c, std::int64_t got, std::int64_t count);

// Raw bytes in a binary list: "(" bytes ")" after its count.
const char *read_raw_block(Cursor &c, std::size_t bytes);

// A binary label of `bytes` (4 or 8) bytes at p, little-endian.
std::int64_t raw_label(const char *p, int bytes);

// Expects the end of the file: nothing but white space and comments.
void expect_end(Cursor &c);

}  // namespace foam
