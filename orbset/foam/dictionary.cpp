#include "dictionary.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <unistd.h>

#include "bad.h"
#include "dict.h"
#include "regex.h"

namespace foam {

namespace {

// Files including files: deeper than this, a file includes itself.
constexpr int kMostNested = 64;

std::string dir_name(const std::string &path)
{
    auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string current_dir()
{
    char buf[4096];
    return getcwd(buf, sizeof buf) ? buf : ".";
}

std::string absolute(const std::string &path)
{
    if (path.empty() || path == ".")
        return current_dir();
    return path[0] == '/' ? path : current_dir() + "/" + path;
}

std::string home_of(const std::string &user)
{
    if (user.empty()) {
        if (const char *h = std::getenv("HOME"))
            return h;
    }
    const passwd *pw = user.empty() ? getpwuid(getuid()) : getpwnam(user.c_str());
    return pw && pw->pw_dir ? pw->pw_dir : "";
}

bool is_variable_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '.' || c == ':' || c == '_';
}

// The text of a value with its comments left in; trimmed of the space
// around it.
std::string_view trimmed(std::string_view v)
{
    while (!v.empty() && is_space(v.front()))
        v.remove_prefix(1);
    while (!v.empty() && is_space(v.back()))
        v.remove_suffix(1);
    return v;
}

// An entry's value as text, as OpenFOAM writes a variable's tokens in its
// place: a primitive entry's value; a sub-dictionary's entries.
std::string text_of_entry(const DictEntry &e)
{
    if (!e.is_dict())
        return std::string(trimmed(e.value()));
    std::string s;
    for (const auto &x : e.dict->entries) {
        std::string key = x->pattern ? "\"" + x->key + "\"" : x->key;
        s += (s.empty() ? "" : " ") + key +
             (x->is_dict() ? " { " + text_of_entry(*x) + " }" : " " + text_of_entry(*x) + ";");
    }
    return s;
}

std::unique_ptr<DictEntry> clone(const DictEntry &e, Dictionary *parent)
{
    auto c = std::make_unique<DictEntry>();
    c->key = e.key;
    c->pattern = e.pattern;
    c->text = e.text;
    c->begin = e.begin;
    c->end = e.end;
    c->expanded = e.expanded;
    c->file = e.file;
    c->key_at = e.key_at;
    c->close = e.close;
    c->written_begin = e.written_begin;
    c->written_end = e.written_end;
    c->merged = e.merged;
    c->copied = true;
    if (e.dict) {
        c->dict = std::make_unique<Dictionary>();
        c->dict->parent = parent;
        for (const auto &x : e.dict->entries)
            c->dict->entries.push_back(clone(*x, c->dict.get()));
    }
    return c;
}

enum class Mode { merge, overwrite, protect, warn, error };

class Reader {
public:
    Reader(const Includes &inc, ReadDictionary &r) : inc_(inc), r_(r) {}

    // Entries up to the end of the text, or, when braced, to the '}'
    // that closes the dictionary (consumed).
    void entries(Cursor &c, const Header &h, Dictionary &d, bool braced, int depth)
    {
        for (;;) {
            Token t = next_keyword(c);
            if (t.kind == Tok::end) {
                if (braced)
                    c.fail(t.at, "a dictionary { ... is not closed");
                return;
            }
            if (t.is('}')) {
                if (!braced)
                    c.fail(t.at, "unexpected '}'");
                return;
            }
            if (t.kind == Tok::directive) {
                directive(c, d, t, depth);
                continue;
            }
            if (t.kind == Tok::variable) {
                keyword_variable(c, h, d, t, depth);
                continue;
            }
            if (t.kind != Tok::word && t.kind != Tok::string)
                c.fail(t.at, "expected a keyword, found " + describe(t));
            if (t.kind == Tok::word && t.text.find('/') != std::string_view::npos)
                c.fail(t.at, std::string(t.text) + ": a keyword with a scope, which orbset does not "
                                                   "read; use setFields");
            entry(c, h, d, std::string(t.text), t.kind == Tok::string, t.at, depth);
        }
    }

private:
    void entry(Cursor &c, const Header &h, Dictionary &d, std::string key, bool pattern,
               const char *key_at, int depth)
    {
        auto e = std::make_unique<DictEntry>();
        e->key = std::move(key);
        e->pattern = pattern;
        e->file = c.text;
        e->key_at = key_at;
        skip_space(c);
        if (*c.p == '{' && !c.at_end()) {
            ++c.p;
            e->dict = std::make_unique<Dictionary>();
            e->dict->parent = &d;
            entries(c, h, *e->dict, true, depth);
            e->close = c.p - 1;
        } else {
            primitive(c, h, d, *e);
        }
        add(c, d, std::move(e));
    }

