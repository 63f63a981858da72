#include "control.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <vector>

#include "foam/bad.h"
#include "foam/dict.h"
#include "foam/dictionary.h"
#include "foam/text.h"

namespace orbset {

namespace {

using foam::Cursor;
using foam::Tok;
using foam::Token;

// Time's largest precision when it looks for a directory: 3 - log10(SMALL).
constexpr int kMaxTimePrecision = 18;

// A value of one word, as controlDict's words are read.
std::string value_word(const foam::DictEntry &e)
{
    if (e.is_dict())
        Cursor(*e.file).fail(e.key_at, "expected a word for " + e.key + ", found a dictionary");
    return e.read(e.key.c_str(), [&](Cursor &c) {
        Token v = foam::next_token(c);
        if (v.kind != Tok::word)
            c.fail(v.at, "expected a word for " + e.key + ", found " + foam::describe(v));
        return std::string(v.text);
    });
}

template <class Read>
auto value_of(const foam::DictEntry &e, Read read)
{
    if (e.is_dict())
        Cursor(*e.file).fail(e.key_at, e.key + " is a dictionary, where a value is expected");
    return e.read(e.key.c_str(), read);
}

// A directory name OpenFOAM takes for a time: all of it read by strtold.
bool time_value(const char *name, double &value)
{
    char *end = nullptr;
    errno = 0;
    long double v = std::strtold(name, &end);
    if (end == name || errno)
        return false;
    while (*end == ' ' || (*end >= '\t' && *end <= '\r'))
        ++end;
    if (*end)
        return false;
    value = static_cast<double>(v);
    return true;
}

std::string dir_of(const std::string &case_dir)
{
    return case_dir.empty() ? "." : case_dir;
}

// A time directory of the case: its time, and its name.
struct Instant {
    double value;
    std::string name;
};

// The time directories of the case, in order of their times, as findTimes
// lists them (constant aside).
std::vector<Instant> times(const std::string &case_dir)
{
    std::vector<Instant> t;
    DIR *d = opendir(dir_of(case_dir).c_str());
    if (!d)
        throw foam::Bad(dir_of(case_dir) + ": cannot list the time directories");
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name.empty() || name[0] == '.' || !foam::is_dir(dir_of(case_dir) + "/" + name))
            continue;
        double v;
        if (name != "constant" && time_value(name.c_str(), v))
            t.push_back({v, name});
    }
    closedir(d);
    std::sort(t.begin(), t.end(),
              [](const Instant &a, const Instant &b) { return a.value < b.value; });
    return t;
}

// The start time: startTime, or the first or the latest time of the case
// (constant, as time 0, only when no other time is there).
}  // namespace

double start_value(const Control &c, const std::string &case_dir)
{
    if (c.earliest_time) {
        std::vector<Instant> all = times(case_dir);
        return all.empty() ? 0 : all.front().value;
    }
    if (c.start_from == "startTime")
        return c.start_time;
    std::vector<Instant> all = times(case_dir);
    if (all.empty())
        return 0;
    return c.start_from == "latestTime" ? all.back().value : all.front().value;
}

namespace {

std::string time_name(const Control &c, double t, int precision)
{
    const char *format = c.time_format == "fixed"        ? "%.*f"
                         : c.time_format == "scientific" ? "%.*e"
                                                         : "%.*g";
    char buf[512];
    std::snprintf(buf, sizeof buf, format, precision, t);
    return buf;
}

}  // namespace

