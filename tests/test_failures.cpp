// Every way a run can fail: one line on standard error naming the file,
// exit status 1, no crash, and the files that must survive untouched.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "casedir.h"
#include "oracle.h"

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

const Program &program(const std::string &name)
{
    for (const Program &p : kPrograms)
        if (name == p.name)
            return p;
    throw std::invalid_argument(name);
}

void expect_failure(const Outcome &r, const std::string &what)
{
    EXPECT_EQ(r.status, 1) << what;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find(what), std::string::npos) << r.err << " lacks " << what;
}

std::unique_ptr<CaseDir> prepared(const Program &p)
{
    auto c = std::make_unique<CaseDir>();
    if (p.folder)
        c->mkdir(p.folder);
    return c;
}

}  // namespace

TEST(Failures, MissingInputLeavesTheOutputAlone)
{
    for (const Program &p : kPrograms) {
        auto c = prepared(p);
        c->write(p.output, "old contents");
        Outcome r = c->run(p.name);
        expect_failure(r, std::string(p.name) + ": " + p.input + ": No such file or directory");
        EXPECT_EQ(c->read(p.output), "old contents") << p.name;
        EXPECT_EQ(r.out, "");
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
        auto c = prepared(p);
        c->mkdir(p.input);
        c->write(p.output, "old contents");
        Outcome r = c->run(p.name);
        expect_failure(r, std::string(p.name) + ": " + p.input + ": Is a directory");
        EXPECT_EQ(c->read(p.output), "old contents") << p.name;
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
        auto c = prepared(p);
        c->write(p.input, p.good_input);
        c->mkdir(p.output);  // a directory in its place
        expect_failure(c->run(p.name), std::string(p.output) + ": Is a directory");
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
        auto c = prepared(p);
        c->write(p.input, p.good_input);
        ASSERT_EQ(symlink("/dev/full", c->at(p.output).c_str()), 0);
        expect_failure(c->run(p.name), std::string(p.output) + ": No space left on device");
    }
}

TEST(Failures, StandardOutputFullOrClosed)
{
    for (const Program &p : kPrograms) {
        bool prints = std::string(p.name) != "pairlow";
        auto c = prepared(p);
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
        Outcome r = c.run_fed(k.program, in, "exec 3>" + in + "; printf '1 2 3 4\\n5 6 7 8\\n' >&3; rm " +
                                                 in + "; " + k.replace + " exec 3>&-");
        expect_failure(r, k.message);
        if (std::string(k.program) == "headcut" && !*k.replace) {  // never opened
            EXPECT_FALSE(c.exists("dump.txt"));
        }
    }
}

// An input that changes between the two readings (a named pipe that serves
// different contents to the two opens, or one that cannot be read twice):
// the bytes of the second reading, and a warning with what was expected.
TEST(Failures, InputChangingBetweenTheReadings)
{
    // the pause lets the first reading see the end of its input before the
    // second writer opens the pipe
    auto twice = [](const std::string &file, const std::string &first, const std::string &second) {
        return "printf '" + first + "' >" + file + "; sleep 0.5; printf '" + second + "' >" + file;
    };
    std::string lines19;
    for (int i = 0; i < 19; ++i)
        lines19 += "line " + std::to_string(i) + "\\n";
    std::string lines20 = lines19 + "line 19\\n";
    struct Case {
        const char *program, *input, *output;
        std::string writer, out, written, warning;
        const char *shell;  // instead of a named pipe
    } cases[] = {
        // entries stop at the count minus one; the trace shows the records
        // passed over
        {"orbfill", "dump.txt", "system/setFieldsDict",
         twice("dump.txt", "1 2 3 4\\n5 6 7 8\\n", "1 2 3 4\\n5 6 7 8\\n9 9 9 9\\n1 1 1 1\\n"),
         "2T1A1B2A2A", oracle::regiondict("1 2 3 4\n5 6 7 8\n", oracle::kHeaderAlpha, oracle::kSuffixAlpha).dict,
         "2 records counted; 2 records beyond them were not written", nullptr},
        {"orbfill", "dump.txt", "system/setFieldsDict",
         twice("dump.txt", "1 2 3 4\\n5 6 7 8\\n9 9 9 9\\n", "1 2 3 4\\n5 6 7 8\\n"), "3T1A1B",
         oracle::regiondict("1 2 3 4\n5 6 7 8\n", oracle::kHeaderAlpha, oracle::kSuffixAlpha).dict,
         "3 records counted, so 2 sphere entries were expected; written: 1", nullptr},
        // the copy ends at the end of the input and never writes an
        // end-of-file value as a byte
        {"headcut", "dump0.txt", "dump.txt", twice("dump0.txt", lines20, lines19), "20", "line 18\n",
         "20 lines counted, 19 found again; dump.txt holds 1 of the 2 lines expected", nullptr},
        // a pipe read twice, through /dev/stdin, is empty the second time
        {"headcut", "dump0.txt", "dump.txt", "", "20", "",
         "20 lines counted, 0 found again; dump.txt holds 0 of the 2 lines expected",
         "ln -s /dev/stdin dump0.txt; seq 20 | '" BIN_DIR "/headcut'"},
    };
    for (const Case &k : cases) {
        CaseDir c;
        c.mkdir("system");
        Outcome r = k.shell ? c.sh(k.shell) : c.run_fed(k.program, k.input, k.writer);
        EXPECT_EQ(r.status, 0) << k.warning;
        EXPECT_EQ(r.out, k.out);
        EXPECT_EQ(c.read(k.output), k.written);
        expect_warnings(r, k.program, k.input, {"changed while it was read: " + k.warning});
    }
}

