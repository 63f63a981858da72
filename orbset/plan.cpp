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
    Reader(const foam::Text &t, const foam::Includes &inc, const Release &rel)
        : text_(t), inc_(inc), rel_(rel), c_(t)
    {
    }

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
        // the Foundation's 13 applies these before the regions
        if (rel_.foundation(13))
            for (const char *key : {"defaultValues", "zones", "extrapolatePatches"})
                if (const DictEntry *e = dict_.dict.lookup(key))
                    refuse(Cursor(*e->file), e->key_at,
                           std::string(key) + ": orbset does not apply the Foundation's " + key +
                               " (it applies defaultFieldValues and regions)");
        if (const DictEntry *d = dict_.dict.lookup("defaultFieldValues")) {
            Cursor c = value_of(*d, "defaultFieldValues");
            read_settings(c, plan_.defaults, "defaultFieldValues");
            d->expect_end(c, "defaultFieldValues");
        }
        const DictEntry *regions = dict_.dict.lookup("regions");
        if (!regions && rel_.foundation(13))
            return std::move(plan_);  // there, regions may be left out
        if (!regions)
            c_.fail(text_.end(), "no regions: setFields stops without them (write \"regions ();\" "
                                 "for the default values alone)");
        Cursor c = value_of(*regions, "regions");
        read_regions(c);
        regions->expect_end(c, "regions");
        return std::move(plan_);
    }

