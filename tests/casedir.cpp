#include "casedir.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
    std::ofstream f(at(rel), std::ios::binary);
    f << bytes;
}

std::string slurp(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return "<missing>";
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string CaseDir::read(const std::string &rel) const { return slurp(at(rel)); }

bool CaseDir::exists(const std::string &rel) const
{
    std::error_code ec;
    return fs::symlink_status(at(rel), ec).type() != fs::file_type::not_found;
}

Outcome CaseDir::run(const std::string &program, const std::string &shell) const
{
    return sh("'" BIN_DIR "/" + program + "' " + shell);
}

Outcome CaseDir::sh(const std::string &command) const
{
    std::string cmd = "cd '" + path_ + "' && { " + command + "; } >.stdout 2>.stderr";
    int st = std::system(cmd.c_str());
    Outcome r;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = read(".stdout");
    r.err = read(".stderr");
    std::remove(at(".stdout").c_str());
    std::remove(at(".stderr").c_str());
    return r;
}