Control read_control(const foam::Text &dict, const foam::Includes &inc)
{
    Cursor c(dict);
    foam::Header h = foam::read_header(c);
    foam::ReadDictionary r;
    foam::read_dictionary(c, h, inc, r);
    Control ctl;
    const foam::Dictionary &d = r.dict;
    if (const foam::DictEntry *e = d.lookup("startFrom"))
        ctl.start_from = value_word(*e);
    if (const foam::DictEntry *e = d.lookup("timeFormat"))
        ctl.time_format = value_word(*e);
    // OpenFOAM takes any other word for ascii, with a warning
    if (const foam::DictEntry *e = d.lookup("writeFormat"))
        ctl.write_binary = value_word(*e) == "binary";
    if (const foam::DictEntry *e = d.lookup("startTime"))
        ctl.start_time = value_of(*e, [](Cursor &v) { return foam::read_scalar(v, "startTime"); });
    if (const foam::DictEntry *e = d.lookup("writePrecision"))
        ctl.write_precision =
            value_of(*e, [](Cursor &v) { return foam::read_label(v, "a precision", 0, 1000); });
    if (const foam::DictEntry *e = d.lookup("timePrecision"))
        ctl.time_precision =
            value_of(*e, [](Cursor &v) { return foam::read_label(v, "a precision", 0, 1000); });
    if (const foam::DictEntry *e = d.lookup("libs")) {
        ctl.libs = value_of(*e, [](Cursor &v) {
            std::vector<std::string> libs;
            Token t = foam::next_token(v);
            if (t.kind == Tok::number)
                t = foam::next_token(v);
            if (!t.is('('))
                v.fail(t.at, "expected the list of libs, found " + foam::describe(t));
            for (t = foam::next_token(v); !t.is(')'); t = foam::next_token(v)) {
                if (t.kind != Tok::string && t.kind != Tok::word)
                    v.fail(t.at, "expected a library's name in libs, found " + foam::describe(t));
                // the library dlopen finds: OpenFOAM puts "lib" in front
                // of a bare name and ".so" in place of its extension
                std::string name(t.text);
                name = name.substr(name.rfind('/') + 1);
                if (!name.starts_with("lib"))
                    name = "lib" + name;
                if (!name.ends_with(".so")) {
                    auto dot = name.rfind('.');
                    name = (dot == std::string::npos ? name : name.substr(0, dot)) + ".so";
                }
                libs.push_back(name);
            }
            return libs;
        });
    }
    if (ctl.start_from != "startTime" && ctl.start_from != "firstTime" &&
        ctl.start_from != "latestTime")
        c.fail(dict.begin(), "startFrom " + ctl.start_from +
                                 ": expected startTime, firstTime or latestTime");
    if (ctl.time_format != "general" && ctl.time_format != "fixed" &&
        ctl.time_format != "scientific")
        c.fail(dict.begin(), "timeFormat " + ctl.time_format +
                                 ": expected general, fixed or scientific");
    return ctl;
}

std::string geometry_scheme(const foam::Text &fv_schemes, const foam::Includes &inc)
{
    Cursor c(fv_schemes);
    foam::Header h = foam::read_header(c);
    foam::ReadDictionary r;
    foam::read_dictionary(c, h, inc, r);
    const foam::DictEntry *geometry = r.dict.lookup("geometry");
    if (!geometry || !geometry->is_dict())
        return "basic";
    for (const char *key : {"method", "type"})
        if (const foam::DictEntry *e = geometry->dict->lookup(key))
            return value_word(*e);
    return "basic";
}

std::string start_time_name(const Control &c, const std::string &case_dir)
{
    if (c.earliest_time) {
        // the directory itself, named as it is
        std::vector<Instant> all = times(case_dir);
        return all.empty() ? "constant" : all.front().name;
    }
    double t = start_value(c, case_dir);
    std::string name = time_name(c, t, c.time_precision);
    std::string prefix = case_dir.empty() ? "" : case_dir + "/";
    if (foam::is_dir(prefix + name))
        return name;
    // as Time does: a directory named with a higher precision
    std::string found, last = name;
    for (int p = kMaxTimePrecision; p > c.time_precision; --p) {
        std::string n = time_name(c, t, p);
        if (n == last)
            break;
        last = n;
        if (foam::is_dir(prefix + n))
            found = n;
    }
    return found.empty() ? name : found;
}

std::string mesh_instance(const Control &c, const std::string &case_dir, const std::string &file)
{
    std::string prefix = case_dir.empty() ? "" : case_dir + "/";
    auto holds = [&](const std::string &instance) {
        return !foam::find_file(prefix + instance + "/" + file).empty();
    };
    std::string start = start_time_name(c, case_dir);
    if (holds(start))
        return start;
    double t = start_value(c, case_dir);
    std::vector<Instant> all = times(case_dir);
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if (it->value <= t && holds(it->name))
            return it->name;
    return "constant";
}

}  // namespace orbset
