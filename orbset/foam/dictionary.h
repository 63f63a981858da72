// An OpenFOAM dictionary read as OpenFOAM 1912 reads it: entries in order,
// sub-dictionaries, a later entry merging into or replacing an earlier one
// of the same keyword, #include and its kin pulling in other files, and
// $variables expanded when the entry that holds them is read. Values are
// not parsed: each primitive entry keeps where its text is, in the file it
// was written in, or in a text of its own where variables were expanded,
// so that a reader takes what it needs from it and a writer can edit the
// file where the entry was written and keep every other byte.
//
// Directives that run code or choose among entries (#calc, #codeStream,
// #{ #}, #eval, #if, #ifeq) are refused with Bad; #includeFunc, which only
// adds function objects, is passed over.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lexer.h"
#include "text.h"

namespace foam {

class Dictionary;

struct DictEntry {
    std::string key;         // the keyword; a pattern's without its quotes
    bool pattern = false;    // a quoted keyword: a regular expression
    std::unique_ptr<Dictionary> dict;  // a sub-dictionary, or null
    // A primitive entry's value: [begin, end) of `text`, up to its ';'.
    const Text *text = nullptr;
    const char *begin = nullptr, *end = nullptr;
    bool expanded = false;   // the value holds variables, expanded in a text of its own
    // Where the entry was written: its keyword in `file`; for a
    // sub-dictionary, its closing '}' (of the last of its blocks in that
    // file, where several merged).
    const Text *file = nullptr;
    const char *key_at = nullptr;
    const char *close = nullptr;
    // A primitive entry's value as written in `file`, before its
    // variables were expanded.
    const char *written_begin = nullptr, *written_end = nullptr;
    bool merged = false;     // a sub-dictionary with blocks from several places
    bool copied = false;     // added by a $variable from another dictionary's entries

    bool is_dict() const { return dict != nullptr; }
    std::string_view value() const { return {begin, static_cast<std::size_t>(end - begin)}; }
    // A cursor at the start of the value.
    Cursor cursor() const;
    // Expects the value read so far through v to end at the entry's ';'.
    void expect_end(Cursor &v, const char *what) const;
    // What read(cursor) makes of the whole value: its result, the value
    // then expected to end.
    template <class Read>
    auto read(const char *what, Read read) const
    {
        Cursor v = cursor();
        auto r = read(v);
        expect_end(v, what);
        return r;
    }
};

// A $variable of a file's text and the entry it stood for when read.
struct VarRef {
    const Text *file;
    const char *begin, *end;  // "$internalField" in file
    const DictEntry *target;
};

class Dictionary {
public:
    Dictionary *parent = nullptr;
    std::vector<std::unique_ptr<DictEntry>> entries;  // in order

    // The entry of exactly this keyword (a pattern's by its text), or null.
    DictEntry *find(std::string_view key) const;
    // As OpenFOAM looks up a name: the entry of that keyword, else the
    // latest pattern entry that matches it; or null. Throws Bad for a
    // pattern that is no regular expression.
    const DictEntry *lookup(std::string_view name) const;
    // The entry a $variable names (without '$'), as OpenFOAM finds it:
    // up through the enclosing dictionaries; ':' from the top; '.'
    // separating the levels, a leading '.' for each level up; '/' as a
    // path. Patterns are not matched. Null when none.
    const DictEntry *find_variable(std::string_view name) const;
    const Dictionary &top() const;
};

// Where the files that dictionaries include are found.
struct Includes {
    std::string case_dir;          // $FOAM_CASE: "" for the current directory
    std::vector<std::string> etc;  // #includeEtc: etc directories in search order
    Bound bound;                   // of each file included
};

// The etc directories of OpenFOAM release `api` ("1912"), in the order
// OpenFOAM searches them: ~/.OpenFOAM/<api>, ~/.OpenFOAM, the site's
// ($WM_PROJECT_SITE/etc, or $WM_PROJECT_DIR/site/etc), then
// $WM_PROJECT_DIR/etc (Debian's /usr/share/openfoam/etc where it is unset).
std::vector<std::string> etc_dirs(const std::string &api);

// A dictionary read from a file: the files it included and the texts of its
// expanded values stay with it, as its entries point into them.
struct ReadDictionary {
    Dictionary dict;
    std::vector<std::unique_ptr<Text>> texts;  // included files and expansions
    std::vector<VarRef> refs;                  // every variable read, and what it named
    std::vector<std::unique_ptr<DictEntry>> replaced;  // entries a later one replaced
};

// Reads the entries of the text after its header, to its end, into r.dict;
// throws Bad naming the file and line of a fault.
void read_dictionary(const Cursor &after_header, const Header &h, const Includes &inc,
                     ReadDictionary &r);

// Reads a dictionary written as "{ entries }" at c (the '{' consumed) into
// d, whose parent is set by the caller, as OpenFOAM reads one from a list
// of entries; leaves c after its '}'. Variables in it were expanded with
// the list that holds it.
void read_sub_dictionary(Cursor &c, const Header &h, const Includes &inc, ReadDictionary &r,
                         Dictionary &d);

}  // namespace foam
