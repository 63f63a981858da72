#include "tool.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "diag.h"
#include "writer.h"

#if !defined(CASETOOLS_VERSION) || !defined(CASETOOLS_PACKAGE)
#error "the package name and version come from the build"
#endif

namespace textio {

namespace {

constexpr int kUsageStatus = 2;
constexpr const char *kOptions = " [--help | --version]";

bool is_one_of(const char *arg, std::initializer_list<const char *> words)
{
    for (const char *w : words)
        if (!std::strcmp(arg, w))
            return true;
    return false;
}

// Help and version go to standard output, checked like any output.
int print(bool out_open, std::initializer_list<const char *> texts)
{
    if (!out_open)
        return fail("standard output", EBADF);
    static Sink s;
    open_stdout(s);
    for (const char *text : texts)
        put(s, text, std::strlen(text));
    return close_sink(s) ? 0 : fail(s.path, s.err);
}

// The tools take no arguments: they run in the case directory they are
// started in. OpenFOAM's own tools take -case DIR; that one gets a hint.
int wrong_command_line(int argc, char **argv, const Tool &t)
{
    const char *dir = nullptr;
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], "-case"))
            dir = argv[i + 1];
    if (dir)
        failx("unexpected argument \"%s\": %s takes no arguments and runs in the current "
              "case directory; cd %s first",
              argv[1], t.name, dir);
    else
        failx("unexpected argument \"%s\": %s takes no arguments and runs in the current "
              "case directory",
              argv[1], t.name);
    std::fprintf(stderr, "usage: %s%s\n", t.name, kOptions);
    return kUsageStatus;
}

}  // namespace

std::optional<int> start(int argc, char **argv, const Tool &t)
{
    progname = t.name;
    // A closed pipe or a file size limit then makes a write fail, reported
    // like any other failure, instead of killing the run halfway through
    // its output.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    bool out_open = stdout_is_open();
    reopen_closed_std_fds();

    if (argc == 2 && is_one_of(argv[1], {"--help", "-help", "-h"}))
        return print(out_open, {"usage: ", t.name, kOptions, "\n\n", t.about});
    if (argc == 2 && is_one_of(argv[1], {"--version", "-version"}))
        return print(out_open, {t.name, " (" CASETOOLS_PACKAGE ") ", CASETOOLS_VERSION, "\n"});
    if (argc > 1)
        return wrong_command_line(argc, argv, t);
    if (t.prints && !out_open)
        return fail("standard output", EBADF);
    return std::nullopt;
}

}  // namespace textio
