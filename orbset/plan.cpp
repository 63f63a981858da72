#include "plan.h"

#include <algorithm>
#include <climits>

#include "foam/bad.h"
#include "foam/dict.h"

namespace orbset {

namespace {

using foam::Cursor;
using foam::DictEntry;
using foam::Dictionary;
using foam::Tok;
using foam::Token;

constexpr const char *kUseSetFields = "; use setFields for this dictionary";

struct TypeInfo {
    FieldType type;
    const char *value_word, *class_name, *item;
    int components;
};

// The value words setFields 1912 takes, as <class>Value.
constexpr TypeInfo kTypes[] = {
    {FieldType::scalar, "volScalarFieldValue", "volScalarField", "scalar", 1},
    {FieldType::vector, "volVectorFieldValue", "volVectorField", "vector", 3},
    {FieldType::sphericalTensor, "volSphericalTensorFieldValue", "volSphericalTensorField",
     "sphericalTensor", 1},
    {FieldType::symmTensor, "volSymmTensorFieldValue", "volSymmTensorField", "symmTensor", 6},
    {FieldType::tensor, "volTensorFieldValue", "volTensorField", "tensor", 9},
};

const TypeInfo &info(FieldType t) { return kTypes[static_cast<int>(t)]; }

[[noreturn]] void refuse(const Cursor &c, const char *at, const std::string &what)
{
    c.fail(at, what + kUseSetFields);
}

struct SourceInfo {
    const char *keyword;
    Region::Source source;
};

constexpr SourceInfo kSources[] = {
    {"boxToCell", Region::Source::box},
    {"sphereToCell", Region::Source::sphere},
    {"cylinderToCell", Region::Source::cylinder},
    {"rotatedBoxToCell", Region::Source::rotated_box},
    {"zoneToCell", Region::Source::zone},
    {"labelToCell", Region::Source::labels},
    {"cellToCell", Region::Source::cell_set},
    {"boxToFace", Region::Source::face_box},
    {"patchToFace", Region::Source::face_patch},
    {"zoneToFace", Region::Source::face_zone},
    {"labelToFace", Region::Source::face_labels},
    {"faceToFace", Region::Source::face_set},
    {"boundaryToFace", Region::Source::face_boundary},
};

std::string source_list()
{
    std::string s;
    for (const SourceInfo &i : kSources)
        s += (s.empty() ? "" : ", ") + std::string(i.keyword);
    return s;
}

class Reader {
public:
    Reader(const foam::Text &t, const foam::Includes &inc) : text_(t), inc_(inc), c_(t) {}

    Plan read()
    {
        plan_.name = text_.name;
        foam::skip_space(c_);
        if (c_.at_end())
            c_.fail("the dictionary is empty: it holds no region (orbfill writes it so when "
                    "dump.txt holds no sphere record)");
        h_ = foam::read_header(c_);
        foam::read_dictionary(c_, h_, inc_, dict_);
        for (const char *key : {"defaultFieldValues", "regions"})
            for (const auto &e : dict_.replaced)
                if (e->key == key && e->file == &text_)
                    refuse(c_, e->key_at, std::string(key) + " given twice");
        if (const DictEntry *d = dict_.dict.lookup("defaultFieldValues")) {
            Cursor c = value_of(*d, "defaultFieldValues");
            read_settings(c, plan_.defaults, "defaultFieldValues");
            foam::expect_value_end(c, range(*d), "defaultFieldValues");
        }
        const DictEntry *regions = dict_.dict.lookup("regions");
        if (!regions)
            c_.fail(text_.end(), "no regions: setFields stops without them (write \"regions ();\" "
                                 "for the default values alone)");
        Cursor c = value_of(*regions, "regions");
        read_regions(c);
        foam::expect_value_end(c, range(*regions), "regions");
        return std::move(plan_);
    }

private:
    static foam::Entry range(const DictEntry &e)
    {
        foam::Entry r{};
        r.end = e.end;
        return r;
    }

    Cursor value_of(const DictEntry &e, const char *what)
    {
        if (e.is_dict())
            Cursor(*e.file).fail(e.key_at, std::string(what) +
                                               " is a dictionary, where setFields reads a list");
        return e.cursor();
    }

    double scalar(Cursor &c, const char *what) { return foam::read_scalar(c, what); }

