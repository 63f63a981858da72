#include "oracle.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/mman.h>
#include <unistd.h>

std::string slurp(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return "<missing>";
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void put_file(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

namespace oracle {

FILE *read_bytes(const std::string &s)
{
    // fmemopen refuses an empty buffer; /dev/null reads the same.
    if (s.empty())
        return std::fopen("/dev/null", "r");
    return fmemopen(const_cast<char *>(s.data()), s.size(), "r");
}

const std::string kHeaderAlpha =
    "FoamFile {version     2.0;format      ascii;class       dictionary; object      "
    "setFieldsDict;} defaultFieldValues     (    volScalarFieldValue alpha.phase1 0 ); "
    "regions ( boxToCell    {       box (0 0.00001 -0.000235) (0.001 0.00029 0);        "
    "fieldValues        (           volScalarFieldValue alpha.phase1 1        );    }";
const std::string kHeaderH =
    "FoamFile {version     2.0;format      ascii;class       dictionary; object      "
    "setFieldsDict;} defaultFieldValues     (    volScalarFieldValue h 140878 ); "
    "regions ( boxToCell    {       box (0 0.00001 -0.000235) (0.001 0.00029 0);        "
    "fieldValues        (           volScalarFieldValue h 586500        );    }";
const std::string kSuffixAlpha =
    ";        fieldValues (            volScalarFieldValue alpha.phase1 1                );    }";
const std::string kSuffixH =
    ";        fieldValues (            volScalarFieldValue h 586500                );    }";

int bytes_fd(const std::string &s)
{
    int fd = memfd_create("casetools-test", 0);
    if (fd < 0 || pwrite(fd, s.data(), s.size(), 0) != static_cast<ssize_t>(s.size()))
        std::abort();
    return fd;
}

std::string fd_bytes(int fd)
{
    std::string s;
    char buf[1 << 16];
    for (ssize_t n; (n = pread(fd, buf, sizeof buf, static_cast<off_t>(s.size()))) > 0;)
        s.append(buf, static_cast<std::size_t>(n));
    return s;
}

namespace {

struct Out {
    char *buf = nullptr;
    size_t len = 0;
    FILE *f = open_memstream(&buf, &len);
    std::string take()
    {
        std::fclose(f);
        std::string s(buf, len);
        std::free(buf);
        return s;
    }
};

int read4(FILE *f, double *x, double *y, double *z, double *r)
{
    return std::fscanf(f, "%lf\t%lf\t%lf\t%lf", x, y, z, r);
}

}  // namespace

void regiondict_run(const Opener &input, FILE *dict, FILE *trace, const std::string &header,
                    const std::string &suffix)
{
    double x, y, z, r;
    int count = 1, entry = 1;
    FILE *in = input();
    if (read4(in, &x, &y, &z, &r) == 4)
        while (read4(in, &x, &y, &z, &r) == 4)
            ++count;
    std::fclose(in);
    std::fprintf(trace, "%d%s", count, "T");
    in = input();
    if (read4(in, &x, &y, &z, &r) == 4) {
        std::fprintf(dict, "%s\n%s", header.c_str(), " ");
        while (read4(in, &x, &y, &z, &r) == 4) {
            std::fprintf(trace, "%d%s", entry, "A");
            if (entry < count) {
                std::fprintf(dict, "%s%f%s%f%s%f%s%f%s", " sphereToCell { centre  (", x, " ", y,
                             " ", z, ");        radius  ", r, suffix.c_str());
                std::fprintf(trace, "%d%s", entry, "B");
                ++entry;
            }
        }
        std::fputs(");", dict);
    }
    std::fclose(in);
}

Dict regiondict(const std::string &dump, const std::string &header,
                const std::string &suffix)
{
    Out dict, trace;
    regiondict_run([&] { return read_bytes(dump); }, dict.f, trace.f, header, suffix);
    return {dict.take(), trace.take()};
}

// The scanning rule byte by byte, the end-of-file value stored as a char
// like any other byte.
static int scan(FILE *in, FILE *out, int total)
{
    int lines = 0, column = 1;
    for (;;) {
        if (lines > 200000)
            break;
        char c = static_cast<char>(std::getc(in));
        if (++column > 99)
            break;
        if (out && lines > 17 && lines < total)
            std::putc(c, out);
        if (c == '\n') {
            ++lines;
            column = 0;
        }
    }
    return lines;
}

void headcut_run(const Opener &input, FILE *dump, FILE *count)
{
    FILE *in = input();
    int total = scan(in, nullptr, 0);
    std::fprintf(count, "%d", total);
    std::fclose(in);
    in = input();
    scan(in, dump, total);
    std::fclose(in);
}

Trim headcut(const std::string &dump0)
{
    Out dump, count;
    headcut_run([&] { return read_bytes(dump0); }, dump.f, count.f);
    return {dump.take(), count.take()};
}

void pairlow_run(FILE *in, FILE *out)
{
    double a, b, low = 1000.0, paired = 0.0;
    int position = 1;
    while (std::fscanf(in, "%lf\t%lf", &a, &b) == 2) {
        if (a <= low) {
            low = a;
            paired = b;
        }
        if (position < 2) {
            ++position;
        } else {
            std::fprintf(out, "%f %f\n", low, paired);
            low = 1000.0;
            position = 1;
        }
    }
}

std::string pairlow(const std::string &depth)
{
    Out out;
    FILE *in = read_bytes(depth);
    pairlow_run(in, out.f);
    std::fclose(in);
    return out.take();
}

}  // namespace oracle
