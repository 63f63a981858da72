// Every way a run can fail: one line on standard error naming the file,
// exit status 1, no crash, and the files that must survive untouched.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "casedir.h"
#include "oracle.h"
#include "replace.h"

namespace {

struct Program {
    const char *name, *input, *output, *folder;
    std::string good_input;
    int passes;  // readings of the input
};

const Program kPrograms[] = {
    {"orbfill", "dump.txt", "system/setFieldsDict", "system", "1 2 3 4\n5 6 7 8\n", 2},
    {"orbtint", "dump.txt", "system/setFieldsDict", "system", "1 2 3 4\n5 6 7 8\n", 2},
    {"headcut", "dump0.txt", "dump.txt", nullptr, dump_header() + "1\n", 2},
    {"pairlow", "depth/depth.txt", "depth/depth2.txt", "depth", "1 2\n3 4\n", 1},
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

std::string repeat(const std::string &s, int n)
{
    std::string r;
    for (int i = 0; i < n; ++i)
        r += s;
    return r;
}

// An input of a few hundred kilobytes: its output leaves in many blocks.
std::string big_input(const Program &p)
{
    std::string name = p.name;
    return (name == "headcut" ? p.good_input : "") +
           repeat(name == "pairlow" ? "1.5 2\n" : "1.25 2 3 4\n", 20000);
}

// The output of p's run on `input`, by the reference.
std::string output_of(const Program &p, const std::string &input)
{
    std::string name = p.name;
    if (name == "headcut")
        return oracle::headcut(input).dump;
    if (name == "pairlow")
        return oracle::pairlow(input);
    bool h = name == "orbtint";
    return oracle::regiondict(input, h ? oracle::kHeaderH : oracle::kHeaderAlpha,
                              h ? oracle::kSuffixH : oracle::kSuffixAlpha).dict;
}

// Shell variables for a command line about p: P the program, IN, OUT and
// DIR its input, output and the output's folder, SIZE the input's bytes,
// PASSES its readings.
std::string vars(const Program &p, std::size_t size)
{
    return std::string("P='" BIN_DIR "/") + p.name + "' IN=" + p.input + " OUT=" + p.output +
           " DIR=" + (p.folder ? p.folder : ".") + " SIZE=" + std::to_string(size) +
           " PASSES=" + std::to_string(p.passes) + "; ";
}

// Starts $P with a named pipe in place of its input (kept in src), and
// goes on once the writing pass has its new file in DIR and waits for the
// rest of its input, which fd 3 writes from byte kHalf on; $pid is the run.
// A first pass reads the whole input first. The waits give up after some
// 10 to 20 s, so that a run that never makes its file fails the test.
const std::string kHalf = "60000";  // within what a pipe holds
const std::string kHalfway =
    "mv $IN src; mkfifo $IN; n=$(ls -A $DIR | wc -l); $P >/dev/null & pid=$!; i=0; "
    "if [ $PASSES = 2 ]; then cat src >$IN; "
    "while ls -l /proc/$pid/fd 2>/dev/null | grep -q \"/$IN\\$\" && [ $((i += 1)) -lt 500 ]; "
    "do sleep 0.01; done; fi; "
    "exec 3<>$IN; head -c " + kHalf + " src >&3; "
    "while [ $(ls -A $DIR | wc -l) -le $n ] && [ $((i += 1)) -lt 1000 ]; do sleep 0.01; done; ";

// A row: a shell line about the program (see vars), run in a case that
// holds big_input() and the old output "old contents".
struct Row {
    const char *program;  // nullptr: each program
    std::string command;
    int status;
    std::string err;      // standard error; "-": not checked
    const char *holder;   // the file then holding the run's output; nullptr:
                          // the output is the old one; "": none checked
};

// Runs the rows, with $NAME, $IN and $OUT in `err` and `holder` standing
// for the program's names. The input stays as it was, and no hidden file
// (where temporary files are made) is left behind.
void run_rows(const std::vector<Row> &rows)
{
    for (const Row &k : rows)
        for (const Program &p : kPrograms) {
            if (k.program && std::string(k.program) != p.name)
                continue;
            auto names = [&p](std::string s) {
                for (auto [from, to] : {std::pair{"$NAME", p.name}, {"$IN", p.input}, {"$OUT", p.output}})
                    for (std::size_t at; (at = s.find(from)) != std::string::npos;)
                        s.replace(at, std::strlen(from), to);
                return s;
            };
            auto c = prepared(p);
            std::string input = big_input(p), row = std::string(p.name) + ": " + k.command;
            c->write(p.input, input);
            c->write(p.output, "old contents");
            Outcome r = c->sh(vars(p, input.size()) + k.command);
            EXPECT_EQ(r.status, k.status) << row << "\n" << r.err;
            if (k.err != "-") {
                EXPECT_EQ(r.err, names(k.err)) << row;
            }
            EXPECT_TRUE(c->read(p.input) == input) << row;
            if (!k.holder || *k.holder) {
                EXPECT_TRUE(c->read(names(k.holder ? k.holder : "$OUT")) ==
                            (k.holder ? output_of(p, input) : "old contents")) << row;
            }
            for (const std::string &name : c->list())
                EXPECT_TRUE(name[0] != '.' && name.find("/.") == std::string::npos) << row << ": " << name;
        }
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
        {"headcut", "dump0.txt", "dump.txt", twice("dump0.txt", lines19, lines20), "19", "line 18\n",
         "19 lines counted; 1 line beyond them was not copied", nullptr},
        // a pipe read twice, through /dev/stdin, is empty the second time
        {"headcut", "dump0.txt", "dump.txt", "", "20", "",
         "20 lines counted, 0 found again; dump.txt holds 0 of the 2 lines expected",
         "ln -s /dev/stdin dump0.txt; seq -f 'line %g' 20 | '" BIN_DIR "/headcut'"},
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

// A reader of standard output that goes away: one line and status 1,
// never a signal; a dictionary whose trace was lost is complete.
TEST(Failures, ClosedPipeOnStandardOutput)
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
}

// A run that fails or is killed halfway through writing its output, or
// refused, leaves the old output as it was.
TEST(Failures, OldOutputSurvivesAFailedOrKilledRun)
{
    run_rows({
        {nullptr, kHalfway + "kill -TERM $pid; wait $pid; st=$?; exec 3>&-; rm $IN; mv src $IN; exit $st",
         128 + SIGTERM, "-", nullptr},
        // a closed terminal ends the run as SIGTERM does
        {nullptr, kHalfway + "kill -HUP $pid; wait $pid; st=$?; exec 3>&-; rm $IN; mv src $IN; exit $st",
         128 + SIGHUP, "-", nullptr},
        // killed where no output was yet: none is left, not a part of one
        {nullptr, "rm $OUT; " + kHalfway + "kill -TERM $pid; wait $pid; st=$?; exec 3>&-; rm $IN; mv src $IN; "
                  "test ! -e $OUT && exit $st",
         128 + SIGTERM, "-", ""},
        // a disk going bad halfway through the writing pass
        {nullptr, "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 "
                  "CASETOOLS_READ_FAILS_AFTER=$((SIZE * PASSES - SIZE / 2)) LD_PRELOAD=" READ_FAILS " $P",
         1, "$NAME: $IN: Input/output error\n", nullptr},
        // one read that fails in the first pass, though the next would succeed
        {nullptr, "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0 "
                  "CASETOOLS_READ_FAILS_AFTER=$((SIZE / 2)) CASETOOLS_READ_FAILS_TIMES=1 LD_PRELOAD=" READ_FAILS " $P",
         1, "$NAME: $IN: Input/output error\n", nullptr},
        // 50 KiB in dash's blocks of 512 bytes; a full disk alike
        {nullptr, "ulimit -f 100; $P", 1, "$NAME: $OUT: File too large\n", nullptr},
        // standard output into a file of the run, as cat refuses it; >> keeps
        // what the shell would have emptied
        {nullptr, "$P >>$IN", 1, "$NAME: $IN: input file is standard output\n", nullptr},
        {"orbfill", "$P >>$OUT", 1, "$NAME: $OUT: output file is standard output\n", nullptr},
        {"orbtint", "$P >>$OUT", 1, "$NAME: $OUT: output file is standard output\n", nullptr},
        {"headcut", "$P >>$OUT", 1, "$NAME: $OUT: output file is standard output\n", nullptr},
    });
}

// What a successful run leaves where its output was.
TEST(Failures, OutputReplacedWhole)
{
    run_rows({
        // a lock that another run holds on the output stops no replacement
        {nullptr, "flock $OUT $P", 0, "", "$OUT"},
        // pairlow prints nothing: standard output into its output does no harm
        {"pairlow", "$P >>$OUT", 0, "", "$OUT"},
        // a symbolic link stays, and its target is replaced
        {"orbfill", "mkdir elsewhere; mv $OUT elsewhere/dict; ln -s ../elsewhere/dict $OUT; $P && test -L $OUT",
         0, "", "elsewhere/dict"},
        {"orbfill", "chmod 604 $OUT; $P && test $(stat -c %a $OUT) = 604", 0, "", "$OUT"},
        {"orbfill", "chmod 2664 $OUT; $P && test $(stat -c %a $OUT) = 2664", 0, "", "$OUT"},
        {"orbfill", "rm $OUT; umask 027; $P && test $(stat -c %a $OUT) = 640", 0, "", "$OUT"},
        // an old output longer than the new one leaves no tail
        {"orbfill", "head -c 8000000 /dev/zero >$OUT; $P", 0, "", "$OUT"},
        // a link planted where the temporary file is made is never written through
        {"orbfill", "echo keep >victim; sh -c \"ln -s ../victim $DIR/.setFieldsDict.\\$\\$.0~; exec '$P'\"; "
                    "st=$?; rm $DIR/.setFieldsDict.*; test $(cat victim) = keep && rm victim && exit $st",
         0, "", "$OUT"},
        // as with sed -i, another name of the output keeps the old content
        {"orbfill", "ln $OUT other; $P && test \"$(cat other)\" = 'old contents'", 0, "", "$OUT"},
        // written in place with no lock: dry runs at once, someone else's lock
        {"orbfill", "rm $OUT; ln -s /dev/null $OUT; $P && test -L $OUT", 0, "", ""},
        {"orbfill", "rm $OUT; ln -s /dev/null $OUT; flock /dev/null $P & $P && wait $!", 0, "", ""},
    });
}

// A user who is not root (run as root, the runs drop to nobody): a
// read-only output is refused although its folder would let it be
// replaced; an output that may be written but not replaced (its folder
// takes no new file; another user's file in a sticky folder) is written in
// place, the same file, and there a lock of another run stops the run.
TEST(Failures, PermissionsOfAUserWhoIsNotRoot)
{
    std::string as = "chmod 755 .; chmod 777 $DIR; chmod 666 $OUT; i=$(stat -c %i $OUT); ";
    if (geteuid() == 0) {
        as += "AS='setpriv --reuid=65534 --regid=65534 --clear-groups'; ";
        if (std::system("setpriv --reuid=65534 --regid=65534 --clear-groups true") != 0)
            GTEST_SKIP() << "setpriv cannot run a program as nobody";
    }
    const std::string same_file = " && test $(stat -c %i $OUT) = $i";
    run_rows({
        {"orbfill", as + "chmod 444 $OUT; $AS $P", 1, "$NAME: $OUT: Permission denied\n", nullptr},
        {"orbfill", as + "chmod 555 $DIR; $AS $P" + same_file, 0, "", "$OUT"},
        // a longer old file, written in place, keeps no tail
        {"orbfill", "head -c 8000000 /dev/zero >$OUT; " + as + "chmod 555 $DIR; $AS $P" + same_file, 0, "",
         "$OUT"},
        {"orbfill", as + "chmod 1777 $DIR; $AS $P" + same_file, 0, "", "$OUT"},
        {"orbfill", as + "chmod 555 $DIR; flock $OUT $AS $P", 1,
         "$NAME: $OUT: another run is writing this file; try again when it has ended\n", nullptr},
    });
}

// orbfill reading dump.txt while headcut writes it reads the old whole
// list, never a part of the new one.
TEST(Failures, ReaderDuringAWriter)
{
    const Program &h = program("headcut");
    CaseDir c;
    c.mkdir("system");
    std::string input = big_input(h), old = "1 2 3 4\n5 6 7 8\n9 9 9 9\n";
    c.write(h.input, input);
    c.write(h.output, old);
    Outcome r = c.sh(vars(h, input.size()) + kHalfway + "'" BIN_DIR "/orbfill'; tail -c +$((" + kHalf +
                     " + 1)) src >&3; exec 3>&-; wait $pid; st=$?; rm $IN; exit $st");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(c.read("system/setFieldsDict") == output_of(program("orbfill"), old));
    EXPECT_TRUE(c.read(h.output) == output_of(h, input));
}

// The new output keeps the old one's extended attributes (an access
// control list is one), where the file system takes them.
TEST(Failures, ExtendedAttributesKept)
{
    const Program &fill = program("orbfill");
    CaseDir c;
    c.mkdir("system");
    c.write(fill.input, "1 2 3 4\n");
    c.write(fill.output, "old contents");
    const std::string out = c.at(fill.output);
    if (setxattr(out.c_str(), "user.origin", "dem run 7", 9, 0) != 0)
        GTEST_SKIP() << "no user attributes here: " << std::strerror(errno);
    ASSERT_EQ(c.run("orbfill").status, 0);
    char value[16] = {};
    EXPECT_EQ(getxattr(out.c_str(), "user.origin", value, sizeof value), 9);
    EXPECT_STREQ(value, "dem run 7");
}

// Two runs at once on one output both succeed; the output is one of them.
TEST(Failures, TwoRunsAtOnce)
{
    const Program &fill = program("orbfill"), &tint = program("orbtint");
    CaseDir c;
    c.mkdir("system");
    std::string input = big_input(fill);
    c.write(fill.input, input);
    Outcome r = c.sh("'" BIN_DIR "/orbfill' & '" BIN_DIR "/orbtint' && wait $!");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string dict = c.read(fill.output);
    EXPECT_TRUE(dict == output_of(fill, input) || dict == output_of(tint, input));
    EXPECT_EQ(c.list(), (std::vector<std::string>{"dump.txt", "system", "system/setFieldsDict"}));
}

// What a new user would miss, one warning line each; the run succeeds and
// writes what the reference writes.
TEST(Failures, WarningsANewUserNeeds)
{
    std::string sphere = "1e-4 2e-4 3e-4 1e-5\n";
    std::string liggghts = "ITEM: TIMESTEP\n0\nITEM: NUMBER OF ATOMS\n30\nITEM: BOX BOUNDS pp pp pp\n"
                           "0 1\n0 1\n0 1\nITEM: ATOMS id type x y z vx vy vz radius\n";
    struct Case {
        const char *program;
        std::string input;
        std::vector<std::string> warnings;
    } cases[] = {
        // the usual 9-line header: nine spheres cut as header
        {"headcut", repeat("ITEM: 0\n", 9) + repeat(sphere, 30),
         {"line 10: a header line holding 4 numbers, as a sphere record does (9 such lines)"}},
        {"headcut", repeat("h\n", 17) + repeat(sphere, 3), {"line 18: a header line holding 4 numbers"}},
        // a LIGGGHTS dump as it is written, and as the README's awk line cuts it: the
        // numbers of its own header (time step, atoms, box) are not records
        {"headcut", liggghts + repeat("1 1 1e-4 2e-4 3e-4 0 0 0 1e-5\n", 30),
         {"line 10: a header line holding 9 numbers, as a record does (9 such lines); the first 18 "
          "lines are never copied, so a dump with a shorter header loses such records, and orbfill "
          "reads 4 numbers a sphere, x y z and radius; line 1 starts with ITEM:, so this is a "
          "LIGGGHTS or LAMMPS dump with a header of its own"}},
        {"headcut", liggghts + repeat("#\n", 9) + repeat(sphere, 30), {}},
        {"headcut", repeat(sphere, 5), {"line 1: a header line", "5 lines, no more than the 18 header lines"}},
        {"headcut", "h\n", {"1 line, no more than the 18 header lines, so dump.txt is empty"}},
        // -0.00002 takes every cell within 20 micrometres; -4e-7 is written -0.000000
        {"orbfill", "0 0 0 1\n0 0 0 -0.00002\n0 0 0 -4e-7\n0 0 0 nan\n",
         {"line 4: nan or inf in a sphere entry (1 such entry in all)",
          "line 3: a radius written as 0.000000 or -0.000000 (1 such sphere in all); such a sphere sets no cell",
          "line 2: a negative radius (1 such sphere in all); setFields uses its size"}},
        {"pairlow", "1500 7\n2000 8\n", {"as 1000.000000 with 0.000000, as no earlier pair had chosen a value"}},
        {"pairlow", "1500 7\n2000 8\n2 9\n4 1\n1500 7\n2000 8\n",
         {"with the second value of an earlier pair, or 0.000000 before any pair had chosen one"}},
    };
    for (const Case &k : cases) {
        const Program &p = program(k.program);
        auto c = prepared(p);
        c->write(p.input, k.input);
        Outcome r = c->run(p.name);
        EXPECT_EQ(r.status, 0) << k.input;
        EXPECT_EQ(c->read(p.output), output_of(p, k.input)) << k.input;
        expect_warnings(r, p.name, p.input, k.warnings);
    }
}

// Several replacements held at once, as a run that rewrites several files
// holds them: each commit replaces its own file, and a signal before the
// others removes every temporary file left.
TEST(Failures, SeveralReplacementsAtOnce)
{
    CaseDir c;
    const char *names[] = {"a", "b", "c"};
    for (const char *name : names)
        c.write(name, "old");
    pid_t pid = fork();
    if (pid == 0) {
        static textio::Replacement r[3];
        static textio::Sink s[3];
        if (chdir(c.path().c_str()) != 0)
            _exit(2);
        for (int i = 0; i < 3; ++i) {
            if (!textio::open_replacement(r[i], s[i], names[i], nullptr))
                _exit(2);
            textio::put(s[i], "new", 3);
        }
        textio::commit_replacement(r[1], s[1]);
        raise(SIGTERM);
        _exit(3);
    }
    int status;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(c.read("a") + c.read("b") + c.read("c"), "oldnewold");
    EXPECT_EQ(c.list(), (std::vector<std::string>{"a", "b", "c"}));
}
