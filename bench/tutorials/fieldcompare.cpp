// fieldcompare: compares two OpenFOAM field files by the numbers OpenFOAM
// reads from them, the internalField and every patch's value, whatever their
// layout (ascii or binary, uniform or a list, plain or gzip-compressed).
//
//   fieldcompare [--mesh POLYMESH_DIR] [--etc DIR] EXPECTED ACTUAL
//   fieldcompare --fields SETFIELDSDICT
//
// The first form prints "<cell values that differ> <patch values that
// differ>" on standard output and what differs on standard error; it exits
// 0 when every value is bit for bit the same, 1 when some differ and 2 when a
// file cannot be read. The patches are those of the mesh's boundary file
// (with --mesh), or else the patches EXPECTED names; each is looked up in
// both files as OpenFOAM looks it up (its own name, then a patch group, then
// the last pattern that matches). A uniform value stands for every cell or
// face: the mesh's owner file gives the cell count and its boundary file the
// face counts, so that two different uniform values count every cell.
//
// The second form prints the fields a setFields dictionary sets (the names
// after volScalarFieldValue, volVectorFieldValue, ...), one a line, once each.
//
// Numbers in ascii are read with strtod, so both files are read alike; the
// doubles of a binary file are taken as they are (little-endian, or floats
// where the header's arch says scalar=32).

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The whole file, decompressed when it is gzip (by its magic bytes, so that a
// compressed file without the .gz suffix is read too). At most limit bytes
// when limit is not zero.
std::string read_file(const std::string& path, size_t limit = 0) {
    gzFile in = gzopen(path.c_str(), "rb");
    if (!in) throw Failure(path + ": " + std::strerror(errno ? errno : ENOENT));
    gzbuffer(in, 1 << 17);
    std::string text;
    char chunk[1 << 16];
    for (;;) {
        size_t want = sizeof chunk;
        if (limit && limit - text.size() < want) want = limit - text.size();
        if (want == 0) break;
        int got = gzread(in, chunk, static_cast<unsigned>(want));
        if (got < 0) {
            int code = 0;
            std::string why = gzerror(in, &code);
            gzclose(in);
            throw Failure(path + ": " + why);
        }
        if (got == 0) break;
        text.append(chunk, static_cast<size_t>(got));
    }
    gzclose(in);
    return text;
}

bool file_exists(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

// ---------------------------------------------------------------- values

// A list of numbers as read: n items of ncomp components each. A block
// "N{V}" and a uniform value keep one item and say so.
struct Values {
    size_t n = 0;
    int ncomp = 1;
    bool one = false;  // every item is items[0..ncomp)
    std::vector<double> items;

    const double* item(size_t i) const { return one ? items.data() : items.data() + i * ncomp; }
};

int components_of(const std::string& list_type) {
    // List<scalar>, List<vector>, ... as OpenFOAM names them.
    static const std::map<std::string, int> sizes = {
        {"List<scalar>", 1}, {"List<label>", -1}, {"List<vector>", 3}, {"List<symmTensor>", 6},
        {"List<tensor>", 9}, {"List<sphericalTensor>", 1}};
    auto it = sizes.find(list_type);
    return it == sizes.end() ? 0 : it->second;
}

// List<label> is counted as one component, read as integers.
int items_of(int ncomp) { return ncomp < 0 ? 1 : ncomp; }

// ---------------------------------------------------------------- tokens

struct Token {
    enum Kind { Word, String, Punct, List, End } kind = End;
    std::string text;  // a word, the contents of a string, or the punctuation
    std::shared_ptr<Values> list;
    int line = 0;

    bool is(char c) const { return kind == Punct && text[0] == c; }
    bool is_word(const char* w) const { return kind == Word && text == w; }
};

class Lexer {
public:
    Lexer(std::shared_ptr<const std::string> text, std::string name)
        : text_(std::move(text)), name_(std::move(name)) {}

    bool binary = false;
    int scalar_bytes = 8;
    int label_bytes = 4;
    const std::string& name() const { return name_; }

    [[noreturn]] void fail(const std::string& what) const {
        throw Failure(name_ + ": line " + std::to_string(line_) + ": " + what);
    }

    Token next() {
        if (pushed_) {
            Token t = std::move(*pushed_);
            pushed_.reset();
            return t;
        }
        skip_space();
        Token t;
        t.line = line_;
        const std::string& s = *text_;
        if (pos_ >= s.size()) return t;
        char c = s[pos_];
        if (std::strchr("{}()[];", c)) {
            t.kind = Token::Punct;
            t.text = std::string(1, c);
            ++pos_;
            return t;
        }
        if (c == '"') {
            t.kind = Token::String;
            ++pos_;
            while (pos_ < s.size() && s[pos_] != '"') {
                if (s[pos_] == '\\' && pos_ + 1 < s.size()) ++pos_;
                if (s[pos_] == '\n') ++line_;
                t.text += s[pos_++];
            }
            if (pos_ >= s.size()) fail("a string that does not end");
            ++pos_;
            return t;
        }
        t.kind = Token::Word;
        size_t start = pos_;
        if (c == '$' && pos_ + 1 < s.size() && s[pos_ + 1] == '{') {
            size_t close = s.find('}', pos_);
            if (close == std::string::npos) fail("a ${ that does not end");
            pos_ = close + 1;
        } else {
            while (pos_ < s.size() && !std::isspace(static_cast<unsigned char>(s[pos_])) &&
                   !std::strchr("{}()[];\"", s[pos_]))
                ++pos_;
        }
        t.text = s.substr(start, pos_ - start);
        return t;
    }

    void push_back(Token t) { pushed_ = std::move(t); }

    // The items of a list of n items of ncomp components, after its size:
    // raw doubles between "(" and ")" in a binary file (nothing at all for an
    // empty list), or in ascii "(" items ")" or "{" item "}".
    std::shared_ptr<Values> list_after_size(size_t n, int kind) {
        auto v = std::make_shared<Values>();
        v->n = n;
        const int ncomp = items_of(kind);
        v->ncomp = ncomp;
        const std::string& s = *text_;
        if (binary) {
            skip_blank();
            if (n == 0) {
                // Written with no delimiters; "()" read too.
                if (pos_ + 1 < s.size() && s[pos_] == '(' && s[pos_ + 1] == ')') pos_ += 2;
                return v;
            }
            if (pos_ >= s.size() || s[pos_] != '(') fail("a binary list without its '('");
            ++pos_;
            const size_t size = kind < 0 ? label_bytes : scalar_bytes;
            const size_t count = n * ncomp;
            if ((s.size() - pos_) / size < count + 1) fail("a binary list cut short");
            v->items.resize(count);
            for (size_t i = 0; i < count; ++i) {
                const char* p = s.data() + pos_ + i * size;
                if (kind < 0 && size == 4) {
                    int32_t l;
                    std::memcpy(&l, p, 4);
                    v->items[i] = static_cast<double>(l);
                } else if (kind < 0) {
                    int64_t l;
                    std::memcpy(&l, p, 8);
                    v->items[i] = static_cast<double>(l);
                } else if (size == 8) {
                    std::memcpy(&v->items[i], p, 8);
                } else {
                    float f;
                    std::memcpy(&f, p, 4);
                    v->items[i] = f;
                }
            }
            pos_ += count * size;
            if (pos_ >= s.size() || s[pos_] != ')') fail("a binary list without its ')'");
            ++pos_;
            return v;
        }
        Token open = next();
        if (open.is('{')) {
            v->one = true;
            read_item(*v);
            if (!next().is('}')) fail("a block list N{...} without its '}'");
            return v;
        }
        if (!open.is('(')) fail("a list without its '('");
        v->items.reserve(n * ncomp);
        const size_t count = items_to_close(*v);
        if (count != n) fail("a list of " + std::to_string(n) + " items holds " + std::to_string(count));
        return v;
    }

    // A list written without its size: "(" items ")".
    std::shared_ptr<Values> list_without_size(int kind) {
        auto v = std::make_shared<Values>();
        v->ncomp = items_of(kind);
        v->n = items_to_close(*v);
        return v;
    }

    // The items of a list up to its ')' (consumed): how many.
    size_t items_to_close(Values& v) {
        const std::string& s = *text_;
        size_t count = 0;
        for (;;) {
            skip_space();
            if (pos_ < s.size() && s[pos_] == ')') {
                ++pos_;
                return count;
            }
            read_item(v);
            ++count;
        }
    }

private:
    // One item of an ascii list: a number, or "(" numbers ")". The first item
    // fixes the component count; the others must match it.
    void read_item(Values& v) {
        skip_space();
        const std::string& s = *text_;
        int comps = 0;
        if (pos_ < s.size() && s[pos_] == '(') {
            ++pos_;
            for (;;) {
                skip_space();
                if (pos_ < s.size() && s[pos_] == ')') {
                    ++pos_;
                    break;
                }
                v.items.push_back(number());
                ++comps;
            }
        } else {
            v.items.push_back(number());
            comps = 1;
        }
        if (v.items.size() == static_cast<size_t>(comps)) v.ncomp = comps;
        else if (comps != v.ncomp) fail("list items of different sizes");
    }

    double number() {
        const std::string& s = *text_;
        if (pos_ >= s.size()) fail("a list cut short");
        const char* start = s.c_str() + pos_;
        char* end = nullptr;
        errno = 0;
        double d = std::strtod(start, &end);
        if (end == start) fail("a list item that is not a number");
        pos_ += static_cast<size_t>(end - start);
        return d;
    }

    // Blanks only, never comments: what a binary list's raw bytes follow.
    void skip_blank() {
        const std::string& s = *text_;
        while (pos_ < s.size() && std::isspace(static_cast<unsigned char>(s[pos_]))) {
            if (s[pos_] == '\n') ++line_;
            ++pos_;
        }
    }

    void skip_space() {
        const std::string& s = *text_;
        for (;;) {
            skip_blank();
            if (pos_ + 1 < s.size() && s[pos_] == '/' && s[pos_ + 1] == '/') {
                while (pos_ < s.size() && s[pos_] != '\n') ++pos_;
            } else if (pos_ + 1 < s.size() && s[pos_] == '/' && s[pos_ + 1] == '*') {
                size_t close = s.find("*/", pos_ + 2);
                if (close == std::string::npos) fail("a comment that does not end");
                for (size_t i = pos_; i < close; ++i)
                    if (s[i] == '\n') ++line_;
                pos_ = close + 2;
            } else {
                return;
            }
        }
    }

    std::shared_ptr<const std::string> text_;
    std::string name_;
    size_t pos_ = 0;
    int line_ = 1;
    std::optional<Token> pushed_;
};

// ---------------------------------------------------------------- dictionaries

struct Dict;

struct Entry {
    std::string key;
    bool pattern = false;  // a quoted keyword: a regular expression
    std::shared_ptr<Dict> dict;  // a sub-dictionary, or
    std::vector<Token> tokens;   // the tokens of a value up to its ';'
    std::string where;           // file and line, for messages
};

struct Dict {
    Dict* parent = nullptr;
    std::vector<Entry> entries;

    // OpenFOAM's lookup in one dictionary: the literal keyword, then the
    // patterns, the last one first.
    const Entry* find_here(const std::string& key) const {
        for (auto it = entries.rbegin(); it != entries.rend(); ++it)
            if (!it->pattern && it->key == key) return &*it;
        for (auto it = entries.rbegin(); it != entries.rend(); ++it)
            if (it->pattern && std::regex_match(key, std::regex(it->key, std::regex::extended)))
                return &*it;
        return nullptr;
    }

    const Entry* find_up(const std::string& key) const {
        for (const Dict* d = this; d; d = d->parent)
            if (const Entry* e = d->find_here(key)) return e;
        return nullptr;
    }

    const Dict* top() const {
        const Dict* d = this;
        while (d->parent) d = d->parent;
        return d;
    }

    // A new entry replaces an old one of the same literal keyword; two
    // sub-dictionaries merge, as OpenFOAM's default input mode does.
    void add(Entry e) {
        for (auto& old : entries) {
            if (old.pattern == e.pattern && old.key == e.key) {
                if (old.dict && e.dict) {
                    for (auto& sub : e.dict->entries) old.dict->add(std::move(sub));
                    old.dict->reparent();
                } else {
                    old = std::move(e);
                    if (old.dict) old.dict->parent = this;
                }
                return;
            }
        }
        entries.push_back(std::move(e));
        if (entries.back().dict) entries.back().dict->parent = this;
    }

    void reparent() {
        for (auto& e : entries)
            if (e.dict) {
                e.dict->parent = this;
                e.dict->reparent();
            }
    }
};

std::shared_ptr<Dict> copy_dict(const Dict& from) {
    auto d = std::make_shared<Dict>();
    for (const auto& e : from.entries) {
        Entry c = e;
        if (e.dict) c.dict = copy_dict(*e.dict);
        d->add(std::move(c));
    }
    return d;
}

std::string dir_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string etc_dir;  // OpenFOAM's etc directory, for #includeEtc

// $VAR and ${VAR} of the environment in an include's file name.
std::string expand_env(const std::string& in, const std::string& case_dir) {
    std::string out;
    for (size_t i = 0; i < in.size();) {
        if (in[i] != '$') {
            out += in[i++];
            continue;
        }
        size_t start = i + 1, end;
        std::string name;
        if (start < in.size() && in[start] == '{') {
            end = in.find('}', start);
            if (end == std::string::npos) end = in.size();
            name = in.substr(start + 1, end - start - 1);
            i = end + 1;
        } else {
            end = start;
            while (end < in.size() && (std::isalnum(static_cast<unsigned char>(in[end])) || in[end] == '_'))
                ++end;
            name = in.substr(start, end - start);
            i = end;
        }
        if (name == "FOAM_CASE") out += case_dir;
        else if (const char* v = std::getenv(name.c_str())) out += v;
    }
    return out;
}

class Parser {
public:
    explicit Parser(std::string case_dir) : case_dir_(std::move(case_dir)) {}

    // The entries of a file; the FoamFile header sets binary reading for what
    // follows it.
    std::shared_ptr<Dict> parse_file(const std::string& path) {
        auto text = std::make_shared<const std::string>(read_file(path));
        Lexer lex(text, path);
        auto d = std::make_shared<Dict>();
        parse_entries(lex, *d, 0);
        return d;
    }

    // Entries until the closing character (or the end of the text).
    void parse_entries(Lexer& lex, Dict& d, char close) {
        for (;;) {
            Token t = lex.next();
            if (t.kind == Token::End) {
                if (close) lex.fail(std::string("missing '") + close + "'");
                return;
            }
            if (close && t.is(close)) return;
            if (t.is(';')) continue;
            if (t.kind == Token::Word && t.text[0] == '#') {
                directive(lex, d, t);
                continue;
            }
            if (t.kind == Token::Word && t.text[0] == '$') {
                // "$name;" merges the entries of the dictionary it names.
                Token end = lex.next();
                if (!end.is(';')) lex.fail("a " + t.text + " that is not an entry of its own");
                const Entry* e = lookup(d, t.text);
                if (!e || !e->dict) lex.fail(t.text + " names no dictionary");
                auto copy = copy_dict(*e->dict);
                for (auto& sub : copy->entries) d.add(std::move(sub));
                d.reparent();
                continue;
            }
            if (t.kind != Token::Word && t.kind != Token::String) lex.fail("'" + t.text + "' where a keyword belongs");
            Entry e;
            e.key = t.text;
            e.pattern = t.kind == Token::String;
            e.where = lex.name() + ": line " + std::to_string(t.line);
            Token first = lex.next();
            if (first.is('{')) {
                e.dict = std::make_shared<Dict>();
                e.dict->parent = &d;
                parse_entries(lex, *e.dict, '}');
            } else {
                lex.push_back(std::move(first));
                e.tokens = value_tokens(lex);
            }
            bool header = e.key == "FoamFile" && e.dict;
            if (header) set_format(lex, *e.dict);
            d.add(std::move(e));
        }
    }

private:
    static void set_format(Lexer& lex, const Dict& header) {
        if (const Entry* f = header.find_here("format"); f && !f->tokens.empty())
            lex.binary = f->tokens[0].text == "binary";
        if (const Entry* a = header.find_here("arch"); a && !a->tokens.empty())
            if (a->tokens[0].text.find("scalar=32") != std::string::npos) lex.scalar_bytes = 4;
        if (const Entry* a = header.find_here("arch"); a && !a->tokens.empty())
            if (a->tokens[0].text.find("label=64") != std::string::npos) lex.label_bytes = 8;
    }

    // The tokens of a value up to the ';' that ends it outside brackets. The
    // items of a "List<T> N (...)" become one list token.
    std::vector<Token> value_tokens(Lexer& lex) {
        std::vector<Token> out;
        int depth = 0;
        for (;;) {
            Token t = lex.next();
            if (t.kind == Token::End) lex.fail("an entry without its ';'");
            if (depth == 0 && t.is(';')) return out;
            if (t.kind == Token::Punct) {
                if (t.is('(') || t.is('[') || t.is('{')) ++depth;
                else if (t.is(')') || t.is(']') || t.is('}')) {
                    if (--depth < 0) lex.fail("'" + t.text + "' without its opening");
                }
            }
            // Lists of other types (words, ...) are written as tokens, even
            // in a binary file.
            int ncomp = t.kind == Token::Word ? components_of(t.text) : 0;
            out.push_back(std::move(t));
            if (!ncomp) continue;
            Token size = lex.next();
            Token list;
            list.kind = Token::List;
            list.line = size.line;
            if (size.kind == Token::Word && !size.text.empty() &&
                std::isdigit(static_cast<unsigned char>(size.text[0]))) {
                char* end = nullptr;
                unsigned long long n = std::strtoull(size.text.c_str(), &end, 10);
                if (*end) lex.fail("a list size '" + size.text + "'");
                list.list = lex.list_after_size(static_cast<size_t>(n), ncomp);
            } else if (size.is('(') && !lex.binary) {
                list.list = lex.list_without_size(ncomp);
            } else {
                lex.push_back(std::move(size));
                continue;
            }
            out.push_back(std::move(list));
        }
    }

    void directive(Lexer& lex, Dict& d, const Token& t) {
        const std::string& name = t.text;
        if (name == "#include" || name == "#includeIfPresent" || name == "#sinclude" ||
            name == "#includeEtc") {
            Token file = lex.next();
            if (file.kind != Token::String && file.kind != Token::Word) lex.fail(name + " without a file name");
            std::string path = expand_env(file.text, case_dir_);
            if (name == "#includeEtc") {
                if (etc_dir.empty()) lex.fail("#includeEtc, and no etc directory (--etc DIR or WM_PROJECT_DIR)");
                path = etc_dir + "/" + path;
            } else if (path.empty() || path[0] != '/') {
                path = dir_of(lex.name()) + "/" + path;
            }
            bool optional = name == "#includeIfPresent" || name == "#sinclude";
            if (!file_exists(path) && file_exists(path + ".gz")) path += ".gz";
            if (optional && !file_exists(path)) return;
            auto text = std::make_shared<const std::string>(read_file(path));
            Lexer inner(text, path);
            parse_entries(inner, d, 0);
            d.reparent();
            return;
        }
        if (name == "#inputMode") {
            lex.next();
            return;
        }
        lex.fail("the directive " + name + ", which this reader does not follow");
    }

public:
    // $name, ${name} or $:a.b: the entry it names, from the dictionary it is
    // in outwards (":" from the top), through sub-dictionaries by dots.
    static const Entry* lookup(const Dict& from, std::string ref) {
        if (ref.size() > 1 && ref[1] == '{' && ref.back() == '}') ref = ref.substr(2, ref.size() - 3);
        else ref = ref.substr(1);
        const Dict* scope = &from;
        if (!ref.empty() && ref[0] == ':') {
            scope = from.top();
            ref = ref.substr(1);
        }
        if (const Entry* whole = scope->find_up(ref)) return whole;
        size_t dot = ref.find('.');
        if (dot == std::string::npos) return nullptr;
        const Entry* e = scope->find_up(ref.substr(0, dot));
        while (e && e->dict) {
            ref = ref.substr(dot + 1);
            dot = ref.find('.');
            if (dot == std::string::npos) return e->dict->find_here(ref);
            e = e->dict->find_here(ref.substr(0, dot));
        }
        return nullptr;
    }

private:
    std::string case_dir_;
};

// ---------------------------------------------------------------- field values

// What OpenFOAM reads from a field entry: "uniform V", "nonuniform List<T>
// ...", a $reference to another entry, or a bare number.
Values field_value(const Dict& scope, const Entry& e, int hops = 0) {
    const auto& t = e.tokens;
    auto bad = [&](const std::string& why) -> Failure { return Failure(e.where + ": " + e.key + ": " + why); };
    if (t.empty()) throw bad("no value");
    auto number = [&](const Token& tok) {
        if (tok.kind != Token::Word) throw bad("'" + tok.text + "' is not a number");
        char* end = nullptr;
        double d = std::strtod(tok.text.c_str(), &end);
        if (end == tok.text.c_str() || *end) throw bad("'" + tok.text + "' is not a number");
        return d;
    };
    if (t[0].kind == Token::Word && t[0].text[0] == '$' && t.size() == 1) {
        if (hops > 8) throw bad("references that go round");
        const Entry* target = Parser::lookup(scope, t[0].text);
        if (!target || target->dict) throw bad(t[0].text + " names no value");
        return field_value(scope, *target, hops + 1);
    }
    if (t[0].is_word("uniform")) {
        Values v;
        v.n = 1;
        v.one = true;
        if (t.size() == 2) {
            v.items.push_back(number(t[1]));
        } else if (t.size() >= 3 && t[1].is('(') && t.back().is(')')) {
            for (size_t i = 2; i + 1 < t.size(); ++i) v.items.push_back(number(t[i]));
            v.ncomp = static_cast<int>(v.items.size());
        } else {
            throw bad("a uniform value this reader does not know");
        }
        return v;
    }
    if (t[0].is_word("nonuniform")) {
        // An empty list is written without its type: "nonuniform 0()", or
        // "nonuniform 0" in binary.
        if ((t.size() == 2 || (t.size() == 4 && t[2].is('(') && t[3].is(')'))) && t[1].is_word("0")) {
            Values v;
            return v;
        }
        if (t.size() != 3 || t[2].kind != Token::List) throw bad("a nonuniform value this reader does not know");
        Values v = *t[2].list;
        int declared = items_of(components_of(t[1].text));
        if (declared && v.n && v.ncomp != declared) throw bad("items of the wrong size for " + t[1].text);
        if (declared) v.ncomp = declared;
        return v;
    }
    if (t.size() == 1) {
        Values v;
        v.n = 1;
        v.one = true;
        v.items.push_back(number(t[0]));
        return v;
    }
    throw bad("a value this reader does not know");
}

// ---------------------------------------------------------------- the mesh

struct Patch {
    std::string name;
    std::optional<size_t> faces;
    std::vector<std::string> groups;
};

struct Mesh {
    std::optional<size_t> cells;
    std::vector<Patch> patches;
    bool have_patches = false;
};

std::string existing(const std::string& path) {
    if (file_exists(path)) return path;
    if (file_exists(path + ".gz")) return path + ".gz";
    return {};
}

Mesh read_mesh(const std::string& dir) {
    Mesh m;
    if (std::string owner = existing(dir + "/owner"); !owner.empty()) {
        std::string head = read_file(owner, 4096);
        static const std::regex cells("nCells:\\s*([0-9]+)");
        std::smatch match;
        if (std::regex_search(head, match, cells)) m.cells = std::stoull(match[1]);
    }
    std::string boundary = existing(dir + "/boundary");
    if (boundary.empty()) return m;
    auto text = std::make_shared<const std::string>(read_file(boundary));
    Lexer lex(text, boundary);
    Parser parser(dir);
    // The header, then "N ( name { ... } ... )".
    Dict top;
    Token t = lex.next();
    if (t.kind == Token::Word && t.text == "FoamFile") {
        Token open = lex.next();
        if (!open.is('{')) lex.fail("a FoamFile header without '{'");
        Dict header;
        parser.parse_entries(lex, header, '}');
        t = lex.next();
    }
    if (t.kind == Token::Word && std::isdigit(static_cast<unsigned char>(t.text[0]))) t = lex.next();
    if (!t.is('(')) lex.fail("a boundary list without its '('");
    parser.parse_entries(lex, top, ')');
    for (const auto& e : top.entries) {
        if (!e.dict) continue;
        Patch p;
        p.name = e.key;
        if (const Entry* n = e.dict->find_here("nFaces"); n && n->tokens.size() == 1)
            p.faces = std::stoull(n->tokens[0].text);
        if (const Entry* g = e.dict->find_here("inGroups"))
            for (const auto& tok : g->tokens)
                if (tok.kind == Token::Word && !tok.text.empty() && !std::isdigit(static_cast<unsigned char>(tok.text[0])) &&
                    tok.text.compare(0, 5, "List<") != 0)
                    p.groups.push_back(tok.text);
        m.patches.push_back(std::move(p));
    }
    m.have_patches = true;
    return m;
}

// The sub-dictionary of boundaryField that OpenFOAM gives a patch: its own
// name, else the last literal entry naming one of its groups, else the last
// pattern that matches its name.
const Entry* patch_entry(const Dict& boundary, const Patch& p) {
    for (auto it = boundary.entries.rbegin(); it != boundary.entries.rend(); ++it)
        if (it->dict && !it->pattern && it->key == p.name) return &*it;
    for (auto it = boundary.entries.rbegin(); it != boundary.entries.rend(); ++it)
        if (it->dict && !it->pattern)
            for (const auto& g : p.groups)
                if (it->key == g) return &*it;
    for (auto it = boundary.entries.rbegin(); it != boundary.entries.rend(); ++it)
        if (it->dict && it->pattern && std::regex_match(p.name, std::regex(it->key, std::regex::extended)))
            return &*it;
    return nullptr;
}

// ---------------------------------------------------------------- comparing

std::string show(const double* x, int ncomp) {
    std::string s = ncomp > 1 ? "(" : "";
    char buf[40];
    for (int c = 0; c < ncomp; ++c) {
        std::snprintf(buf, sizeof buf, "%s%.17g", c ? " " : "", x[c]);
        s += buf;
    }
    return ncomp > 1 ? s + ")" : s;
}

// How many of the values differ, counting a uniform value as `size` values
// when it is known, and saying what differs first.
size_t count_differences(const Values& a, const Values& b, std::optional<size_t> size, const std::string& what) {
    // An empty list, whatever its type, against an empty list or a value
    // for no face at all.
    if ((!a.one && a.n == 0 && (b.one ? size.value_or(1) == 0 : b.n == 0)) ||
        (!b.one && b.n == 0 && (a.one ? size.value_or(1) == 0 : a.n == 0)))
        return 0;
    if (a.ncomp != b.ncomp) {
        size_t n = std::max({a.one ? size_t(0) : a.n, b.one ? size_t(0) : b.n, size.value_or(1)});
        std::fprintf(stderr, "%s: %d components against %d\n", what.c_str(), a.ncomp, b.ncomp);
        return n;
    }
    std::optional<size_t> n;
    if (!a.one) n = a.n;
    if (!b.one) {
        if (n && *n != b.n) {
            std::fprintf(stderr, "%s: %zu values against %zu\n", what.c_str(), *n, b.n);
            return std::max(*n, b.n);
        }
        n = b.n;
    }
    size_t count = n.value_or(1);
    size_t differ = 0, first = 0;
    size_t bytes = sizeof(double) * a.ncomp;
    for (size_t i = 0; i < count; ++i)
        if (std::memcmp(a.item(i), b.item(i), bytes) != 0 && differ++ == 0) first = i;
    if (differ) {
        std::fprintf(stderr, "%s: %zu of %zu values differ, first at %zu: %s against %s\n", what.c_str(),
                     n ? differ : size.value_or(1), n ? count : size.value_or(1), first,
                     show(a.item(first), a.ncomp).c_str(), show(b.item(first), b.ncomp).c_str());
        if (!n) differ = size.value_or(1);
    }
    return differ;
}

struct Field {
    std::shared_ptr<Dict> top;
    const Entry* internal = nullptr;
    const Dict* boundary = nullptr;
};

Field read_field(const std::string& path) {
    Parser parser(dir_of(dir_of(path)));
    Field f;
    f.top = parser.parse_file(path);
    f.internal = f.top->find_here("internalField");
    if (!f.internal || f.internal->dict) throw Failure(path + ": no internalField");
    const Entry* b = f.top->find_here("boundaryField");
    if (!b || !b->dict) throw Failure(path + ": no boundaryField");
    f.boundary = b->dict.get();
    return f;
}

int compare(const std::string& mesh_dir, const std::string& expected, const std::string& actual) {
    Mesh mesh;
    if (!mesh_dir.empty()) mesh = read_mesh(mesh_dir);
    Field a = read_field(expected);
    Field b = read_field(actual);
    size_t cells = count_differences(field_value(*a.top, *a.internal), field_value(*b.top, *b.internal),
                                     mesh.cells, "internalField");
    std::vector<Patch> patches = mesh.patches;
    if (!mesh.have_patches)
        for (const auto& e : a.boundary->entries)
            if (e.dict && !e.pattern) patches.push_back(Patch{e.key, {}, {}});
    size_t faces = 0;
    for (const auto& p : patches) {
        const Entry* pa = patch_entry(*a.boundary, p);
        const Entry* pb = patch_entry(*b.boundary, p);
        const Entry* va = pa ? pa->dict->find_here("value") : nullptr;
        const Entry* vb = pb ? pb->dict->find_here("value") : nullptr;
        if (va && va->dict) va = nullptr;
        if (vb && vb->dict) vb = nullptr;
        if (!va && !vb) continue;
        std::string what = "patch " + p.name;
        if (!va || !vb) {
            const Entry* has = va ? va : vb;
            const Dict& scope = va ? *pa->dict : *pb->dict;
            Values v = field_value(scope, *has);
            size_t n = p.faces.value_or(v.one ? 1 : v.n);
            std::fprintf(stderr, "%s: a value only in %s\n", what.c_str(), va ? "the expected file" : "the actual file");
            faces += n;
            continue;
        }
        faces += count_differences(field_value(*pa->dict, *va), field_value(*pb->dict, *vb), p.faces, what);
    }
    std::printf("%zu %zu\n", cells, faces);
    return cells || faces ? 1 : 0;
}

// The names after vol*FieldValue anywhere in a setFields dictionary.
void field_names(const Dict& d, std::vector<std::string>& names, std::set<std::string>& seen) {
    static const std::set<std::string> kinds = {"volScalarFieldValue", "volVectorFieldValue",
                                                "volSymmTensorFieldValue", "volTensorFieldValue",
                                                "volSphericalTensorFieldValue"};
    for (const auto& e : d.entries) {
        if (e.dict) {
            field_names(*e.dict, names, seen);
            continue;
        }
        for (size_t i = 0; i + 1 < e.tokens.size(); ++i)
            if (e.tokens[i].kind == Token::Word && kinds.count(e.tokens[i].text) &&
                e.tokens[i + 1].kind == Token::Word && seen.insert(e.tokens[i + 1].text).second)
                names.push_back(e.tokens[i + 1].text);
    }
}

int usage() {
    std::fprintf(stderr,
                 "usage: fieldcompare [--mesh POLYMESH_DIR] [--etc DIR] EXPECTED ACTUAL\n"
                 "       fieldcompare --fields SETFIELDSDICT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string mesh_dir;
    if (const char* p = std::getenv("WM_PROJECT_DIR")) etc_dir = std::string(p) + "/etc";
    try {
        if (args.size() == 2 && args[0] == "--fields") {
            Parser parser(dir_of(dir_of(args[1])));
            auto d = parser.parse_file(args[1]);
            std::vector<std::string> names;
            std::set<std::string> seen;
            field_names(*d, names, seen);
            for (const auto& n : names) std::printf("%s\n", n.c_str());
            return 0;
        }
        size_t i = 0;
        while (i + 1 < args.size() && args[i].compare(0, 2, "--") == 0) {
            if (args[i] == "--mesh") mesh_dir = args[i + 1];
            else if (args[i] == "--etc") etc_dir = args[i + 1];
            else return usage();
            i += 2;
        }
        if (args.size() - i != 2) return usage();
        return compare(mesh_dir, args[i], args[i + 1]);
    } catch (const Failure& e) {
        std::fprintf(stderr, "fieldcompare: %s\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fieldcompare: %s\n", e.what());
        return 2;
    }
}