    Vec vector(Cursor &c, const char *what) { return foam::read_vector(c, what); }

    int field_index(std::string_view name, FieldType type, const Cursor &c, const char *at)
    {
        for (std::size_t i = 0; i < plan_.fields.size(); ++i)
            if (plan_.fields[i].name == name) {
                if (plan_.fields[i].type != type)
                    refuse(c, at, std::string(name) + " set as a " + info(type).class_name +
                                      " and as a " + info(plan_.fields[i].type).class_name);
                return static_cast<int>(i);
            }
        plan_.fields.push_back({std::string(name), type});
        return static_cast<int>(plan_.fields.size() - 1);
    }

    // The start of a list: "(" or "N (". Returns the size, or -1.
    long long open_list(Cursor &c, const char *what)
    {
        Token t = foam::next_token(c);
        long long n = -1;
        if (t.kind == Tok::number && t.num.is_label && t.num.label >= 0) {
            n = t.num.label;
            t = foam::next_token(c);
        }
        if (!t.is('('))
            c.fail(t.at, std::string("expected the list of ") + what + ", found " +
                             foam::describe(t));
        return n;
    }

    void close_list(Cursor &c, long long n, long long got, const char *what)
    {
        if (n >= 0 && n != got)
            c.fail(c.p, std::string("the list of ") + what + " holds " + std::to_string(got) +
                            " entries where its size says " + std::to_string(n));
        foam::expect(c, ')', "closing the list");
    }

    // A value of the field's type, as pTraits reads it: a number, or
    // "(a b c ...)" of its components.
    Value value(Cursor &c, FieldType type)
    {
        Value v{};
        const int n = info(type).components;
        if (type == FieldType::scalar) {
            v[0] = scalar(c, "the field's value");
            return v;
        }
        foam::expect(c, '(', (std::string("opening a ") + info(type).item).c_str());
        for (int k = 0; k < n; ++k)
            v[static_cast<std::size_t>(k)] = scalar(c, "the field's value");
        foam::expect(c, ')', (std::string("closing a ") + info(type).item).c_str());
        return v;
    }

    // ( volScalarFieldValue name value ... )
    void read_settings(Cursor &c, std::vector<Setting> &out, const char *what)
    {
        long long n = open_list(c, what);
        long long got = 0;
        for (; !foam::list_ends(c); ++got) {
            Token type = foam::next_token(c);
            if (type.kind != Tok::word)
                c.fail(type.at, "expected a field value such as volScalarFieldValue, found " +
                                    foam::describe(type));
            Token name = foam::next_token(c);
            if (name.kind != Tok::word)
                c.fail(name.at, "expected a field name after " + std::string(type.text) +
                                    ", found " + foam::describe(name));
            const TypeInfo *ti = nullptr;
            for (const TypeInfo &i : kTypes)
                if (type.text == i.value_word)
                    ti = &i;
            if (!ti)
                refuse(c, type.at,
                       std::string(type.text) + " " + std::string(name.text) +
                           ": orbset sets volume fields (volScalarFieldValue, volVectorFieldValue, "
                           "volSphericalTensorFieldValue, volSymmTensorFieldValue, "
                           "volTensorFieldValue) only");
            int f = field_index(name.text, ti->type, c, type.at);
            out.push_back({f, value(c, ti->type)});
        }
        close_list(c, n, got, what);
    }

    void read_regions(Cursor &c)
    {
        long long n = open_list(c, "regions");
        long long got = 0;
        for (; !foam::list_ends(c); ++got) {
            Token source = foam::next_keyword(c);
            if (source.kind != Tok::word)
                c.fail(source.at, "expected a region such as boxToCell, found " +
                                      foam::describe(source));
            const SourceInfo *si = nullptr;
            for (const SourceInfo &i : kSources)
                if (source.text == i.keyword)
                    si = &i;
            if (!si)
                refuse(c, source.at,
                       std::string(source.text) + ": orbset applies the sources " + source_list() +
                           " only");
            foam::expect(c, '{', "opening the region");
            Dictionary region;
            const std::size_t replaced = dict_.replaced.size();
            foam::read_sub_dictionary(c, h_, inc_, dict_, region);
            if (dict_.replaced.size() > replaced)
                refuse(c, dict_.replaced.back()->key_at,
                       dict_.replaced.back()->key + " given twice in one region");
            read_region(c, source, *si, region);
        }
        close_list(c, n, got, "regions");
    }

