// Diagnostics in the style of err(3): one line on standard error,
// "program: file: reason" for failures and "program: warning: ..." for
// data that a run ignored or that will not do what the user expects.
#pragma once

namespace textio {

// Name printed in front of every diagnostic; set once at start-up.
extern const char *progname;

// "program: what: strerror(err)". Returns 1, the failure exit status.
int fail(const char *what, int err);

// "program: <formatted text>". Returns 1.
int failx(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// "program: warning: <formatted text>".
void warnx(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// The noun for a count: a count of one takes the singular.
inline const char *noun(long long count, const char *one, const char *many)
{
    return count == 1 ? one : many;
}

// Whether descriptor 1 is open. Asked before anything is opened: a program
// that prints must not run with its standard output closed.
bool stdout_is_open();

// Puts /dev/null on each of descriptors 0, 1 and 2 that is closed, so that
// no file opened later takes the place of a standard stream.
void reopen_closed_std_fds();

}  // namespace textio