    void primitive(Cursor &c, const Header &h, Dictionary &d, DictEntry &e)
    {
        std::vector<Token> specials;
        skip_space(c);
        const char *begin = c.p;
        const char *end = skip_value(c, h, &specials);
        e.written_begin = begin;
        e.written_end = end;
        if (specials.empty()) {
            e.text = c.text;
            e.begin = begin;
            e.end = end;
            return;
        }
        if (h.binary)
            c.fail(specials.front().at, std::string(specials.front().text) +
                                            " in a binary file's value, which orbset does not "
                                            "expand; use setFields");
        std::string out;
        Cursor v = c;
        v.p = begin;
        for (;;) {
            skip_space(v);
            if (v.p >= end)
                break;
            Token t = next_token(v);
            std::string piece;
            if (t.kind == Tok::variable)
                piece = variable(v, d, t);
            else if (t.kind == Tok::directive && !t.text.starts_with("#{"))
                refuse_directive(v, t, "in a value");
            else
                piece.assign(t.at, static_cast<std::size_t>(v.p - t.at));
            if (!out.empty() && !piece.empty())
                out += ' ';
            out += piece;
        }
        r_.texts.push_back(
            std::make_unique<Text>(text_of(c.text->name, out, line_of(*c.text, begin))));
        const Text &x = *r_.texts.back();
        e.text = &x;
        e.begin = x.begin();
        e.end = x.end();
        e.expanded = true;
    }

    // The text a $variable of a value stands for.
    std::string variable(const Cursor &c, const Dictionary &d, const Token &t)
    {
        std::string name(t.text.substr(1));
        if (name.size() > 2 && name.front() == '{' && name.back() == '}')
            name = expand_string(c, d, t.at, name.substr(1, name.size() - 2), false);
        const DictEntry *e = d.find_variable(name);
        if (e) {
            r_.refs.push_back({c.text, t.at, t.at + t.text.size(), e});
            return text_of_entry(*e);
        }
        std::string env = environment(name);
        if (env.empty())
            c.fail(t.at, "$" + name + ": no such entry or environment variable");
        return env;
    }

    // FOAM_CASE and FOAM_CASENAME as OpenFOAM's applications set them for
    // the case, other names from the environment.
    std::string environment(const std::string &name) const
    {
        if (name == "FOAM_CASE")
            return absolute(inc_.case_dir);
        if (name == "FOAM_CASENAME") {
            std::string a = absolute(inc_.case_dir);
            return a.substr(a.rfind('/') + 1);
        }
        const char *v = std::getenv(name.c_str());
        return v ? v : "";
    }

