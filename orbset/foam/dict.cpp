#include "dict.h"

#include <cstring>

namespace foam {

namespace {

// The bytes of one item of a binary List<T>, or 0 for a T that is not
// written as raw bytes.
std::size_t raw_item_bytes(std::string_view type, const Header &h)
{
    auto scalars = [&](std::size_t n) { return n * static_cast<std::size_t>(h.scalar_bytes); };
    if (type == "scalar" || type == "sphericalTensor")
        return scalars(1);
    if (type == "vector2D")
        return scalars(2);
    if (type == "vector")
        return scalars(3);
    if (type == "symmTensor")
        return scalars(6);
    if (type == "tensor")
        return scalars(9);
    if (type == "label")
        return static_cast<std::size_t>(h.label_bytes);
    if (type == "bool")
        return 1;
    return 0;
}

// After "List<T>" or "nonuniform" in a binary file: "N" and, when N > 0,
// "(" and N raw items and ")".
void skip_raw_list(Cursor &c, std::size_t item, const char *what)
{
    skip_space(c);
    if (!is_digit(*c.p))
        return;  // not a counted list: the tokens follow as they are
    label n = read_label(c, "the size of a list", 0, 2147483647);
    if (n == 0)
        return;
    expect(c, '(', what);
    read_raw_block(c, static_cast<std::size_t>(n) * item);
    expect(c, ')', what);
}

// A directive or variable, for whoever expands them; a verbatim text
// "#{ ... #}" is neither, only text, as OpenFOAM reads it.
void note(std::vector<Token> *specials, const Token &t)
{
    if (specials && (t.kind == Tok::variable ||
                     (t.kind == Tok::directive && !t.text.starts_with("#{"))))
        specials->push_back(t);
}

// Skips tokens up to the ';' (or, when in_dict, the '}') that ends the
// current level; returns where it is, consumed. As OpenFOAM's
// primitiveEntry, it balances '(' and '{' only: ']' is a word's character,
// so "[mm]" is '[' and the word "mm]".
const char *skip_to(Cursor &c, const Header &h, std::vector<Token> *specials, char stop)
{
    int depth = 0;
    for (;;) {
        Token t = next_token(c);
        note(specials, t);
        if (t.kind == Tok::end)
            c.fail(t.at, std::string("expected '") + stop + "', found the end of the file");
        if (h.binary && t.kind == Tok::word && t.text.starts_with("List<") &&
            t.text.ends_with(">")) {
            std::size_t item = raw_item_bytes(t.text.substr(5, t.text.size() - 6), h);
            if (item == 0)
                c.fail(t.at, "cannot read the binary " + std::string(t.text));
            skip_raw_list(c, item, "around binary data");
        } else if (h.binary && t.is_word("nonuniform")) {
            skip_raw_list(c, static_cast<std::size_t>(h.scalar_bytes), "around binary data");
        } else if (t.is('(') || t.is('{')) {
            ++depth;
        } else if (t.is(')') || t.is('}')) {
            if (depth == 0 && t.punct == stop)
                return t.at;
            if (--depth < 0)
                c.fail(t.at, "unexpected " + describe(t));
        } else if (depth == 0 && t.is(stop)) {
            return t.at;
        }
    }
}

}  // namespace

const char *skip_value(Cursor &c, const Header &h, std::vector<Token> *specials)
{
    return skip_to(c, h, specials, ';');
}

void skip_dict(Cursor &c, const Header &h, std::vector<Token> *specials)
{
    skip_to(c, h, specials, '}');
}

bool next_entry(Cursor &c, const Header &h, Entry &e)
{
    e.key = next_token(c);
    if (e.key.kind == Tok::end || e.key.is('}'))
        return false;
    if (e.key.kind == Tok::directive) {
        e.is_dict = false;
        e.begin = e.end = c.p;
        return true;
    }
    if (e.key.kind != Tok::word && e.key.kind != Tok::string && e.key.kind != Tok::variable)
        c.fail(e.key.at, "expected a keyword, found " + describe(e.key));
    skip_space(c);
    e.is_dict = *c.p == '{';
    if (e.is_dict) {
        ++c.p;
        e.begin = c.p;
        skip_dict(c, h, nullptr);
        e.end = c.p - 1;
        return true;
    }
    e.begin = c.p;
    e.end = skip_value(c, h, nullptr);
    return true;
}

std::string keyword_text_of(const std::string &key, bool pattern)
{
    return pattern ? "\"" + key + "\"" : key;
}

std::string keyword_text(const Token &key)
{
    if (key.kind == Tok::string)
        return "\"" + std::string(key.text) + "\"";
    return std::string(key.text);
}

}  // namespace foam
