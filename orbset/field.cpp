#include "field.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "foam/bad.h"
#include "foam/dict.h"
#include "foam/regex.h"

namespace orbset {

namespace {

using foam::Cursor;
using foam::DictEntry;
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

[[noreturn]] void fail_at(const DictEntry &e, const std::string &what)
{
    Cursor(*e.file).fail(e.key_at, what);
}

// What a field's value is for, in the line that refuses one of another
// size: "internalField" and the mesh's cells, or a patch's value and its
// faces; and what the user can do about it.
struct ValueOf {
    std::string what;  // "internalField", "the value of patch inlet"
    std::string items; // "the mesh 8001 cells", "its 20 faces"
    std::string hint;  // "" or "; ..."
};

// One value of the field's type at c: a number, or "(a b c ...)".
void read_item(Cursor &c, FieldType type, double *out, const char *what)
{
    if (type == FieldType::scalar) {
        *out = foam::read_scalar(c, what);
        return;
    }
    foam::expect(c, '(', what);
    for (int k = 0; k < components(type); ++k)
        out[k] = foam::read_scalar(c, what);
    foam::expect(c, ')', what);
}

// A field's value for n items: "uniform V", "nonuniform [List<T>] list",
// or a bare scalar V as OpenFOAM 2.0 wrote it. Reads the values into out
// (n x components) when given; returns whether the value is uniform.
bool read_field_value(Cursor &c, const foam::Header &h, FieldType type, label n,
                      std::vector<double> *out, const ValueOf &of)
{
    const char *what = of.what.c_str();
    const auto nc = static_cast<std::size_t>(components(type));
    foam::skip_space(c);
    Token t = foam::peek_token(c);
    if (t.is_word("uniform") || (t.kind == Tok::number && type == FieldType::scalar)) {
        if (t.is_word("uniform"))
            foam::next_token(c);
        double v[9];
        read_item(c, type, v, what);
        if (out) {
            out->resize(static_cast<std::size_t>(n) * nc);
            for (std::size_t i = 0; i < out->size(); ++i)
                (*out)[i] = v[i % nc];
        }
        return true;
    }
    if (t.is_word("nonuniform")) {
        foam::next_token(c);
        foam::skip_space(c);
        Token tag = foam::peek_token(c);
        if (tag.kind == Tok::word) {
            const std::string want = std::string("List<") + item_name(type) + ">";
            if (tag.text != want)
                c.fail(tag.at, "expected a list of " + std::string(item_name(type)) + "s (" + want +
                                   "), found " + foam::describe(tag));
            foam::next_token(c);
        }
        const char *at = c.p;
        std::vector<double> v;
        std::size_t count;
        if (type == FieldType::scalar) {
            v = foam::read_scalar_list(c, h, foam::bytes_left(c));
            count = v.size();
        } else {
            v = foam::read_tuple_list(c, h, nc, foam::bytes_left(c));
            count = v.size() / nc;
        }
        if (count != static_cast<std::size_t>(n))
            c.fail(at, of.what + " holds " + std::to_string(count) + " values, " + of.items +
                           of.hint);
        if (out)
            *out = std::move(v);
        return false;
    }
    c.fail(t.at, std::string("expected uniform or nonuniform for ") + what + ", found " +
                     foam::describe(t));
}

// The header a value is read with: the file's, or ascii for a value whose
// variables were expanded into text.
foam::Header header_for(const FieldFile &f, const DictEntry &e)
{
    if (e.text == f.text.get())
        return f.header;
    foam::Header ascii;
    ascii.cls = f.header.cls;
    return ascii;
}

}  // namespace

FieldFile read_field(foam::Text text, FieldType type, label n_cells, const foam::Includes &inc,
                     const std::string &mesh_hint)
{
    FieldFile f;
    f.text = std::make_unique<foam::Text>(std::move(text));
    f.dict = std::make_unique<foam::ReadDictionary>();
    f.type = type;
    Cursor c(*f.text);
    f.header = foam::read_header(c);
    if (f.header.cls != class_name(type))
        refuse(c, f.text->begin(),
               "class " + f.header.cls + " where the dictionary sets a " + class_name(type) +
                   " (setFields takes such a field as missing)");
    foam::read_dictionary(c, f.header, inc, *f.dict);
    const foam::Dictionary &d = f.dict->dict;

    f.internal = d.lookup("internalField");
    f.boundary = d.lookup("boundaryField");
    if (!f.internal || !f.boundary)
        c.fail(f.text->end(), std::string("no ") + (f.internal ? "boundaryField" : "internalField"));
    if (f.internal->is_dict())
        fail_at(*f.internal, "internalField is a dictionary");
    if (f.internal->file != f.text.get() || f.internal->copied)
        fail_at(*f.internal, "internalField is written in another file, which orbset does not "
                             "change" + std::string(kUseSetFields));
    if (!f.boundary->is_dict())
        fail_at(*f.boundary, "boundaryField is not a dictionary");
    if (f.boundary->file != f.text.get())
        fail_at(*f.boundary, "the last block of boundaryField is in another file, where orbset "
                             "adds no entry" + std::string(kUseSetFields));

    Cursor v = f.internal->cursor();
    ValueOf of{"internalField", "the mesh " + std::to_string(n_cells) + " cells",
               mesh_hint.empty() ? "; the field was written for another mesh: give it "
                                   "\"internalField uniform <value>;\", or copy it anew from "
                                   "where the case keeps its initial fields"
                                 : mesh_hint};
    f.internal_uniform =
        read_field_value(v, header_for(f, *f.internal), type, n_cells, &f.values, of);
    f.internal->expect_end(v, "internalField");

    for (const foam::VarRef &r : f.dict->refs)
        if (r.file == f.text.get())
            f.refs.push_back({r.begin, r.end, r.target});
    return f;
}

namespace {

bool in_group(const foam::BoundaryPatch &p, std::string_view group)
{
    return std::find(p.groups.begin(), p.groups.end(), group) != p.groups.end();
}

// A patch entry's word entry `key`, as OpenFOAM reads its type.
std::string word_of(const DictEntry &patch, const char *key)
{
    const DictEntry *e = patch.dict->lookup(key);
    if (!e)
        return "";
    if (e->is_dict())
        fail_at(*e, std::string(key) + " is a dictionary");
    return e->read(key, [&](Cursor &c) {
        Token t = foam::next_token(c);
        if (t.kind != Tok::word)
            c.fail(t.at, std::string("expected the ") + key + " of " + patch.key + ", found " +
                             foam::describe(t));
        return std::string(t.text);
    });
}

}  // namespace

void resolve_patches(FieldFile &f, const std::vector<foam::BoundaryPatch> &patches,
                     const std::vector<std::string> &libs, std::vector<std::string> &warnings,
                     bool every_type)
{
    const foam::Dictionary &bf = *f.boundary->dict;
    f.patches.assign(patches.size(), PatchPlan{});
    f.out.assign(patches.size(), PatchOut{});
    std::vector<bool> set(patches.size(), false);
    auto give = [&](std::size_t p, const DictEntry *e) {
        f.patches[p].entry = e;
        set[p] = true;
    };
    // 1. entries bearing a patch's name
    for (const auto &e : bf.entries)
        for (std::size_t p = 0; p < patches.size(); ++p)
            if (e->is_dict() && !e->pattern && e->key == patches[p].patch.name)
                give(p, e.get());
    // 2. entries bearing a group's name, the last one first
    for (auto it = bf.entries.rbegin(); it != bf.entries.rend(); ++it)
        for (std::size_t p = 0; p < patches.size(); ++p)
            if (!set[p] && (*it)->is_dict() && !(*it)->pattern && in_group(patches[p], (*it)->key))
                give(p, it->get());
    // 3. empty patches need none; the rest by pattern, the last one first
    for (std::size_t p = 0; p < patches.size(); ++p) {
        if (set[p])
            continue;
        if (patches[p].patch.type == "empty") {
            set[p] = true;
            continue;
        }
        const DictEntry *e = bf.lookup(patches[p].patch.name);
        if (!e)
            Cursor(*f.boundary->file)
                .fail(f.boundary->close, "boundaryField has no entry for patch " +
                                             patches[p].patch.name);
        if (!e->is_dict())
            fail_at(*e, "the entry for patch " + patches[p].patch.name + " is not a dictionary");
        give(p, e);
    }

    std::vector<const DictEntry *> warned;
    for (std::size_t p = 0; p < patches.size(); ++p) {
        PatchPlan &plan = f.patches[p];
        if (!plan.entry)
            continue;
        const DictEntry &e = *plan.entry;
        plan.in_place = !e.pattern && e.key == patches[p].patch.name && e.file == f.text.get() &&
                        !e.merged && !e.copied;
        plan.type = word_of(e, "type");
        if (plan.type.empty())
            fail_at(e, "the entry of " + foam::keyword_text_of(e.key, e.pattern) + " has no type");
        plan.rule = patch_rule(plan.type, libs, every_type);
        if (plan.rule.kind == PatchKind::unknown &&
            std::find(warned.begin(), warned.end(), &e) == warned.end()) {
            warned.push_back(&e);
            warnings.push_back(foam::one_line(
                e.file->name + ": line " + std::to_string(foam::line_of(*e.file, e.key_at)) +
                ": patch " + foam::keyword_text_of(e.key, e.pattern) + ": type " + plan.type +
                " is not one orbset knows; its entry is kept as written"));
        }
        // a gradient makes the value the cells' plus it over the distance
        // to the cells' centres, which orbset does not work out
        if (plan.rule.reset && plan.type.ends_with("AlphaContactAngle")) {
            if (const DictEntry *g = e.dict->lookup("gradient")) {
                Cursor v = g->cursor();
                std::vector<double> grad;
                read_field_value(v, header_for(f, *g), f.type, patches[p].patch.size, &grad,
                                 {"the gradient of patch " + patches[p].patch.name,
                                  "its " + std::to_string(patches[p].patch.size) + " faces", ""});
                if (std::any_of(grad.begin(), grad.end(), [](double x) { return x != 0; }))
                    fail_at(*g, "patch " + patches[p].patch.name + ": type " + plan.type +
                                    " with a gradient, whose value depends on the mesh's "
                                    "spacing" + kUseSetFields);
            }
        }
        const DictEntry *value = e.dict->lookup("value");
        if (plan.rule.value == ValueRead::required && !value)
            fail_at(e, "patch " + patches[p].patch.name + ": type " + plan.type +
                           (plan.rule.generic ? ", which setFields does not know and reads as "
                                                "a generic patch field,"
                                              : "") +
                           " without its value, at which setFields stops (\"Essential entry "
                           "'value' missing\")");
        // a value that is read must be one OpenFOAM reads, of the patch's size
        bool read = plan.rule.value != ValueRead::ignored || plan.rule.kind == PatchKind::unknown;
        if (read && value) {
            if (value->is_dict())
                fail_at(*value, "the value of patch " + patches[p].patch.name +
                                    " is a dictionary");
            Cursor v = value->cursor();
            read_field_value(v, header_for(f, *value), f.type, patches[p].patch.size, nullptr,
                             {"the value of patch " + patches[p].patch.name,
                              "its " + std::to_string(patches[p].patch.size) + " faces", ""});
            value->expect_end(v, "a patch's value");
        }
    }
}

namespace {

// A Function1 of time at `time`, as uniformFixedValue evaluates it when
// read: "constant V", "V", or "table ((t V) ...)" interpolated linearly
// and clamped at its ends (TableBase::value, linearInterpolationWeights).
void function_of_time(Cursor &c, const DictEntry &source, FieldType type, double time,
                      double *out)
{
    const int nc = components(type);
    foam::skip_space(c);
    Token t = foam::peek_token(c);
    if (t.is_word("constant")) {
        foam::next_token(c);
    } else if (t.is_word("table")) {
        foam::next_token(c);
        std::vector<double> x;
        std::vector<std::array<double, 9>> y;
        foam::expect(c, '(', "opening the table");
        while (!foam::list_ends(c)) {
            foam::expect(c, '(', "opening a row of the table");
            x.push_back(foam::read_scalar(c, "a time of the table"));
            y.emplace_back();
            read_item(c, type, y.back().data(), "a value of the table");
            foam::expect(c, ')', "closing a row of the table");
        }
        foam::expect(c, ')', "closing the table");
        if (x.empty())
            fail_at(source, source.key + ": an empty table");
        std::size_t lower = 0;  // findLower: the last time below `time`
        bool any = false;
        for (std::size_t i = 0; i < x.size(); ++i)
            if (x[i] < time) {
                lower = i;
                any = true;
            }
        if (time < x.front() || !any) {
            std::copy(y.front().begin(), y.front().begin() + nc, out);
        } else if (time > x.back() || lower == x.size() - 1) {
            std::copy(y.back().begin(), y.back().begin() + nc, out);
        } else {
            const double w0 = (x[lower + 1] - time) / (x[lower + 1] - x[lower]);
            const double w1 = 1.0 - w0;
            for (int k = 0; k < nc; ++k)
                out[k] = w0 * y[lower][static_cast<std::size_t>(k)] +
                         w1 * y[lower + 1][static_cast<std::size_t>(k)];
        }
        return;
    } else if (t.kind == Tok::word) {
        fail_at(source, source.key + " is a function of time orbset does not evaluate (" +
                            std::string(t.text) + "); setFields writes its value at the start "
                            "time" + kUseSetFields);
    }
    read_item(c, type, out, source.key.c_str());
}

}  // namespace

std::vector<double> patch_values(const FieldFile &f, std::size_t p,
                                 const std::vector<foam::BoundaryPatch> &patches, double time)
{
    const PatchPlan &plan = f.patches[p];
    const DictEntry *e = plan.entry;
    const DictEntry *value = e ? e->dict->lookup("value") : nullptr;
    const char *from = plan.rule.value_from;
    const std::string name = "patch " + patches[p].patch.name;
    const label n = patches[p].patch.size;
    std::vector<double> v;
    if (!value && from && *from && e) {
        const DictEntry *source = e->dict->lookup(from);
        if (!source || source->is_dict())
            fail_at(*e, name + " of type " + plan.type + " has neither value nor " + from +
                            kUseSetFields);
        Cursor c = source->cursor();
        if (std::string_view(from).starts_with("uniform")) {
            double item[9];
            function_of_time(c, *source, f.type, time, item);
            const auto nc = static_cast<std::size_t>(f.components());
            v.resize(static_cast<std::size_t>(n) * nc);
            for (std::size_t i = 0; i < v.size(); ++i)
                v[i] = item[i % nc];
        } else {
            read_field_value(c, header_for(f, *source), f.type, n, &v,
                             {std::string(from) + " of " + name,
                              "its " + std::to_string(n) + " faces", ""});
        }
        source->expect_end(c, from);
        return v;
    }
    if (!value)
        fail_at(e ? *e : *f.boundary, name + " of type " + plan.type +
                                          " has no value whose faces a region could set" +
                                          kUseSetFields);
    Cursor c = value->cursor();
    read_field_value(c, header_for(f, *value), f.type, n, &v,
                     {"the value of " + name, "its " + std::to_string(n) + " faces", ""});
    return v;
}

namespace {

// Writes a field's value for the n items whose components at(i, k) gives,
// as OpenFOAM's Field::writeEntry does: "uniform V" when every item is the
// same, else a nonuniform list in the file's format.
template <class At>
void put_field_value(Out &out, bool binary, NumberText &num, FieldType type, std::size_t n, At at)
{
    const int nc = components(type);
    auto same = [&](std::size_t i) {
        for (int k = 0; k < nc; ++k)
            if (!(at(i, k) == at(0, k)))
                return false;
        return true;
    };
    auto put_item = [&](std::size_t i) {
        if (type == FieldType::scalar) {
            out.advance(num.format(at(i, 0), out.room()));
            return;
        }
        out.put("(", 1);
        for (int k = 0; k < nc; ++k) {
            if (k)
                out.put(" ", 1);
            out.advance(num.format(at(i, k), out.room()));
        }
        out.put(")", 1);
    };
    bool uniform = n > 0;
    for (std::size_t i = 1; i < n && uniform; ++i)
        uniform = same(i);
    if (uniform) {
        out.put("uniform ", 8);
        put_item(0);
        return;
    }
    if (n == 0) {
        // an empty list has no List<T> tag; in binary, no brackets
        out.put(binary ? "nonuniform 0" : "nonuniform 0()", binary ? 12 : 14);
        return;
    }
    std::string count = std::to_string(n);
    std::string tag = std::string("nonuniform List<") + item_name(type) + "> ";
    out.put(tag.data(), tag.size());
    if (binary) {
        out.put("\n", 1);
        out.put(count.data(), count.size());
        out.put("\n(", 2);
        for (std::size_t i = 0; i < n; ++i)
            for (int k = 0; k < nc; ++k) {
                double v = at(i, k);
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
            put_item(i);
        }
        out.put(")", 1);
        return;
    }
    out.put("\n", 1);
    out.put(count.data(), count.size());
    out.put("\n(\n", 3);
    for (std::size_t i = 0; i < n; ++i) {
        put_item(i);
        out.put("\n", 1);
    }
    out.put(")\n", 2);
}

enum class EditKind {
    internal,      // internalField's value
    ref,           // a $variable naming an entry that changes: its old value
    value,         // a patch's value replaced
    insert_value,  // a patch's value added at the end of its entry
    drop,          // a patch's value removed, keyword to ';'
    append,        // entries added at the end of boundaryField
};

struct Edit {
    const char *begin, *end;
    EditKind kind;
    std::size_t patch;
    const DictEntry *target = nullptr;  // of a ref
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
        edits.push_back({f_.internal->written_begin, f_.internal->written_end,
                         EditKind::internal, 0});
        for (std::size_t p = 0; p < patches_.size(); ++p) {
            const PatchPlan &plan = f_.patches[p];
            if (f_.out[p].how == PatchOut::How::keep)
                continue;
            if (!plan.in_place) {
                appended_.push_back(p);
                continue;
            }
            const DictEntry *value = plan.entry->dict->find("value");
            const bool here = value && value->file == f_.text.get() && !value->copied;
            if (f_.out[p].how == PatchOut::How::drop) {
                if (!here) {
                    appended_.push_back(p);  // a copy of its own, without the value
                    continue;
                }
                edits.push_back({value->key_at, value->written_end + 1, EditKind::drop, p});
            } else if (here) {
                edits.push_back({value->written_begin, value->written_end, EditKind::value, p});
            } else {
                edits.push_back({plan.entry->close, plan.entry->close, EditKind::insert_value, p});
            }
        }
        for (const DictEntry *e : edited_entries(edits))
            changed_.push_back(e);
        for (const Ref &r : f_.refs)
            if (changes(r.target))
                edits.push_back({r.begin, r.end, EditKind::ref, 0, r.target});
        if (!appended_.empty())
            edits.push_back({f_.boundary->close, f_.boundary->close, EditKind::append, 0});
        std::stable_sort(edits.begin(), edits.end(),
                         [](const Edit &a, const Edit &b) { return a.begin < b.begin; });
        emit(f_.text->begin(), f_.text->end(), edits, nullptr);
    }

private:
    // The entries whose values the edits replace.
    std::vector<const DictEntry *> edited_entries(const std::vector<Edit> &edits) const
    {
        std::vector<const DictEntry *> out{f_.internal};
        for (const Edit &e : edits)
            if (e.kind == EditKind::value)
                out.push_back(f_.patches[e.patch].entry->dict->find("value"));
        return out;
    }

