// Diagnostics in the style of err(3): one line on standard error,
// "program: file: reason" for failures and "program: warning: ..." for
// data that a run ignored.
#pragma once

namespace textio {

// Name printed in front of every diagnostic; each program sets it first.
extern const char *progname;

// "program: what: strerror(err)". Returns 1, the failure exit status.
int fail(const char *what, int err);

// "program: <formatted text>". Returns 1.
int failx(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// "program: warning: <formatted text>".
void warnx(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Makes sure descriptors 0, 1 and 2 are open before any file is opened, so
// that a file never takes the place of a closed standard stream: a closed
// one is replaced by /dev/null. For a program that prints, a closed standard
// output is a failure (what it prints would be lost), reported here.
bool std_streams_ok(bool prints);

}  // namespace textio
