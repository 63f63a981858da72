// Every way a run can fail: one line on standard error naming the file,
// exit status 1, no crash, and the files that must survive untouched.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "casedir.h"

namespace {

struct Program {
    const char *name, *input, *output, *folder, *good_input;
};

const Program kPrograms[] = {
    {"orbfill", "dump.txt", "system/setFieldsDict", "system", "1 2 3 4\n5 6 7 8\n"},
    {"orbtint", "dump.txt", "system/setFieldsDict", "system", "1 2 3 4\n5 6 7 8\n"},
    {"headcut", "dump0.txt", "dump.txt", nullptr, "h\nh\nh\nh\nh\nh\nh\nh\nh\nh\nh\nh\nh\nh\nh\nh\nh\nh\n1\n"},
    {"pairlow", "depth/depth.txt", "depth/depth2.txt", "depth", "1 2\n3 4\n"},
};

void expect_failure(const Outcome &r, const std::string &what)
{
    EXPECT_EQ(r.status, 1) << what;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find(what), std::string::npos) << r.err << " lacks " << what;
}

CaseDir *prepared(const Program &p)
{
    CaseDir *c = new CaseDir;
    if (p.folder)
        c->mkdir(p.folder);
    return c;
}

}  // namespace

TEST(Failures, MissingInputLeavesTheOutputAlone)
{
    for (const Program &p : kPrograms) {
        CaseDir *c = prepared(p);
        c->write(p.output, "old contents");
        Outcome r = c->run(p.name);
        expect_failure(r, std::string(p.name) + ": " + p.input + ": No such file or directory");
        EXPECT_EQ(c->read(p.output), "old contents") << p.name;
        EXPECT_EQ(r.out, "");
        delete c;
        if (std::string(p.name) == "headcut") {  // nor is it created
            CaseDir d;
            d.run(p.name);
            EXPECT_FALSE(d.exists(p.output));
        }
    }
}

TEST(Failures, InputIsADirectory)
{
    for (const Program &p : kPrograms) {
        CaseDir *c = prepared(p);
        c->mkdir(p.input);
        if (std::string(p.name) == "headcut")
            c->write(p.output, "old contents");
        Outcome r = c->run(p.name);
        expect_failure(r, std::string(p.name) + ": " + p.input + ": Is a directory");
        if (std::string(p.name) == "headcut") {
            EXPECT_EQ(c->read(p.output), "old contents");
        }
        delete c;
    }
}

TEST(Failures, OutputCannotBeCreated)
{
    for (const Program &p : kPrograms) {
        if (p.folder) {  // no system or depth folder
            CaseDir c;
            if (std::string(p.folder) == "depth")
                continue;  // the input itself lives in depth/
            c.write(p.input, p.good_input);
            expect_failure(c.run(p.name), std::string(p.output) + ": No such file or directory");
        }
        CaseDir *c = prepared(p);
        c->write(p.input, p.good_input);
        c->mkdir(p.output);  // a directory in its place
        expect_failure(c->run(p.name), std::string(p.output) + ": Is a directory");
        delete c;
    }
    // pairlow's depth folder holding the input but no room for the output
    CaseDir c;
    c.mkdir("depth");
    c.write("depth/depth.txt", "1 2\n3 4\n");
    ASSERT_EQ(symlink("/nonexistent/dir/x", c.at("depth/depth2.txt").c_str()), 0);
    expect_failure(c.run("pairlow"), "depth/depth2.txt: No such file or directory");
}

TEST(Failures, FullDiskForTheOutput)
{
    for (const Program &p : kPrograms) {
        CaseDir *c = prepared(p);
        c->write(p.input, p.good_input);
        ASSERT_EQ(symlink("/dev/full", c->at(p.output).c_str()), 0);
        expect_failure(c->run(p.name), std::string(p.output) + ": No space left on device");
        delete c;
    }
}

TEST(Failures, StandardOutputFullOrClosed)
{
    for (const Program &p : kPrograms) {
        bool prints = std::string(p.name) != "pairlow";
        CaseDir *c = prepared(p);
        c->write(p.input, p.good_input);
        Outcome full = c->run(p.name, ">/dev/full");
        if (prints)
            expect_failure(full, std::string(p.name) + ": standard output: No space left on device");
        else
            EXPECT_EQ(full.status, 0);

        c->write(p.output, "old contents");
        Outcome closed = c->run(p.name, ">&-");
        if (prints) {
            expect_failure(closed, std::string(p.name) + ": standard output: Bad file descriptor");
            EXPECT_EQ(c->read(p.output), "old contents") << p.name;
        } else {  // nothing to lose: the run goes on, its output in its file
            EXPECT_EQ(closed.status, 0);
            EXPECT_EQ(c->read(p.output), "1.000000 2.000000\n");
        }
        delete c;
    }
}

// The input replaced while the first pass reads it: a named pipe whose
// writer removes it (or puts a directory in its place) before it closes, so
// the second open fails or the second pass cannot read.
TEST(Failures, InputVanishingOrUnreadableForTheSecondPass)
{
    struct Case {
        const char *program, *input, *replace, *message;
    } cases[] = {
        {"orbfill", "dump.txt", "", "orbfill: dump.txt: No such file or directory"},
        {"orbfill", "dump.txt", "mkdir dump.txt;", "orbfill: dump.txt: Is a directory"},
        {"headcut", "dump0.txt", "", "headcut: dump0.txt: No such file or directory"},
        {"headcut", "dump0.txt", "mkdir dump0.txt;", "headcut: dump0.txt: Is a directory"},
    };
    for (const Case &k : cases) {
        CaseDir c;
        c.mkdir("system");
        std::string in = k.input;
        Outcome r = c.sh("mkfifo " + in + "; { exec 3>" + in + "; printf '1 2 3 4\\n5 6 7 8\\n' >&3; rm " +
                         in + "; " + k.replace + " exec 3>&-; } & timeout 20 '" BIN_DIR "/" +
                         k.program + "'; st=$?; kill $! 2>/dev/null; wait; exit $st");
        expect_failure(r, k.message);
        if (std::string(k.program) == "headcut" && !*k.replace) {  // never opened
            EXPECT_FALSE(c.exists("dump.txt"));
        }
    }
}