    // The entry of a region that its source reads, as OpenFOAM looks it up.
    const DictEntry *find(const Dictionary &d, const char *key) { return d.lookup(key); }

    const DictEntry &need(const Cursor &c, const Token &source, const Dictionary &d,
                          const char *key, const char *what)
    {
        const DictEntry *e = find(d, key);
        if (!e)
            c.fail(source.at, std::string(source.text) + " without " + what);
        if (e->is_dict())
            Cursor(*e->file).fail(e->key_at, std::string(key) + " is a dictionary, where " +
                                                 std::string(source.text) + " reads a value");
        return *e;
    }

    // Reads a value of entry e with read, then expects its end.
    template <class Read>
    auto entry_value(const DictEntry &e, const char *what, Read read)
    {
        Cursor v = e.cursor();
        auto r = read(v);
        foam::expect_value_end(v, range(e), what);
        return r;
    }

    Vec point(const DictEntry &e, const char *what)
    {
        return entry_value(e, what, [&](Cursor &v) { return vector(v, what); });
    }

    double number(const DictEntry &e, const char *what)
    {
        return entry_value(e, what, [&](Cursor &v) { return scalar(v, what); });
    }

    Box box(Cursor &v, const char *what)
    {
        Box b;
        b.min = vector(v, what);
        b.max = vector(v, what);
        return b;
    }

    // boxes, else box, else min and max, as boxToCell and boxToFace take them.
    void boxes(const Cursor &c, const Token &source, const Dictionary &d, Region &r)
    {
        r.first_box = plan_.boxes.size();
        if (const DictEntry *e = find(d, "boxes")) {
            entry_value(*e, "boxes", [&](Cursor &v) {
                long long n = open_list(v, "boxes");
                long long got = 0;
                for (; !foam::list_ends(v); ++got)
                    plan_.boxes.push_back(box(v, "a box's corner"));
                close_list(v, n, got, "boxes");
                return 0;
            });
        } else if (const DictEntry *e = find(d, "box")) {
            plan_.boxes.push_back(entry_value(*e, "box", [&](Cursor &v) { return box(v, "the box's corner"); }));
        } else {
            Box b;
            b.min = point(need(c, source, d, "min", "box, boxes, or min and max"), "a corner");
            b.max = point(need(c, source, d, "max", "box, boxes, or min and max"), "a corner");
            plan_.boxes.push_back(b);
        }
        r.n_boxes = plan_.boxes.size() - r.first_box;
    }

    // A wordRe or a list of them: word, "pattern", or (a "b.*" ...).
    std::vector<Name> names(const DictEntry &e, const char *what)
    {
        return entry_value(e, what, [&](Cursor &v) {
            std::vector<Name> out;
            auto one = [&](const Token &t) {
                if (t.kind != Tok::word && t.kind != Tok::string)
                    v.fail(t.at, std::string("expected a name in ") + what + ", found " +
                                     foam::describe(t));
                out.push_back({std::string(t.text), t.kind == Tok::string});
            };
            foam::skip_space(v);
            Token t = foam::peek_token(v);
            if (t.kind == Tok::number || t.is('(')) {
                long long n = open_list(v, what);
                long long got = 0;
                for (; !foam::list_ends(v); ++got)
                    one(foam::next_token(v));
                close_list(v, n, got, what);
            } else {
                one(foam::next_token(v));
            }
            return out;
        });
    }

    // `plural` when given, else `single` (or its older name `old`).
    std::vector<Name> names_of(const Cursor &c, const Token &source, const Dictionary &d,
                               const char *plural, const char *single, const char *old)
    {
        if (const DictEntry *e = find(d, plural))
            return names(*e, plural);
        const DictEntry *e = find(d, single);
        if (!e && old)
            e = find(d, old);
        if (!e)
            c.fail(source.at, std::string(source.text) + " without " + plural + " or " + single);
        return names(*e, single);
    }

    std::vector<label> labels(const DictEntry &e)
    {
        return entry_value(e, "value", [&](Cursor &v) {
            return foam::read_label_list(v, h_, {INT32_MIN, INT32_MAX, "label"},
                                         foam::bytes_left(v));
        });
    }

