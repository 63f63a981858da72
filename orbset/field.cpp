#include "field.h"

#include <algorithm>
#include <cstring>

#include "foam/bad.h"
#include "foam/dict.h"
#include "pattern.h"

namespace orbset {

namespace {

using foam::Cursor;
using foam::label;
using foam::Tok;
using foam::Token;

constexpr const char *kUseSetFields = "; use setFields for this field";
// OpenFOAM writes a list of up to this many values on one line.
constexpr std::size_t kShortList = 10;

[[noreturn]] void refuse(const Cursor &c, const char *at, const std::string &what)
{
    c.fail(at, what + kUseSetFields);
}

// The name a $variable refers to, without '$', braces and scope marks.
std::string_view variable_name(std::string_view v)
{
    v.remove_prefix(1);
    if (v.starts_with("{") && v.ends_with("}"))
        v = v.substr(1, v.size() - 2);
    auto last = v.find_last_of(".:/");
    return last == std::string_view::npos ? v : v.substr(last + 1);
}

// A #directive is refused; a $variable is kept, but one naming
// internalField is noted, as its meaning changes with internalField, and
// one naming a value is refused, as patches' values change.
void take_specials(const Cursor &c, const std::vector<Token> &specials, FieldFile &f)
{
    for (const Token &t : specials) {
        if (t.kind == Tok::directive)
            refuse(c, t.at, std::string(t.text) + ": orbset does not expand directives");
        std::string_view name = variable_name(t.text);
        if (name == "internalField")
            f.refs.push_back({t.at, t.at + t.text.size()});
        else if (name == "value")
            refuse(c, t.at,
                   std::string(t.text) + ": a variable naming a value that orbset changes");
    }
}

void skip_entry(Cursor &c, FieldFile &f)
{
    std::vector<Token> specials;
    foam::skip_space(c);
    if (*c.p == '{') {
        ++c.p;
        foam::skip_dict(c, f.header, &specials);
    } else {
        foam::skip_value(c, f.header, &specials);
    }
    take_specials(c, specials, f);
}

// What a field's value is for, in the line that refuses one of another
// size: "internalField" and the mesh's cells, or a patch's value and its
// faces; and what the user can do about it.
struct ValueOf {
    std::string what;  // "internalField", "the value of patch inlet"
    std::string items; // "the mesh 8001 cells", "its 20 faces"
    std::string hint;  // "" or "; ..."
};

// A field's value for n items: "uniform V", "nonuniform [List<scalar>] list",
// or a bare V as OpenFOAM 2.0 wrote it. Reads the values into out when given;
// returns whether the value is uniform.
bool read_field_value(Cursor &c, const foam::Header &h, label n, std::vector<double> *out,
                      const ValueOf &of)
{
    const char *what = of.what.c_str();
    Token t = foam::next_token(c);
    if (t.is_word("uniform") || t.kind == Tok::number) {
        double v = t.kind == Tok::number ? t.num.value : foam::read_scalar(c, what);
        if (out)
            out->assign(static_cast<std::size_t>(n), v);
        return true;
    }
    if (t.is_word("nonuniform")) {
        foam::skip_space(c);
        Token tag = foam::peek_token(c);
        if (tag.kind == Tok::word) {
            if (tag.text != "List<scalar>")
                c.fail(tag.at, "expected a list of scalars (List<scalar>), found " +
                                   foam::describe(tag));
            foam::next_token(c);
        }
        const char *at = c.p;
        std::vector<double> v = foam::read_scalar_list(c, h, foam::bytes_left(c));
        if (v.size() != static_cast<std::size_t>(n))
            c.fail(at, of.what + " holds " + std::to_string(v.size()) + " values, " + of.items +
                           of.hint);
        if (out)
            *out = std::move(v);
        return false;
    }
    if (t.kind == Tok::directive || t.kind == Tok::variable)
        refuse(c, t.at, std::string(t.text) + " as the value of " + what);
    c.fail(t.at, std::string("expected uniform or nonuniform for ") + what + ", found " +
                     foam::describe(t));
}

void read_internal(Cursor &c, FieldFile &f, label n_cells, const std::string &mesh_hint)
{
    foam::skip_space(c);
    f.internal.begin = c.p;
    ValueOf of{"internalField", "the mesh " + std::to_string(n_cells) + " cells",
               mesh_hint.empty() ? "; the field was written for another mesh: give it "
                                   "\"internalField uniform <value>;\", or copy it anew from "
                                   "where the case keeps its initial fields"
                                 : mesh_hint};
    f.internal_uniform = read_field_value(c, f.header, n_cells, &f.values, of);
    foam::skip_space(c);
    f.internal.end = c.p;
    foam::expect(c, ';', "after internalField");
}

PatchEntry read_patch_entry(Cursor &c, FieldFile &f, const Token &key)
{
    PatchEntry e;
    e.key = key;
    e.is_dict = true;
    ++c.p;  // '{'
    e.body.begin = c.p;
    for (;;) {
        Token k = foam::next_keyword(c);
        if (k.is('}')) {
            e.body.end = k.at;
            return e;
        }
        if (k.kind == Tok::directive || k.kind == Tok::variable)
            refuse(c, k.at, std::string(k.text) + ": orbset does not expand " +
                                (k.kind == Tok::directive ? "directives" : "variables"));
        if (k.kind != Tok::word)
            c.fail(k.at, "expected a keyword in the entry of " + foam::keyword_text(key) +
                             ", found " + foam::describe(k));
        if (k.text == "type") {
            Token v = foam::next_token(c);
            if (v.kind != Tok::word)
                c.fail(v.at, "expected the type of " + foam::keyword_text(key) + ", found " +
                                 foam::describe(v));
            e.type = std::string(v.text);
            foam::expect(c, ';', "after the type");
        } else if (k.text == "value") {
            std::vector<Token> specials;
            foam::skip_space(c);
            e.value.begin = c.p;
            e.value.end = foam::skip_value(c, f.header, &specials);
            take_specials(c, specials, f);
        } else {
            skip_entry(c, f);
        }
    }
}

void read_boundary(Cursor &c, FieldFile &f)
{
    foam::expect(c, '{', "opening boundaryField");
    for (;;) {
        Token key = foam::next_keyword(c);
        if (key.is('}')) {
            f.boundary_close = key.at;
            return;
        }
        if (key.kind == Tok::end)
            c.fail(key.at, "boundaryField is not closed");
        if (key.kind == Tok::directive || key.kind == Tok::variable)
            refuse(c, key.at, std::string(key.text) + " in boundaryField: orbset does not expand " +
                                  (key.kind == Tok::directive ? "directives" : "variables"));
        if (key.kind != Tok::word && key.kind != Tok::string)
            c.fail(key.at, "expected a patch name in boundaryField, found " + foam::describe(key));
        for (const PatchEntry &e : f.entries)
            if (e.key.kind == key.kind && e.key.text == key.text)
                refuse(c, key.at, foam::keyword_text(key) + " given twice in boundaryField");
        foam::skip_space(c);
        if (*c.p == '{') {
            f.entries.push_back(read_patch_entry(c, f, key));
        } else {
            PatchEntry e;
            e.key = key;
            e.body.begin = c.p;
            skip_entry(c, f);
            f.entries.push_back(e);
        }
    }
}

}  // namespace

FieldFile read_field(foam::Text text, label n_cells, const std::string &mesh_hint)
{
    FieldFile f;
    f.text = std::move(text);
    Cursor c(f.text);
    f.header = foam::read_header(c);
    if (f.header.cls != "volScalarField")
        refuse(c, f.text.begin(),
               "class " + f.header.cls + ": orbset sets volScalarField fields only");
    bool has_internal = false, has_boundary = false;
    for (;;) {
        Token key = foam::next_keyword(c);
        if (key.kind == Tok::end)
            break;
        if (key.kind == Tok::directive || key.kind == Tok::variable || key.kind == Tok::string)
            refuse(c, key.at, foam::keyword_text(key) + " at the top of a field file");
        if (key.kind != Tok::word)
            c.fail(key.at, "expected a keyword, found " + foam::describe(key));
        if (key.text == "internalField" || key.text == "boundaryField") {
            bool &seen = key.text == "internalField" ? has_internal : has_boundary;
            if (seen)
                c.fail(key.at, std::string(key.text) + " given twice");
            seen = true;
            if (key.text == "internalField")
                read_internal(c, f, n_cells, mesh_hint);
            else
                read_boundary(c, f);
        } else {
            skip_entry(c, f);
        }
    }
    if (!has_internal || !has_boundary)
        c.fail(c.p, std::string("no ") + (has_internal ? "boundaryField" : "internalField"));
    return f;
}

namespace {

bool in_group(const foam::BoundaryPatch &p, std::string_view group)
{
    return std::find(p.groups.begin(), p.groups.end(), group) != p.groups.end();
}

bool entry_matches(const Cursor &c, const PatchEntry &e, const std::string &name)
{
    std::optional<bool> m = pattern_matches(std::string(e.key.text), name);
    if (!m)
        c.fail(e.key.at, "\"" + std::string(e.key.text) + "\" is not a regular expression");
    return *m;
}

}  // namespace

void resolve_patches(FieldFile &f, const std::vector<foam::BoundaryPatch> &patches,
                     std::vector<std::string> &warnings)
{
    Cursor c(f.text);
    f.patches.assign(patches.size(), PatchPlan{});
    std::vector<bool> set(patches.size(), false);
    auto give = [&](std::size_t p, std::size_t e, bool literal) {
        f.patches[p].entry = static_cast<int>(e);
        f.patches[p].literal = literal;
        set[p] = true;
    };
    // 1. entries bearing a patch's name
    for (std::size_t e = 0; e < f.entries.size(); ++e)
        for (std::size_t p = 0; p < patches.size(); ++p)
            if (f.entries[e].is_dict && f.entries[e].key.kind == Tok::word &&
                f.entries[e].key.text == patches[p].patch.name)
                give(p, e, true);
    // 2. entries bearing a group's name, the last one first
    for (std::size_t e = f.entries.size(); e-- > 0;)
        for (std::size_t p = 0; p < patches.size(); ++p)
            if (!set[p] && f.entries[e].is_dict && f.entries[e].key.kind == Tok::word &&
                in_group(patches[p], f.entries[e].key.text))
                give(p, e, false);
    // 3. empty patches need none; the rest by pattern, the last one first
    for (std::size_t p = 0; p < patches.size(); ++p) {
        if (set[p])
            continue;
        if (patches[p].patch.type == "empty") {
            set[p] = true;
            continue;
        }
        for (std::size_t e = f.entries.size(); e-- > 0 && !set[p];) {
            const PatchEntry &entry = f.entries[e];
            const std::string &name = patches[p].patch.name;
            bool named = entry.key.kind == Tok::word && entry.key.text == name;
            if (named || (entry.key.kind == Tok::string && entry_matches(c, entry, name))) {
                if (!entry.is_dict)
                    c.fail(entry.key.at, "the entry for patch " + patches[p].patch.name +
                                             " is not a dictionary");
                give(p, e, false);
            }
        }
        if (!set[p])
            c.fail(f.boundary_close, "boundaryField has no entry for patch " +
                                         patches[p].patch.name);
    }

    std::vector<bool> warned(f.entries.size(), false);
    for (std::size_t p = 0; p < patches.size(); ++p) {
        PatchPlan &plan = f.patches[p];
        if (plan.entry < 0)
            continue;
        const PatchEntry &e = f.entries[static_cast<std::size_t>(plan.entry)];
        if (e.type.empty())
            c.fail(e.key.at, "the entry of " + foam::keyword_text(e.key) + " has no type");
        const PatchRule rule = patch_rule(e.type);
        plan.kind = rule.kind;
        if (plan.kind == PatchKind::unknown && !warned[static_cast<std::size_t>(plan.entry)]) {
            warned[static_cast<std::size_t>(plan.entry)] = true;
            warnings.push_back(foam::one_line(f.text.name + ": line " +
                               std::to_string(foam::line_of(f.text, e.key.at)) + ": patch " +
                               foam::keyword_text(e.key) + ": type " + e.type +
                               " is not one orbset knows; its entry is kept as written"));
        }
        if (rule.value == ValueRead::required && !e.value.begin)
            c.fail(e.key.at, "patch " + patches[p].patch.name + ": type " + e.type +
                                 " without its value, at which setFields stops (\"Essential "
                                 "entry 'value' missing\")");
        // a value that is read must be one OpenFOAM reads, of the patch's
        // size; one that stays too (once $internalField in it has been
        // given the old value, which is)
        bool refers = std::any_of(f.refs.begin(), f.refs.end(), [&](const Span &r) {
            return r.begin >= e.value.begin && r.end <= e.value.end;
        });
        bool read = rule.value != ValueRead::ignored || plan.kind == PatchKind::unknown;
        if (read && e.value.begin && !refers) {
            Cursor v(f.text);
            v.p = e.value.begin;
            foam::Entry range{};
            range.end = e.value.end;
            read_field_value(v, f.header, patches[p].patch.size, nullptr,
                             {"the value of patch " + patches[p].patch.name,
                              "its " + std::to_string(patches[p].patch.size) + " faces", ""});
            foam::expect_value_end(v, range, "a patch's value");
        }
    }
    if (!f.refs.empty() && !f.internal_uniform)
        refuse(c, f.refs.front().begin,
               "$internalField names the old cells' values, which orbset replaces");
}

namespace {

// Writes a field's value for the n values given by at(i), as OpenFOAM's
// Field::writeEntry does: "uniform V" when every value is the same, else
// a nonuniform list in the file's format.
template <class At>
void put_field_value(Out &out, bool binary, NumberText &num, std::size_t n, At at)
{
    bool uniform = n > 0;
    for (std::size_t i = 1; i < n && uniform; ++i)
        uniform = at(i) == at(0);
    if (uniform) {
        out.put("uniform ", 8);
        out.advance(num.format(at(0), out.room()));
        return;
    }
    if (n == 0) {
        // an empty list has no List<scalar> tag; in binary, no brackets
        out.put(binary ? "nonuniform 0" : "nonuniform 0()", binary ? 12 : 14);
        return;
    }
    std::string count = std::to_string(n);
    out.put("nonuniform List<scalar> ", 24);
    if (binary) {
        out.put("\n", 1);
        out.put(count.data(), count.size());
        out.put("\n(", 2);
        for (std::size_t i = 0; i < n; ++i) {
            double v = at(i);
            std::memcpy(out.room(), &v, sizeof v);
            out.advance(sizeof v);
        }
        out.put(")", 1);
        return;
    }
    if (n <= kShortList) {
        out.put(count.data(), count.size());
        out.put("(", 1);
        for (std::size_t i = 0; i < n; ++i) {
            if (i)
                out.put(" ", 1);
            out.advance(num.format(at(i), out.room()));
        }
        out.put(")", 1);
        return;
    }
    out.put("\n", 1);
    out.put(count.data(), count.size());
    out.put("\n(\n", 3);
    for (std::size_t i = 0; i < n; ++i) {
        char *p = out.room();
        std::size_t len = num.format(at(i), p);
        p[len] = '\n';
        out.advance(len + 1);
    }
    out.put(")\n", 2);
}

enum class EditKind {
    internal,      // internalField's value
    ref,           // $internalField: the old value
    value,         // a patch's value replaced
    insert_value,  // a patch's value added to an entry without one
    append,        // entries added at the end of boundaryField
};

struct Edit {
    const char *begin, *end;
    EditKind kind;
    std::size_t patch;
};

class Writer {
public:
    Writer(const FieldFile &f, const std::vector<foam::BoundaryPatch> &patches,
           const BoundaryCells &cells, int precision, Out &out)
        : f_(f), patches_(patches), cells_(cells), out_(out), num_(precision)
    {
    }

