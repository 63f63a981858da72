#include "casedir.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

namespace fs = std::filesystem;

CaseDir::CaseDir()
{
    char tmpl[] = "/tmp/casetools-test-XXXXXX";
    if (!mkdtemp(tmpl))
        throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

CaseDir::~CaseDir()
{
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void CaseDir::mkdir(const std::string &rel) const { fs::create_directories(at(rel)); }

void CaseDir::write(const std::string &rel, const std::string &bytes) const
{
    put_file(at(rel), bytes);
}

std::string CaseDir::read(const std::string &rel) const { return slurp(at(rel)); }

bool CaseDir::exists(const std::string &rel) const
{
    std::error_code ec;
    return fs::symlink_status(at(rel), ec).type() != fs::file_type::not_found;
}

std::vector<std::string> CaseDir::list() const
{
    std::vector<std::string> names;
    for (const auto &e : fs::recursive_directory_iterator(path_))
        names.push_back(e.path().lexically_relative(path_).string());
    std::sort(names.begin(), names.end());
    return names;
}

Outcome CaseDir::run(const std::string &program, const std::string &shell) const
{
    return sh("'" BIN_DIR "/" + program + "' " + shell);
}

Outcome CaseDir::run_fed(const std::string &program, const std::string &fifo,
                         const std::string &writer) const
{
    return sh("mkfifo " + fifo + "; { " + writer + "; } & timeout 20 '" BIN_DIR "/" + program +
              "'; st=$?; kill $! 2>/dev/null; wait; exit $st");
}

Outcome CaseDir::sh(const std::string &command) const
{
    // orbset takes the release to reproduce from the environment: the
    // tests name one where they mean another than Debian's
    std::string cmd = "cd '" + path_ + "' && unset WM_PROJECT_VERSION && { " + command +
                      "; } >.stdout 2>.stderr";
    int st = std::system(cmd.c_str());
    Outcome r;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = read(".stdout");
    r.err = read(".stderr");
    std::remove(at(".stdout").c_str());
    std::remove(at(".stderr").c_str());
    return r;
}

Ran run_on(const std::string &program, const std::string &input)
{
    struct Files {
        const char *program, *input, *output, *folder;
    } const files[] = {
        {"orbfill", "dump.txt", "system/setFieldsDict", "system"},
        {"orbtint", "dump.txt", "system/setFieldsDict", "system"},
        {"headcut", "dump0.txt", "dump.txt", nullptr},
        {"pairlow", "depth/depth.txt", "depth/depth2.txt", "depth"},
    };
    for (const Files &f : files)
        if (program == f.program) {
            CaseDir c;
            if (f.folder)
                c.mkdir(f.folder);
            c.write(f.input, input);
            Outcome r = c.run(program);
            return {r, c.read(f.output)};
        }
    throw std::invalid_argument(program);
}

std::string dump_header()
{
    std::string s;
    for (int i = 1; i <= 18; ++i)
        s += "ITEM: header line " + std::to_string(i) + "\n";
    return s;
}

void expect_warnings(const Outcome &r, const std::string &program, const std::string &file,
                     const std::vector<std::string> &fragments)
{
    std::istringstream lines(r.err);
    std::string line, lead = program + ": warning: " + file + ": ";
    for (const std::string &f : fragments) {
        if (!std::getline(lines, line)) {
            ADD_FAILURE() << "no warning holds \"" << f << "\" in:\n" << r.err;
            return;
        }
        EXPECT_EQ(line.rfind(lead, 0), 0u) << line;
        EXPECT_NE(line.find(f), std::string::npos) << line << "\nlacks: " << f;
    }
    EXPECT_FALSE(std::getline(lines, line)) << "more warnings than expected:\n" << r.err;
}