private:
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
            // ESI's v2212 and later take the class itself too
            const TypeInfo *ti = nullptr;
            for (const TypeInfo &i : kTypes)
                if (type.text == i.value_word || (rel_.esi(2212) && type.text == i.class_name))
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

    // A value that the Foundation's 12 and later may give in units, as
    // "radius [mm] 5;": refused there in one line, since orbset does not
    // convert units.
    void no_units(const Cursor &v, const DictEntry &e)
    {
        if (!rel_.foundation(12))
            return;
        Cursor scan = v;
        foam::skip_space(scan);
        if (*scan.p == '[')
            refuse(scan, scan.p, e.key + " is given in units, which orbset does not convert: "
                                 "give it in metres, without them");
    }

    Vec point(const DictEntry &e, const char *what)
    {
        return e.read(what, [&](Cursor &v) {
            no_units(v, e);
            Vec p = vector(v, what);
            no_units(v, e);
            return p;
        });
    }

    double number(const DictEntry &e, const char *what)
    {
        return e.read(what, [&](Cursor &v) {
            no_units(v, e);
            double x = scalar(v, what);
            no_units(v, e);
            return x;
        });
    }

    // The first of the keys that the region gives, or null.
    const DictEntry *first_of(const Dictionary &d, std::initializer_list<const char *> keys)
    {
        for (const char *k : keys)
            if (const DictEntry *e = find(d, k))
                return e;
        return nullptr;
    }

    const DictEntry &need_one(const Cursor &c, const Token &source, const Dictionary &d,
                              std::initializer_list<const char *> keys, const char *what)
    {
        const DictEntry *e = first_of(d, keys);
        if (!e)
            c.fail(source.at, std::string(source.text) + " without " + what + " (" +
                                  std::string(*keys.begin()) + ")");
        return need(c, source, d, e->key.c_str(), what);
    }

    // A value this release's source does not read, named in a warning.
    void unread(const Region &r, const Dictionary &d, const char *key, const char *effect)
    {
        if (find(d, key))
            plan_.warnings.push_back(plan_.name + ": line " + std::to_string(r.line) + ": " +
                                     r.keyword + ": " + key + " is not read by the setFields of "
                                     "OpenFOAM " + rel_.name() + "; " + effect);
    }

    // A value of a region that the release refuses, as its setFields
    // stops.
    [[noreturn]] void refused_value(const Cursor &c, const Token &source, const std::string &why)
    {
        c.fail(source.at, std::string(source.text) + ": " + why + ", which the setFields of "
                          "OpenFOAM " + rel_.name() + " refuses");
    }

    Box box(Cursor &v, const char *what)
    {
        Box b;
        b.min = vector(v, what);
        b.max = vector(v, what);
        return b;
    }

    // boxes, else box, else min and max (or, from ESI's v2112 on, min and
    // span), as ESI's boxToCell and boxToFace take them; box, else boxes, as
    // the Foundation's do.
    void boxes(const Cursor &c, const Token &source, const Dictionary &d, Region &r)
    {
        r.first_box = plan_.boxes.size();
        const DictEntry *list = find(d, "boxes"), *one = find(d, "box");
        if (rel_.foundation()) {
            if (!one && !list)
                c.fail(source.at, std::string(source.text) + " without box or boxes");
            if (one)
                list = nullptr;
        }
        if (const DictEntry *e = list) {
            e->read("boxes", [&](Cursor &v) {
                long long n = open_list(v, "boxes");
                long long got = 0;
                for (; !foam::list_ends(v); ++got)
                    plan_.boxes.push_back(box(v, "a box's corner"));
                close_list(v, n, got, "boxes");
                return 0;
            });
        } else if (const DictEntry *e = one) {
            plan_.boxes.push_back(e->read("box", [&](Cursor &v) { return box(v, "the box's corner"); }));
        } else if (rel_.esi(2112) && !find(d, "max") && find(d, "span")) {
            Box b;
            b.min = point(need(c, source, d, "min", "box, boxes, or min and max"), "a corner");
            const Vec span = point(need(c, source, d, "span", "max or span"), "a span");
            b.max = {b.min.x + span.x, b.min.y + span.y, b.min.z + span.z};
            plan_.boxes.push_back(b);
        } else {
            Box b;
            b.min = point(need(c, source, d, "min", "box, boxes, or min and max"), "a corner");
            b.max = point(need(c, source, d, "max", "box, boxes, or min and max"), "a corner");
            plan_.boxes.push_back(b);
        }
        r.n_boxes = plan_.boxes.size() - r.first_box;
    }

    // A wordRe or a list of them: word, "pattern", or (a "b.*" ...); only
    // the first where `one` (the Foundation's sources read one name).
    std::vector<Name> names(const DictEntry &e, const char *what, bool one_only = false)
    {
        return e.read(what, [&](Cursor &v) {
            std::vector<Name> out;
            auto one = [&](const Token &t) {
                if (t.kind != Tok::word && t.kind != Tok::string)
                    v.fail(t.at, std::string("expected a name in ") + what + ", found " +
                                     foam::describe(t));
                out.push_back({std::string(t.text), t.kind == Tok::string});
            };
            foam::skip_space(v);
            Token t = foam::peek_token(v);
            if (!one_only && (t.kind == Tok::number || t.is('('))) {
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

    // `plural` when given, else `single` (or its older name `old`), as
    // ESI's sources read them; the Foundation's read one name of `single`
    // (`old` in their 8 and 9, where `old` is given).
    std::vector<Name> names_of(const Cursor &c, const Token &source, const Dictionary &d,
                               const char *plural, const char *single, const char *old)
    {
        if (rel_.foundation()) {
            const char *key = old && !rel_.foundation(10) ? old : single;
            const DictEntry *e = find(d, key);
            if (!e)
                c.fail(source.at, std::string(source.text) + " without " + key);
            return names(*e, key, true);
        }
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
        return e.read("value", [&](Cursor &v) {
            return foam::read_label_list(v, h_, {INT32_MIN, INT32_MAX, "label"},
                                         foam::bytes_left(v));
        });
    }

    // sphereToCell. ESI's: origin (or its older name centre), radius,
    // innerRadius (0 when not given), the radii refused below 0 from v2006
    // on (getCheck with scalarMinMax::ge(0)). The Foundation's: centre and
    // radius only, a cell taken on the sphere's surface too.
    void sphere(const Cursor &c, const Token &source, const Dictionary &d, Region &r)
    {
        const char *needs = rel_.foundation() ? "its centre and radius"
                                              : "its centre (origin) and radius";
        const DictEntry &o = rel_.foundation() ? need(c, source, d, "centre", needs)
                                               : need_one(c, source, d, {"origin", "centre"}, needs);
        r.sphere.origin = point(o, "the sphere's centre");
        r.sphere.radius = number(need(c, source, d, "radius", needs), "a radius");
        if (rel_.foundation()) {
            unread(r, d, "innerRadius", "the sphere is taken whole");
            r.sphere.inclusive = true;
            return;
        }
        const DictEntry *inner = find(d, "innerRadius");
        r.sphere.inner_radius = inner ? number(*inner, "a radius") : 0;
        if (rel_.esi(2006) && !(r.sphere.radius >= 0 && r.sphere.inner_radius >= 0))
            refused_value(c, source, "a radius below 0");
    }

    // cylinderToCell. ESI's: p1, p2, radius and innerRadius (0 when not
    // given); from v2206 on point1, point2 and radius, with p1, p2 and
    // outerRadius as their older names. The checks of each: from v2006 to
    // v2112 a radius of at least 1e-15 (SMALL), an innerRadius of at least 0
    // and not above the radius; from v2206 to v2312 the last two; from
    // v2406 on the innerRadius at least 0. The Foundation's: p1, p2 and
    // radius; from 9 on point1 and point2, with p1 and p2 as older names.
    void cylinder(const Cursor &c, const Token &source, const Dictionary &d, Region &r)
    {
        const bool named = rel_.esi(2206) || rel_.foundation(9);
        const char *needs = named ? "point1, point2 and radius" : "p1, p2 and radius";
        Cylinder &y = r.cylinder;
        if (named) {
            y.p1 = point(need_one(c, source, d, {"point1", "p1"}, needs), "point1");
            y.p2 = point(need_one(c, source, d, {"point2", "p2"}, needs), "point2");
        } else {
            y.p1 = point(need(c, source, d, "p1", needs), "p1");
            y.p2 = point(need(c, source, d, "p2", needs), "p2");
        }
        y.radius = number(rel_.esi(2206) ? need_one(c, source, d, {"radius", "outerRadius"}, needs)
                                         : need(c, source, d, "radius", needs),
                          "a radius");
        if (rel_.foundation()) {
            unread(r, d, "innerRadius", "the cylinder is taken whole");
            y.inner_test = false;
            return;
        }
        const DictEntry *inner = find(d, "innerRadius");
        y.inner_radius = inner ? number(*inner, "a radius") : 0;
        constexpr double kSmall = 1e-15;  // doubleScalarSMALL
        if (rel_.esi(2006) && !rel_.esi(2206) && !(y.radius >= kSmall))
            refused_value(c, source, "a radius below 1e-15");
        if (rel_.esi(2006) && !(y.inner_radius >= 0))
            refused_value(c, source, "an innerRadius below 0");
        if (rel_.esi(2006) && !rel_.esi(2406) && y.inner_radius > y.radius)
            refused_value(c, source, "an innerRadius above the radius");
    }

    void read_region(const Cursor &c, const Token &source, const SourceInfo &si,
                     const Dictionary &d)
    {
        Region r{};
        r.source = si.source;
        r.keyword = si.keyword;
        r.line = lines_.line_of(*c.text, source.at);
        const DictEntry *values = find(d, "fieldValues");
        if (!values)
            c.fail(source.at, std::string(source.text) + " without fieldValues");
        // ESI's v2406 and later move the cell centres the region tests
        if (rel_.esi(2406) && find(d, "solidBodyMotionFunction"))
            refuse(c, source.at, std::string(source.text) + " with a solidBodyMotionFunction, "
                                 "which orbset does not apply to the cell centres");
        r.first_setting = plan_.settings.size();
        Cursor v = value_of(*values, "fieldValues");
        read_settings(v, plan_.settings, "fieldValues");
        values->expect_end(v, "fieldValues");
        r.n_settings = plan_.settings.size() - r.first_setting;
        using S = Region::Source;
        switch (si.source) {
        case S::box:
        case S::face_box:
            boxes(c, source, d, r);
            break;
        case S::sphere:
            sphere(c, source, d, r);
            break;
        case S::cylinder:
            cylinder(c, source, d, r);
            break;
        case S::rotated_box:
            // the Foundation's 10 and later take a box turned by n1 and n2 first
            if (rel_.foundation(10) && find(d, "box"))
                refuse(c, source.at, "rotatedBoxToCell given as a box, n1 and n2: orbset takes "
                                     "it as origin, i, j and k only");
            r.rotated.origin = point(need(c, source, d, "origin", "origin, i, j and k"), "origin");
            r.rotated.i = point(need(c, source, d, "i", "origin, i, j and k"), "i");
            r.rotated.j = point(need(c, source, d, "j", "origin, i, j and k"), "j");
            r.rotated.k = point(need(c, source, d, "k", "origin, i, j and k"), "k");
            r.rotated.grouped = rel_.esi(2212);
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
            // ESI's v2406 and later take a zone here too, where no set is named
            if (rel_.esi(2406) && !find(d, "sets") && (find(d, "zones") || (find(d, "zone") && !find(d, "set"))))
                refuse(c, source.at, std::string(source.text) + " of a zone: orbset takes the "
                                     "zone with zoneToCell or zoneToFace");
            r.names = rel_.foundation() ? names_of(c, source, d, "set", "set", nullptr)
                                        : names_of(c, source, d, "sets", "set", nullptr);
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
    const Release &rel_;
    Cursor c_;
    foam::LineCounter lines_;  // of the regions, met in order
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

bool Plan::sets(const Region &r, std::size_t f) const
{
    for (std::size_t k = 0; k < r.n_settings; ++k)
        if (static_cast<std::size_t>(settings[r.first_setting + k].field) == f)
            return true;
    return false;
}

Plan read_plan(const foam::Text &dict, const foam::Includes &inc, const Release &release)
{
    return Reader(dict, inc, release).read();
}

}  // namespace orbset