    void write()
    {
        std::vector<Edit> edits;
        edits.push_back({f_.internal.begin, f_.internal.end, EditKind::internal, 0});
        for (const Span &r : f_.refs)
            edits.push_back({r.begin, r.end, EditKind::ref, 0});
        for (std::size_t p = 0; p < patches_.size(); ++p) {
            const PatchPlan &plan = f_.patches[p];
            if (plan.kind != PatchKind::adjacent)
                continue;
            if (!plan.literal) {
                appended_.push_back(p);
                continue;
            }
            const PatchEntry &e = f_.entries[static_cast<std::size_t>(plan.entry)];
            if (e.value.begin)
                edits.push_back({e.value.begin, e.value.end, EditKind::value, p});
            else
                edits.push_back({e.body.end, e.body.end, EditKind::insert_value, p});
        }
        if (!appended_.empty())
            edits.push_back({f_.boundary_close, f_.boundary_close, EditKind::append, 0});
        std::stable_sort(edits.begin(), edits.end(),
                         [](const Edit &a, const Edit &b) { return a.begin < b.begin; });
        emit(f_.text.begin(), f_.text.end(), edits);
    }

private:
    // The text of [from, to) with the edits inside it applied; an edit
    // inside one already applied is dropped.
    void emit(const char *from, const char *to, const std::vector<Edit> &edits)
    {
        const char *at = from;
        for (const Edit &e : edits) {
            if (e.begin < at || e.begin < from || e.end > to)
                continue;
            out_.put(at, static_cast<std::size_t>(e.begin - at));
            apply(e);
            at = e.end;
        }
        out_.put(at, static_cast<std::size_t>(to - at));
    }

