#include "plan.h"

#include <algorithm>

#include "foam/dict.h"

namespace orbset {

namespace {

using foam::Cursor;
using foam::Tok;
using foam::Token;

[[noreturn]] void refuse(const Cursor &c, const char *at, const std::string &what)
{
    c.fail(at, what + "; use setFields for this dictionary");
}

// The entries orbset does not take, whatever their place.
void refuse_special(const Cursor &c, const Token &t)
{
    if (t.kind == Tok::directive)
        refuse(c, t.at, std::string(t.text) + ": orbset does not expand directives");
    if (t.kind == Tok::variable)
        refuse(c, t.at, std::string(t.text) + ": orbset does not expand variables");
}

// The keyword of an entry: a plain word.
Token keyword(Cursor &c)
{
    Token t = foam::next_keyword(c);
    refuse_special(c, t);
    if (t.kind == Tok::string)
        refuse(c, t.at, "\"" + std::string(t.text) + "\": a quoted keyword (a pattern)");
    return t;
}

void skip_entry(Cursor &c, const foam::Header &h)
{
    std::vector<Token> specials;
    foam::skip_space(c);
    if (*c.p == '{') {
        ++c.p;
        foam::skip_dict(c, h, &specials);
    } else {
        foam::skip_value(c, h, &specials);
    }
    for (const Token &t : specials)
        refuse_special(c, t);
}

class Reader {
public:
    explicit Reader(const foam::Text &t) : c_(t) {}

    Plan read()
    {
        foam::skip_space(c_);
        if (c_.at_end())
            c_.fail("the dictionary is empty: it holds no region (orbfill writes it so when "
                    "dump.txt holds no sphere record)");
        h_ = foam::read_header(c_);
        bool seen_defaults = false, seen_regions = false;
        for (;;) {
            Token key = keyword(c_);
            if (key.kind == Tok::end)
                break;
            if (key.kind != Tok::word)
                c_.fail(key.at, "expected a keyword, found " + foam::describe(key));
            if (key.text == "defaultFieldValues") {
                once(key, seen_defaults);
                read_settings(plan_.defaults, "defaultFieldValues");
                foam::expect(c_, ';', "after defaultFieldValues");
            } else if (key.text == "regions") {
                once(key, seen_regions);
                read_regions();
                foam::expect(c_, ';', "after regions");
            } else {
                skip_entry(c_, h_);
            }
        }
        if (!seen_regions)
            c_.fail("no regions: setFields stops without them (write \"regions ();\" for the "
                    "default values alone)");
        return std::move(plan_);
    }

private:
    // A number or a vector, where a $variable or #directive is refused.
    double scalar(const char *what)
    {
        foam::skip_space(c_);
        if (*c_.p == '$' || *c_.p == '#')
            refuse_special(c_, foam::peek_token(c_));
        return foam::read_scalar(c_, what);
    }

    Vec vector(const char *what)
    {
        foam::expect(c_, '(', what);
        Vec v;
        v.x = scalar(what);
        v.y = scalar(what);
        v.z = scalar(what);
        foam::expect(c_, ')', "closing a vector");
        return v;
    }

    void once(const Token &key, bool &seen)
    {
        if (seen)
            refuse(c_, key.at, std::string(key.text) + " given twice");
        seen = true;
    }

    int field_index(std::string_view name)
    {
        auto it = std::find(plan_.fields.begin(), plan_.fields.end(), name);
        if (it != plan_.fields.end())
            return static_cast<int>(it - plan_.fields.begin());
        plan_.fields.emplace_back(name);
        return static_cast<int>(plan_.fields.size() - 1);
    }

    // The start of a list: "(" or "N (". Returns the size, or -1.
    long long open_list(const char *what)
    {
        Token t = foam::next_token(c_);
        refuse_special(c_, t);
        long long n = -1;
        if (t.kind == Tok::number && t.num.is_label && t.num.label >= 0) {
            n = t.num.label;
            t = foam::next_token(c_);
        }
        if (!t.is('('))
            c_.fail(t.at, std::string("expected the list of ") + what + ", found " +
                              foam::describe(t));
        return n;
    }

    void close_list(long long n, long long got, const char *what)
    {
        if (n >= 0 && n != got)
            c_.fail(c_.p, std::string("the list of ") + what + " holds " + std::to_string(got) +
                              " entries where its size says " + std::to_string(n));
        foam::expect(c_, ')', "closing the list");
    }

    // ( volScalarFieldValue name value ... )
    void read_settings(std::vector<Setting> &out, const char *what)
    {
        long long n = open_list(what);
        long long got = 0;
        for (; !foam::list_ends(c_); ++got) {
            Token type = foam::next_token(c_);
            refuse_special(c_, type);
            if (type.kind != Tok::word)
                c_.fail(type.at, "expected a field value such as volScalarFieldValue, found " +
                                     foam::describe(type));
            Token name = foam::next_token(c_);
            refuse_special(c_, name);
            if (name.kind != Tok::word)
                c_.fail(name.at, "expected a field name after " + std::string(type.text) +
                                     ", found " + foam::describe(name));
            if (type.text != "volScalarFieldValue")
                refuse(c_, type.at,
                       std::string(type.text) + " " + std::string(name.text) +
                           ": orbset sets scalar fields (volScalarFieldValue) only");
            double v = scalar("the field's value");
            out.push_back({field_index(name.text), v});
        }
        close_list(n, got, what);
    }