    // Whether a variable names an entry whose value the file will not hold
    // any more: internalField (any of its definitions) or a value replaced.
    bool changes(const DictEntry *target) const
    {
        if (target->key == "internalField")
            return true;
        return std::find(changed_.begin(), changed_.end(), target) != changed_.end();
    }

    // The text of [from, to) with the edits inside it applied; an edit
    // inside one already applied is dropped. `patch`, for the text of an
    // entry copied to be appended, is the patch it is copied for.
    void emit(const char *from, const char *to, const std::vector<Edit> &edits,
              const std::size_t *patch)
    {
        const char *at = from;
        for (const Edit &e : edits) {
            if (e.begin < at || e.begin < from || e.end > to)
                continue;
            out_.put(at, static_cast<std::size_t>(e.begin - at));
            apply(e, patch);
            at = e.end;
        }
        out_.put(at, static_cast<std::size_t>(to - at));
    }

    void put_patch_value(std::size_t p)
    {
        const PatchOut &o = f_.out[p];
        const foam::Patch &patch = patches_[p].patch;
        const auto nc = static_cast<std::size_t>(f_.components());
        if (o.how == PatchOut::How::values) {
            put_field_value(out_, f_.header.binary, num_, f_.type,
                            static_cast<std::size_t>(patch.size), [&](std::size_t i, int k) {
                                return o.values[i * nc + static_cast<std::size_t>(k)];
                            });
            return;
        }
        const label *owner = cells_.owner.data() + (patch.start - cells_.first_face);
        put_field_value(out_, f_.header.binary, num_, f_.type,
                        static_cast<std::size_t>(patch.size), [&](std::size_t i, int k) {
                            return f_.values[static_cast<std::size_t>(owner[i]) * nc +
                                             static_cast<std::size_t>(k)];
                        });
    }