    void put_patch_value(std::size_t p)
    {
        const foam::Patch &patch = patches_[p].patch;
        const label *owner =
            cells_.owner.data() + (patch.start - cells_.first_face);
        put_field_value(out_, f_.header.binary, num_, static_cast<std::size_t>(patch.size),
                        [&](std::size_t i) {
                            return f_.values[static_cast<std::size_t>(owner[i])];
                        });
    }

    void put_str(std::string_view s) { out_.put(s.data(), s.size()); }

    void apply(const Edit &e)
    {
        switch (e.kind) {
        case EditKind::internal:
            put_field_value(out_, f_.header.binary, num_, f_.values.size(),
                            [&](std::size_t i) { return f_.values[i]; });
            break;
        case EditKind::ref:
            out_.put(f_.internal.begin,
                     static_cast<std::size_t>(f_.internal.end - f_.internal.begin));
            break;
        case EditKind::value:
            put_patch_value(e.patch);
            break;
        case EditKind::insert_value:
            put_str(" value ");
            put_patch_value(e.patch);
            put_str("; ");
            break;
        case EditKind::append:
            for (std::size_t p : appended_)
                append_entry(p);
            break;
        }
    }

    // An entry bearing the patch's own name, a copy of the one it took by
    // group or pattern, which OpenFOAM then prefers.
    void append_entry(std::size_t p)
    {
        const PatchEntry &e = f_.entries[static_cast<std::size_t>(f_.patches[p].entry)];
        std::vector<Edit> inside;
        for (const Span &r : f_.refs)
            inside.push_back({r.begin, r.end, EditKind::ref, 0});
        if (e.value.begin)
            inside.push_back({e.value.begin, e.value.end, EditKind::value, p});
        else
            inside.push_back({e.body.end, e.body.end, EditKind::insert_value, p});
        std::stable_sort(inside.begin(), inside.end(),
                         [](const Edit &a, const Edit &b) { return a.begin < b.begin; });
        put_str("    ");
        put_str(patches_[p].patch.name);
        put_str("\n    {");
        emit(e.body.begin, e.body.end, inside);
        put_str("}\n");
    }

    const FieldFile &f_;
    const std::vector<foam::BoundaryPatch> &patches_;
    const BoundaryCells &cells_;
    Out &out_;
    NumberText num_;
    std::vector<std::size_t> appended_;
};

}  // namespace

void write_field(const FieldFile &f, const std::vector<foam::BoundaryPatch> &patches,
                 const BoundaryCells &cells, int precision, Out &out)
{
    Writer(f, patches, cells, precision, out).write();
    out.finish();
}

}  // namespace orbset