    void read_regions()
    {
        long long n = open_list("regions");
        long long got = 0;
        for (; !foam::list_ends(c_); ++got) {
            Token source = keyword(c_);
            if (source.kind != Tok::word)
                c_.fail(source.at, "expected a region such as boxToCell, found " +
                                       foam::describe(source));
            if (source.text != "boxToCell" && source.text != "sphereToCell")
                refuse(c_, source.at,
                       std::string(source.text) +
                           ": orbset applies boxToCell and sphereToCell regions only");
            foam::expect(c_, '{', "opening the region");
            read_region(source);
        }
        close_list(n, got, "regions");
    }

    // What a region's dictionary gives, each key at most once.
    struct Keys {
        const char *boxes = nullptr, *box = nullptr, *min = nullptr, *max = nullptr;
        const char *origin = nullptr, *centre = nullptr, *radius = nullptr,
                   *inner = nullptr, *values = nullptr;
        std::size_t boxes_from = 0, boxes_to = 0;
        Box box_value{}, min_max{};
        Vec origin_value{}, centre_value{};
        double radius_value = 0, inner_value = 0;
    };

    void given(const Token &key, const char *&seen)
    {
        if (seen)
            refuse(c_, key.at, std::string(key.text) + " given twice in one region");
        seen = key.at;
    }

    void read_region(const Token &source)
    {
        Keys k;
        Region r{};
        r.first_setting = plan_.settings.size();
        for (;;) {
            Token key = keyword(c_);
            if (key.is('}'))
                break;
            if (key.kind != Tok::word)
                c_.fail(key.at, "expected a keyword in " + std::string(source.text) +
                                    ", found " + foam::describe(key));
            std::string_view w = key.text;
            if (w == "box") {
                given(key, k.box);
                k.box_value.min = vector( "the box's corner");
                k.box_value.max = vector( "the box's corner");
            } else if (w == "boxes") {
                given(key, k.boxes);
                read_boxes(k);
            } else if (w == "min" || w == "max") {
                given(key, w == "min" ? k.min : k.max);
                (w == "min" ? k.min_max.min : k.min_max.max) = vector( "a corner");
            } else if (w == "origin" || w == "centre") {
                given(key, w == "origin" ? k.origin : k.centre);
                (w == "origin" ? k.origin_value : k.centre_value) =
                    vector( "the sphere's centre");
            } else if (w == "radius" || w == "innerRadius") {
                given(key, w == "radius" ? k.radius : k.inner);
                (w == "radius" ? k.radius_value : k.inner_value) =
                    scalar("a radius");
            } else if (w == "fieldValues") {
                given(key, k.values);
                read_settings(plan_.settings, "fieldValues");
            } else {
                skip_entry(c_, h_);
                continue;
            }
            foam::expect(c_, ';', "ending the entry");
        }
        const char *at = source.at;
        if (!k.values)
            refuse(c_, at, std::string(source.text) + " without fieldValues");
        r.n_settings = plan_.settings.size() - r.first_setting;
        if (source.text == "boxToCell") {
            // boxes, else box, else min and max, as boxToCell takes them
            r.source = Region::Source::box;
            r.first_box = plan_.boxes.size();
            if (k.boxes) {
                r.first_box = k.boxes_from;
                r.n_boxes = k.boxes_to - k.boxes_from;
            } else if (k.box) {
                plan_.boxes.push_back(k.box_value);
                r.n_boxes = 1;
            } else if (k.min && k.max) {
                plan_.boxes.push_back(k.min_max);
                r.n_boxes = 1;
            } else {
                c_.fail(at, "boxToCell without box, boxes, or min and max");
            }
        } else {
            r.source = Region::Source::sphere;
            if (!(k.origin || k.centre) || !k.radius)
                c_.fail(at, "sphereToCell without its centre (origin) and radius");
            r.sphere.origin = k.origin ? k.origin_value : k.centre_value;
            r.sphere.radius = k.radius_value;
            r.sphere.inner_radius = k.inner ? k.inner_value : 0;
        }
        plan_.regions.push_back(r);
    }

    // ((min) (max) (min) (max) ...)
    void read_boxes(Keys &k)
    {
        long long n = open_list("boxes");
        k.boxes_from = plan_.boxes.size();
        long long got = 0;
        for (; !foam::list_ends(c_); ++got) {
            Box b;
            b.min = vector( "a box's corner");
            b.max = vector( "a box's corner");
            plan_.boxes.push_back(b);
        }
        close_list(n, got, "boxes");
        k.boxes_to = plan_.boxes.size();
    }

    Cursor c_;
    foam::Header h_;
    Plan plan_;
};

}  // namespace

Plan read_plan(const foam::Text &dict) { return Reader(dict).read(); }

}  // namespace orbset
