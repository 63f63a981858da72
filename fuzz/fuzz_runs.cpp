// Whole runs of headcut, orbfill, orbtint and pairlow on arbitrary input
// bytes in a temporary case directory, each compared byte for byte with the
// reference run: the output file, standard output and exit status 0.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "convert.h"
#include "diag.h"
#include "oracle.h"
#include "reduce.h"
#include "trim.h"

namespace {

FILE *quiet;
int real_stdout;

// Runs one program in-process with its standard output caught in a file,
// on descriptor 1, which a program that prints closes.
std::string run(int (*program)(), const char *name)
{
    int out = open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(out, STDOUT_FILENO) < 0)
        std::abort();
    close(out);
    FILE *real_err = stderr;
    stderr = quiet;  // warnings about the input are expected here
    textio::progname = name;
    int status = program();
    dup2(real_stdout, STDOUT_FILENO);
    stderr = real_err;
    if (status != 0) {
        std::fprintf(stderr, "%s exited with %d\n", name, status);
        std::abort();
    }
    return slurp("stdout.txt");
}

void expect(bool same, const char *what)
{
    if (!same) {
        std::fprintf(stderr, "differs from the reference: %s\n", what);
        std::abort();
    }
}

int orbfill() { return regiondict::convert(regiondict::kAlphaPhase1); }
int orbtint() { return regiondict::convert(regiondict::kH); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // in memory where there is /dev/shm: every run flushes its output to
    // disk before it takes the output's name
    char shm[] = "/dev/shm/casetools-fuzz-XXXXXX", tmp[] = "/tmp/casetools-fuzz-XXXXXX";
    char *dir = access("/dev/shm", W_OK) == 0 ? shm : tmp;
    if (!mkdtemp(dir) || chdir(dir) != 0 || mkdir("system", 0755) != 0 ||
        mkdir("depth", 0755) != 0)
        std::abort();
    quiet = std::fopen("/dev/null", "w");
    real_stdout = dup(STDOUT_FILENO);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string input(reinterpret_cast<const char *>(data), size);

    put_file("dump0.txt", input);
    std::string count = run(headcut::trim, "headcut");
    oracle::Trim trim = oracle::headcut(input);
    expect(count == trim.count, "headcut count");
    expect(slurp("dump.txt") == trim.dump, "dump.txt");

    put_file("dump.txt", input);
    struct Generator {
        int (*program)();
        const char *name;
        const regiondict::Profile &profile;
    };
    for (const Generator &g : {Generator{orbfill, "orbfill", regiondict::kAlphaPhase1},
                               Generator{orbtint, "orbtint", regiondict::kH}}) {
        auto [program, name, profile] = g;
        std::string trace = run(program, name);
        oracle::Dict want = oracle::regiondict(input, std::string(profile.header),
                                               std::string(profile.suffix.view()));
        expect(trace == want.trace, "trace");
        expect(slurp("system/setFieldsDict") == want.dict, "system/setFieldsDict");
    }

    put_file("depth/depth.txt", input);
    expect(run(pairlow::reduce, "pairlow").empty(), "pairlow prints nothing");
    expect(slurp("depth/depth2.txt") == oracle::pairlow(input), "depth/depth2.txt");
    return 0;
}