    void put_str(std::string_view s) { out_.put(s.data(), s.size()); }

    void apply(const Edit &e, const std::size_t *patch)
    {
        switch (e.kind) {
        case EditKind::internal: {
            const auto nc = static_cast<std::size_t>(f_.components());
            put_field_value(out_, f_.header.binary, num_, f_.type, f_.values.size() / nc,
                            [&](std::size_t i, int k) {
                                return f_.values[i * nc + static_cast<std::size_t>(k)];
                            });
            break;
        }
        case EditKind::ref:
            put_str(std::string(e.target->value()));
            break;
        case EditKind::value:
            put_patch_value(patch ? *patch : e.patch);
            break;
        case EditKind::insert_value:
            put_str(" value ");
            put_patch_value(patch ? *patch : e.patch);
            put_str("; ");
            break;
        case EditKind::drop:
            break;
        case EditKind::append:
            for (std::size_t p : appended_)
                append_entry(p);
            break;
        }
    }

    // An entry bearing the patch's own name, which OpenFOAM then prefers:
    // a copy of the one it took by group, pattern or from another file,
    // with its new value.
    void append_entry(std::size_t p)
    {
        const DictEntry &e = *f_.patches[p].entry;
        put_str("    ");
        put_str(patches_[p].patch.name);
        put_str("\n    {");
        const DictEntry *value = e.dict->find("value");
        const bool here = value && value->file == e.file && !value->copied;
        const bool drop = f_.out[p].how == PatchOut::How::drop;
        if (!e.merged && !e.copied && e.close && (here || !drop)) {
            // written in one block: its text, the refs in it and the value edited
            const char *body = e.key_at;
            while (*body != '{')
                ++body;
            ++body;
            // the value first: a ref inside it, at its start, goes with it
            std::vector<Edit> inside;
            if (drop)
                inside.push_back({value->key_at, value->written_end + 1, EditKind::drop, p});
            else if (here)
                inside.push_back({value->written_begin, value->written_end, EditKind::value, p});
            else
                inside.push_back({e.close, e.close, EditKind::insert_value, p});
            for (const foam::VarRef &r : f_.dict->refs)
                if (r.file == e.file && r.begin >= body && r.end <= e.close &&
                    changes(r.target))
                    inside.push_back({r.begin, r.end, EditKind::ref, 0, r.target});
            std::stable_sort(inside.begin(), inside.end(),
                             [](const Edit &a, const Edit &b) { return a.begin < b.begin; });
            emit(body, e.close, inside, &p);
        } else {
            // made of several blocks: its entries, as they were read
            for (const auto &x : e.dict->entries) {
                if (x->key == "value")
                    continue;
                put_str(" ");
                put_str(foam::keyword_text_of(x->key, x->pattern));
                put_str(" ");
                if (x->is_dict())
                    put_str("{ " + flat(*x) + " }");
                else
                    put_str(std::string(x->value()) + ";");
            }
            if (f_.out[p].how != PatchOut::How::drop) {
                put_str(" value ");
                put_patch_value(p);
                put_str("; ");
            }
        }
        put_str("}\n");
    }

    std::string flat(const DictEntry &d) const
    {
        std::string s;
        for (const auto &x : d.dict->entries)
            s += foam::keyword_text_of(x->key, x->pattern) + " " +
                 (x->is_dict() ? "{ " + flat(*x) + " }" : std::string(x->value()) + ";") + " ";
        return s;
    }

    const FieldFile &f_;
    const std::vector<foam::BoundaryPatch> &patches_;
    const BoundaryCells &cells_;
    Out &out_;
    NumberText num_;
    std::vector<std::size_t> appended_;
    std::vector<const DictEntry *> changed_;
};

}  // namespace

void write_field(const FieldFile &f, const std::vector<foam::BoundaryPatch> &patches,
                 const BoundaryCells &cells, int precision, Out &out)
{
    Writer(f, patches, cells, precision, out).write();
    out.finish();
}

}  // namespace orbset