    // $variables and ${variables} of a string expanded, as OpenFOAM expands
    // a file name; then a leading "<case>/", "<system>/", "<constant>/",
    // "<etc>/", "~" or "./".
    std::string expand_string(const Cursor &c, const Dictionary &d, const char *at, std::string s,
                              bool allow_empty)
    {
        for (std::size_t i = 0; (i = s.find('$', i)) != std::string::npos && i + 1 < s.size();) {
            if (i > 0 && s[i - 1] == '\\') {
                ++i;
                continue;
            }
            std::size_t from = i, len;
            std::string name;
            if (s[i + 1] == '{') {
                auto close = s.find('}', i + 2);
                if (close == std::string::npos)
                    c.fail(at, "a ${... without its '}'");
                name = expand_string(c, d, at, s.substr(i + 2, close - i - 2), allow_empty);
                len = close + 1 - from;
            } else if (is_variable_char(s[i + 1])) {
                std::size_t j = i + 1;
                while (j < s.size() && is_variable_char(s[j]))
                    ++j;
                name = s.substr(i + 1, j - i - 1);
                len = j - from;
            } else {
                ++i;
                continue;
            }
            const DictEntry *e = d.find_variable(name);
            std::string value = e ? text_of_entry(*e) : environment(name);
            if (value.size() > 1 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            if (value.empty() && !allow_empty)
                c.fail(at, "$" + name + ": no such entry or environment variable");
            s.replace(from, len, value);
            i = from + value.size();
        }
        return leading(s);
    }

    std::string leading(std::string s) const
    {
        if (s.empty())
            return s;
        if (s[0] == '.' && (s.size() == 1 || s[1] == '/'))
            return current_dir() + s.substr(1);
        if (s[0] == '~') {
            auto slash = s.find('/');
            std::string user = s.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
            std::string rest = slash == std::string::npos ? "" : s.substr(slash);
            return home_of(user) + rest;
        }
        if (s[0] == '<') {
            auto close = s.find('>');
            if (close == std::string::npos || (close + 1 < s.size() && s[close + 1] != '/'))
                return s;
            std::string tag = s.substr(1, close - 1), rest = s.substr(close + 1);
            std::string file = rest.empty() ? "" : rest.substr(1);
            if (tag == "case")
                return absolute(inc_.case_dir) + rest;
            if (tag == "constant" || tag == "system")
                return absolute(inc_.case_dir) + "/" + tag + rest;
            if (tag == "etc")
                return etc_file(file);
        }
        return s;
    }

    std::string etc_file(const std::string &name) const
    {
        for (const std::string &dir : inc_.etc) {
            std::string path = dir + "/" + name;
            if (!find_file(path).empty())
                return path;
        }
        return "";
    }

    [[noreturn]] void refuse_directive(const Cursor &c, const Token &t, const char *where)
    {
        c.fail(t.at, std::string(t.text.substr(0, std::min<std::size_t>(t.text.size(), 40))) +
                         (*where ? std::string(" ") + where : std::string()) +
                         ": orbset does not run code or conditions in dictionaries; use setFields");
    }

    // The file name after #include and its kin: a string or a word.
    std::string file_name(Cursor &c, const Token &directive)
    {
        Token t = next_token(c);
        if (t.kind != Tok::string && t.kind != Tok::word)
            c.fail(t.at, "expected a file name after " + std::string(directive.text) + ", found " +
                             describe(t));
        return std::string(t.text);
    }

    void directive(Cursor &c, Dictionary &d, const Token &t, int depth)
    {
        const std::string_view name = t.text;
        if (name == "#include" || name == "#includeIfPresent" || name == "#sinclude") {
            std::string raw = file_name(c, t);
            std::string path = expand_string(c, d, t.at, raw, true);
            if (!path.empty() && path[0] != '/')
                path = dir_name(c.text->name) + "/" + path;
            include(c, t, d, path, name == "#include", depth);
        } else if (name == "#includeEtc" || name == "#sincludeEtc") {
            std::string raw = file_name(c, t);
            std::string path = expand_string(c, d, t.at, raw, true);
            if (!path.empty() && path[0] != '/')
                path = etc_file(path);
            if (path.empty() && name == "#includeEtc")
                c.fail(t.at, "#includeEtc \"" + raw + "\": no such file in " + etc_list());
            include(c, t, d, path, name == "#includeEtc", depth);
        } else if (name == "#includeFunc") {
            // a function object for the solver, named by one word such as
            // streamlines(U): nothing that orbset reads
            Token w = next_token(c);
            if (w.kind != Tok::word)
                c.fail(w.at, "expected a function's name after #includeFunc, found " + describe(w));
        } else if (name == "#inputMode") {
            Token w = next_token(c);
            std::string_view m = w.kind == Tok::word ? w.text : std::string_view();
            mode_ = m == "overwrite" ? Mode::overwrite
                    : m == "protect" ? Mode::protect
                    : m == "warn"    ? Mode::warn
                    : m == "error"   ? Mode::error
                                     : Mode::merge;
        } else if (name == "#remove") {
            remove(c, d);
        } else {
            refuse_directive(c, t, "");
        }
    }

    std::string etc_list() const
    {
        std::string s;
        for (const std::string &dir : inc_.etc)
            s += (s.empty() ? "" : ", ") + dir;
        return s.empty() ? "no etc directory (set WM_PROJECT_DIR)" : s;
    }

    void include(Cursor &c, const Token &t, Dictionary &d, const std::string &path,
                 bool mandatory, int depth)
    {
        if (depth >= kMostNested)
            c.fail(t.at, std::string(t.text) + " nested more than " + std::to_string(kMostNested) +
                             " deep: does a file include itself?");
        if (path.empty() || find_file(path).empty()) {
            if (!mandatory)
                return;
            c.fail(t.at, std::string(t.text) + " \"" + path + "\": no such file");
        }
        r_.texts.push_back(std::make_unique<Text>(load_text(path, inc_.bound)));
        const Text &text = *r_.texts.back();
        Cursor in(text);
        Header ascii;
        const bool had_header = d.find("FoamFile") != nullptr;
        entries(in, ascii, d, false, depth + 1);
        if (!had_header) {
            auto it = std::find_if(d.entries.begin(), d.entries.end(),
                                   [](const auto &e) { return e->key == "FoamFile"; });
            if (it != d.entries.end())
                d.entries.erase(it);
        }
    }

    // #remove keyword, #remove "pattern" or #remove (a "b.*" ...)
    void remove(Cursor &c, Dictionary &d)
    {
        std::vector<Token> keys;
        Token t = next_token(c);
        if (t.is('(')) {
            for (t = next_token(c); !t.is(')'); t = next_token(c)) {
                if (t.kind != Tok::word && t.kind != Tok::string)
                    c.fail(t.at, "expected a keyword to #remove, found " + describe(t));
                keys.push_back(t);
            }
        } else if (t.kind == Tok::word || t.kind == Tok::string) {
            keys.push_back(t);
        } else {
            c.fail(t.at, "expected a keyword to #remove, found " + describe(t));
        }
        for (const Token &k : keys) {
            std::erase_if(d.entries, [&](const auto &e) {
                if (k.kind == Tok::word)
                    return e->key == k.text;
                std::optional<bool> m = regex_matches(std::string(k.text), e->key);
                if (!m)
                    c.fail(k.at, "\"" + std::string(k.text) + "\" is not a regular expression");
                return *m;
            });
        }
    }

    // $name at a keyword's place: the entries of the dictionary it names
    // added here, or, before a '{', the name of a new sub-dictionary.
    void keyword_variable(Cursor &c, const Header &h, Dictionary &d, const Token &t, int depth)
    {
        std::string name(t.text.substr(1));
        if (name.size() > 2 && name.front() == '{' && name.back() == '}')
            name = expand_string(c, d, t.at, name.substr(1, name.size() - 2), false);
        skip_space(c);
        if (*c.p == '{') {
            const DictEntry *e = d.find_variable(name);
            if (!e)
                c.fail(t.at, "$" + name + " as a keyword, but no entry of that name");
            entry(c, h, d, std::string(trimmed(text_of_entry(*e))), false, t.at, depth);
            return;
        }
        const DictEntry *e = d.find_variable(name);
        if (!e || !e->is_dict())
            return;  // as OpenFOAM: nothing to add
        r_.refs.push_back({c.text, t.at, t.at + t.text.size(), e});
        for (const auto &x : e->dict->entries)
            add(c, d, clone(*x, &d), mode_ == Mode::merge || mode_ == Mode::overwrite);
    }

    void merge_into(DictEntry &old, std::unique_ptr<DictEntry> e)
    {
        old.merged = true;
        old.file = e->file;
        old.key_at = e->key_at;
        old.close = e->close;
        for (auto &x : e->dict->entries) {
            if (x->dict)
                x->dict->parent = old.dict.get();
            add_merging(*old.dict, std::move(x));
        }
    }

    // Dictionary::merge of OpenFOAM: sub-dictionaries merge, other
    // entries replace in their place, new ones are added at the end.
    void add_merging(Dictionary &d, std::unique_ptr<DictEntry> e)
    {
        DictEntry *old = d.find(e->key);
        if (!old) {
            d.entries.push_back(std::move(e));
        } else if (old->is_dict() && e->is_dict()) {
            merge_into(*old, std::move(e));
        } else {
            replace(d, old, std::move(e));
        }
    }

    void replace(Dictionary &d, DictEntry *old, std::unique_ptr<DictEntry> e)
    {
        for (auto &slot : d.entries)
            if (slot.get() == old) {
                r_.replaced.push_back(std::move(slot));  // variables read may still name it
                slot = std::move(e);
                return;
            }
    }

    void add(const Cursor &c, Dictionary &d, std::unique_ptr<DictEntry> e, bool may_merge = true)
    {
        DictEntry *old = d.find(e->key);
        if (!old) {
            d.entries.push_back(std::move(e));
            return;
        }
        switch (mode_) {
        case Mode::protect:
        case Mode::warn:
            return;
        case Mode::error:
            c.fail(e->key_at, e->key + " given twice, under #inputMode error");
        case Mode::overwrite:
            if (old->is_dict() && e->is_dict()) {
                old->dict->entries.clear();
                merge_into(*old, std::move(e));
                return;
            }
            replace(d, old, std::move(e));
            return;
        case Mode::merge:
            break;
        }
        if (!may_merge)
            return;
        if (old->is_dict() && e->is_dict())
            merge_into(*old, std::move(e));
        else
            replace(d, old, std::move(e));
    }

    const Includes &inc_;
    ReadDictionary &r_;
    Mode mode_ = Mode::merge;
};

}  // namespace

Cursor DictEntry::cursor() const
{
    Cursor c(*text);
    c.p = begin;
    return c;
}

void DictEntry::expect_end(Cursor &v, const char *what) const
{
    skip_space(v);
    if (v.p != end) {
        Token t = next_token(v);
        v.fail(t.at, std::string("unexpected ") + describe(t) + " in " + what);
    }
}

DictEntry *Dictionary::find(std::string_view key) const
{
    for (const auto &e : entries)
        if (e->key == key)
            return e.get();
    return nullptr;
}

const DictEntry *Dictionary::lookup(std::string_view name) const
{
    for (const auto &e : entries)
        if (!e->pattern && e->key == name)
            return e.get();
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const DictEntry &e = **it;
        if (!e.pattern)
            continue;
        std::optional<bool> m = regex_matches(e.key, std::string(name));
        if (!m) {
            Cursor c(*e.file);
            c.fail(e.key_at, "\"" + e.key + "\" is not a regular expression");
        }
        if (*m)
            return &e;
    }
    return nullptr;
}

const Dictionary &Dictionary::top() const
{
    const Dictionary *d = this;
    while (d->parent)
        d = d->parent;
    return *d;
}

namespace {

const DictEntry *literal(const Dictionary &d, std::string_view key)
{
    for (const auto &e : d.entries)
        if (!e->pattern && e->key == key)
            return e.get();
    return nullptr;
}

// a.b.c within d, '.' separating the levels; the longest key that holds
// dots is tried where a shorter one is no dictionary, as OpenFOAM does.
const DictEntry *dotted(const Dictionary &d, std::string_view name)
{
    if (name.empty())
        return nullptr;
    if (name[0] == '.') {
        const Dictionary *up = &d;
        std::size_t i = 1;
        for (; i < name.size() && name[i] == '.'; ++i) {
            if (!up->parent)
                return nullptr;
            up = up->parent;
        }
        return dotted(*up, name.substr(i));
    }
    auto dot = name.find('.');
    if (dot == std::string_view::npos)
        return literal(d, name);
    for (;;) {
        const DictEntry *e = literal(d, name.substr(0, dot));
        if (e && e->is_dict())
            return dotted(*e->dict, name.substr(dot + 1));
        if (dot == std::string_view::npos)
            return e;
        dot = name.find('.', dot + 1);
    }
}

}  // namespace

const DictEntry *Dictionary::find_variable(std::string_view name) const
{
    if (name.find('/') != std::string_view::npos) {
        const Dictionary *d = this;
        if (name[0] == '/')
            d = &top();
        std::size_t at = 0;
        while (at <= name.size()) {
            auto slash = name.find('/', at);
            std::string_view part = name.substr(at, slash - at);
            at = slash == std::string_view::npos ? name.size() + 1 : slash + 1;
            if (part.empty() || part == ".")
                continue;
            if (part == "..") {
                if (!d->parent)
                    return nullptr;
                d = d->parent;
                continue;
            }
            const DictEntry *e = literal(*d, part);
            if (!e)
                return nullptr;
            if (at > name.size())
                return e;
            if (!e->is_dict())
                return nullptr;
            d = e->dict.get();
        }
        return nullptr;
    }
    if (!name.empty() && (name[0] == ':' || name[0] == '^'))
        return dotted(top(), name.substr(1));
    if (name.find('.') != std::string_view::npos)
        return dotted(*this, name);
    for (const Dictionary *d = this; d; d = d->parent)
        if (const DictEntry *e = literal(*d, name))
            return e;
    return nullptr;
}

std::vector<std::string> etc_dirs(const std::string &api)
{
    auto is_dir_at = [](const std::string &p) { return !p.empty() && is_dir(p); };
    std::vector<std::string> dirs;
    std::string user = home_of("") + "/.OpenFOAM";
    if (is_dir_at(user)) {
        dirs.push_back(user + "/" + api);
        dirs.push_back(user);
    }
    const char *project = std::getenv("WM_PROJECT_DIR");
    std::string project_dir = project && *project ? project : "/usr/share/openfoam";
    std::string site;
    if (const char *s = std::getenv("WM_PROJECT_SITE"); s && *s)
        site = std::string(s) + "/etc";
    else
        site = project_dir + "/site/etc";
    if (is_dir_at(site)) {
        dirs.push_back(site + "/" + api);
        dirs.push_back(site);
    }
    dirs.push_back(project_dir + "/etc");
    return dirs;
}

void read_dictionary(const Cursor &after_header, const Header &h, const Includes &inc,
                     ReadDictionary &r)
{
    Cursor c = after_header;
    Reader(inc, r).entries(c, h, r.dict, false, 0);
}

void read_sub_dictionary(Cursor &c, const Header &h, const Includes &inc, ReadDictionary &r,
                         Dictionary &d)
{
    Reader(inc, r).entries(c, h, d, true, 0);
}

}  // namespace foam
