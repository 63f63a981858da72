// A case directory in /tmp for running the built programs as a user would.
#pragma once

#include <string>
#include <vector>

#include "oracle.h"

struct Outcome {
    int status;       // exit status, or -1 when the program did not exit
    std::string out;  // standard output
    std::string err;  // standard error
};

class CaseDir {
public:
    CaseDir();
    ~CaseDir();
    CaseDir(const CaseDir &) = delete;
    CaseDir &operator=(const CaseDir &) = delete;

    const std::string &path() const { return path_; }
    std::string at(const std::string &rel) const { return path_ + "/" + rel; }
    void mkdir(const std::string &rel) const;
    void write(const std::string &rel, const std::string &bytes) const;
    std::string read(const std::string &rel) const;
    bool exists(const std::string &rel) const;
    // Every entry below the directory, as sorted relative paths; symbolic
    // links are listed, not followed.
    std::vector<std::string> list() const;

    // Runs build/bin/<program> in the directory; `shell` is appended to the
    // command line (redirections such as ">/dev/full").
    Outcome run(const std::string &program, const std::string &shell = "") const;
    // Runs a shell command line in the directory.
    Outcome sh(const std::string &command) const;
    // Runs build/bin/<program> while `writer`, a shell command run beside
    // it, feeds the named pipe `fifo`; the outcome is the program's own.
    Outcome run_fed(const std::string &program, const std::string &fifo,
                    const std::string &writer) const;

private:
    std::string path_;
};

// slurp(path) and put_file(path, bytes): oracle.h.

// A program run in a fresh case directory that holds `input` as the
// program's input file (and the folder its output goes to): the outcome
// and the bytes of its output file, or "<missing>".
struct Ran {
    Outcome run;
    std::string output;
};
Ran run_on(const std::string &program, const std::string &input);

// The 18 header lines of a particle dump, which headcut leaves out.
std::string dump_header();

// Standard error holds one line for each of `fragments`, in order and
// nothing else: a warning "program: warning: file: ..." holding it.
void expect_warnings(const Outcome &r, const std::string &program, const std::string &file,
                     const std::vector<std::string> &fragments);