    void read_region(const Cursor &c, const Token &source, const SourceInfo &si,
                     const Dictionary &d)
    {
        Region r{};
        r.source = si.source;
        r.keyword = si.keyword;
        r.line = foam::line_of(*c.text, source.at);
        const DictEntry *values = find(d, "fieldValues");
        if (!values)
            c.fail(source.at, std::string(source.text) + " without fieldValues");
        r.first_setting = plan_.settings.size();
        Cursor v = value_of(*values, "fieldValues");
        read_settings(v, plan_.settings, "fieldValues");
        foam::expect_value_end(v, range(*values), "fieldValues");
        r.n_settings = plan_.settings.size() - r.first_setting;
        using S = Region::Source;
        switch (si.source) {
        case S::box:
        case S::face_box:
            boxes(c, source, d, r);
            break;
        case S::sphere: {
            // origin, else its older name centre, as getCompat looks them up
            const DictEntry *o = find(d, "origin");
            if (!o)
                o = find(d, "centre");
            if (!o)
                c.fail(source.at, "sphereToCell without its centre (origin) and radius");
            r.sphere.origin = point(*o, "the sphere's centre");
            r.sphere.radius =
                number(need(c, source, d, "radius", "its centre (origin) and radius"), "a radius");
            const DictEntry *inner = find(d, "innerRadius");
            r.sphere.inner_radius = inner ? number(*inner, "a radius") : 0;
            break;
        }
        case S::cylinder: {
            r.cylinder.p1 = point(need(c, source, d, "p1", "p1, p2 and radius"), "p1");
            r.cylinder.p2 = point(need(c, source, d, "p2", "p1, p2 and radius"), "p2");
            r.cylinder.radius = number(need(c, source, d, "radius", "p1, p2 and radius"), "a radius");
            const DictEntry *inner = find(d, "innerRadius");
            r.cylinder.inner_radius = inner ? number(*inner, "a radius") : 0;
            break;
        }
        case S::rotated_box:
            r.rotated.origin = point(need(c, source, d, "origin", "origin, i, j and k"), "origin");
            r.rotated.i = point(need(c, source, d, "i", "origin, i, j and k"), "i");
            r.rotated.j = point(need(c, source, d, "j", "origin, i, j and k"), "j");
            r.rotated.k = point(need(c, source, d, "k", "origin, i, j and k"), "k");
            break;
        case S::zone:
        case S::face_zone:
            r.names = names_of(c, source, d, "zones", "zone", "name");
            break;
        case S::face_patch:
            r.names = names_of(c, source, d, "patches", "patch", "name");
            break;
        case S::cell_set:
        case S::face_set:
            r.names = names_of(c, source, d, "sets", "set", nullptr);
            for (const Name &n : r.names)
                if (n.pattern)
                    c.fail(source.at, std::string(source.text) + ": a set is named by a word, not "
                                      "a pattern (\"" + n.text + "\")");
            break;
        case S::labels:
        case S::face_labels:
            r.labels = labels(need(c, source, d, "value", "value, its labels"));
            break;
        case S::face_boundary:
            break;
        }
        plan_.regions.push_back(std::move(r));
    }

    const foam::Text &text_;
    const foam::Includes &inc_;
    Cursor c_;
    foam::Header h_;
    foam::ReadDictionary dict_;
    Plan plan_;
};

}  // namespace

int components(FieldType t) { return info(t).components; }
const char *class_name(FieldType t) { return info(t).class_name; }
const char *item_name(FieldType t) { return info(t).item; }

bool Plan::has_face_regions() const
{
    return std::any_of(regions.begin(), regions.end(), [](const Region &r) { return r.of_faces(); });
}

bool Plan::has_source(Region::Source s) const
{
    return std::any_of(regions.begin(), regions.end(), [&](const Region &r) { return r.source == s; });
}

int Plan::last_cell_region(int f) const
{
    int last = -2;
    for (const Setting &s : defaults)
        if (s.field == f)
            last = -1;
    for (std::size_t r = 0; r < regions.size(); ++r) {
        if (regions[r].of_faces())
            continue;
        for (std::size_t k = 0; k < regions[r].n_settings; ++k)
            if (settings[regions[r].first_setting + k].field == f)
                last = static_cast<int>(r);
    }
    return last;
}

Plan read_plan(const foam::Text &dict, const foam::Includes &inc) { return Reader(dict, inc).read(); }

}  // namespace orbset