// Arguments: --help and --version answer on standard output; anything else
// is a usage error. None of them opens a file.
TEST(Failures, CommandLine)
{
    const std::string version = " (casetools) " CASETOOLS_VERSION "\n";
    struct Case {
        const char *program, *args;
        int status;
        std::string out, err;
    } cases[] = {
        {"orbfill", "--help", 0, "usage: orbfill [--help | --version]\n\nRun it with no arguments", ""},
        {"orbtint", "-help", 0, "Manual: man orbtint\n", ""},
        {"headcut", "-h", 0, "dump0.txt", ""},
        {"pairlow", "--version", 0, "pairlow" + version, ""},
        {"orbfill", "-version", 0, "orbfill" + version, ""},
        // the reflex of an OpenFOAM user
        {"orbfill", "-case ../other", 2, "",
         "orbfill: unexpected argument \"-case\": orbfill takes no arguments and runs in the "
         "current case directory; cd ../other first\nusage: orbfill [--help | --version]\n"},
        {"pairlow", "somefile", 2, "", "pairlow takes no arguments"},
        {"headcut", "--help more", 2, "", "usage: headcut [--help | --version]\n"},
        {"orbtint", "--version >&-", 1, "", "orbtint: standard output: Bad file descriptor\n"},
    };
    for (const Case &k : cases) {
        const Program &p = program(k.program);
        auto c = prepared(p);
        c->write(p.input, p.good_input);
        c->write(p.output, "old contents");
        Outcome r = c->run(p.name, k.args);
        EXPECT_EQ(r.status, k.status) << k.program << " " << k.args;
        EXPECT_NE(r.out.find(k.out), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(k.err), std::string::npos) << r.err;
        EXPECT_EQ(k.status == 0 ? r.err : r.out, "") << k.program << " " << k.args;
        EXPECT_EQ(c->read(p.output), "old contents") << k.program << " " << k.args;
    }
}

// An output that is the input itself, through a symbolic or a hard link:
// refused before anything is written, and the input survives whole.
TEST(Failures, OutputIsTheInput)
{
    for (const Program &p : kPrograms)
        for (const char *link : {"ln -s", "ln"}) {
            auto c = prepared(p);
            c->write(p.input, p.good_input);
            ASSERT_EQ(c->sh(std::string(link) + " '" + c->at(p.input) + "' " + p.output).status, 0);
            Outcome r = c->run(p.name);
            expect_failure(r, std::string(p.name) + ": " + p.output + " and " + p.input +
                                  " are the same file");
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(c->read(p.input), p.good_input) << p.name << " " << link;
        }
}

// Another run holding the output: this one refuses and leaves it be.
TEST(Failures, OutputBeingWrittenByAnotherRun)
{
    for (const Program &p : kPrograms) {
        auto c = prepared(p);
        c->write(p.input, p.good_input);
        c->write(p.output, "old contents");
        int other = open(c->at(p.output).c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(flock(other, LOCK_EX), 0);
        Outcome r = c->run(p.name);
        close(other);
        expect_failure(r, std::string(p.name) + ": " + p.output + ": another run is writing this file");
        EXPECT_EQ(c->read(p.output), "old contents");
    }
}

// A reader of standard output that goes away, or a file size limit: one
// line and status 1, never a signal; a dictionary whose trace was lost is
// complete.
TEST(Failures, ClosedPipeAndFileSizeLimit)
{
    std::string spheres;  // a trace far longer than a pipe holds
    for (int i = 0; i < 20000; ++i)
        spheres += "1 2 3 4\n";
    CaseDir c;
    c.mkdir("system");
    c.write("dump.txt", spheres);
    Outcome r = c.sh("{ '" BIN_DIR "/orbfill'; echo $? >status; } | head -c 20 >/dev/null; "
                     "exit $(cat status)");
    expect_failure(r, "orbfill: standard output: Broken pipe");
    EXPECT_EQ(c.read("system/setFieldsDict"),
              oracle::regiondict(spheres, oracle::kHeaderAlpha, oracle::kSuffixAlpha).dict);

    for (const Program &p : kPrograms) {
        auto k = prepared(p);
        k->write(p.input, p.good_input + spheres);
        expect_failure(k->sh(std::string("ulimit -f 20; '" BIN_DIR "/") + p.name + "'"),
                       std::string(p.name) + ": " + p.output + ": File too large");
    }
}
