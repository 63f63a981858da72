// Walking the entries of an OpenFOAM dictionary without building it: each
// entry's keyword and where its value lies in the text, so that a reader
// takes what it needs and a writer keeps every other byte as it was.
#pragma once

#include "lexer.h"

namespace foam {

struct Entry {
    Token key;          // a word, a quoted string (a pattern), a #directive or a $variable
    bool is_dict;       // key { ... }
    const char *begin;  // the value: after the keyword, or after the '{'
    const char *end;    // at its ';', or at the '}' that closes it
};

// Reads the next entry of a dictionary, its value skipped whole. False at
// the '}' that closes the dictionary (consumed) or at the end of the text.
// A #directive is returned as a keyword with no value: whoever meets one
// refuses it, as its effect is not known here.
bool next_entry(Cursor &c, const Header &h, Entry &e);

// Skips a value up to its ';' at the same depth, which it consumes, and
// returns where the ';' is. In a binary file a List<T> and the raw bytes
// after it are skipped whole. Every #directive and $variable met is added
// to `specials` when it is given.
const char *skip_value(Cursor &c, const Header &h, std::vector<Token> *specials);

// Skips the body of a dictionary up to and past its closing '}'.
void skip_dict(Cursor &c, const Header &h, std::vector<Token> *specials);

// A cursor over the value of entry e, for reading it.
inline Cursor value_cursor(const Cursor &c, const Entry &e)
{
    Cursor v = c;
    v.p = e.begin;
    return v;
}


// The keyword of an entry as text ("#include", "\"(in|out)let\"").
std::string keyword_text(const Token &key);
std::string keyword_text_of(const std::string &key, bool pattern);

}  // namespace foam
