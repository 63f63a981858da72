// The mesh readers on any bytes: a mesh of two cells with one of its files
// replaced by the input (its first byte chooses which, and whether it is
// compressed) is read whole or refused with foam::Bad, one line; never a
// crash, a hang or another exception.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "foam/bad.h"
#include "foam/polymesh.h"

namespace {

const char *const kHeader = "FoamFile { version 2.0; format ascii; class %s; object %s; }\n";

struct File {
    const char *name, *cls, *body;
};

// Two unit cubes side by side along x.
const File kMesh[] = {
    {"points", "vectorField",
     "12((0 0 0) (1 0 0) (2 0 0) (0 1 0) (1 1 0) (2 1 0) (0 0 1) (1 0 1) (2 0 1) (0 1 1) (1 1 1) "
     "(2 1 1))"},
    {"faces", "faceList",
     "11(4(1 4 10 7) 4(0 6 9 3) 4(2 5 11 8) 4(0 1 7 6) 4(3 9 10 4) 4(0 3 4 1) 4(6 7 10 9) "
     "4(1 2 8 7) 4(4 10 11 5) 4(1 4 5 2) 4(7 8 11 10))"},
    {"owner", "labelList", "11(0 0 1 0 0 0 0 1 1 1 1)"},
    {"neighbour", "labelList", "1(1)"},
    {"boundary", "polyBoundaryMesh",
     "2(ends { type patch; nFaces 2; startFace 1; } sides { type wall; inGroups 1(wall); "
     "nFaces 8; startFace 3; })"},
};
constexpr int kFiles = sizeof kMesh / sizeof kMesh[0];

std::string dir;

void write_file(const std::string &path, const void *data, std::size_t size)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size)) {
        std::perror(path.c_str());
        std::abort();
    }
    close(fd);
}

void remove_mesh()
{
    for (const File &f : kMesh) {
        unlink((dir + "/constant/polyMesh/" + f.name).c_str());
        unlink((dir + "/constant/polyMesh/" + f.name + ".gz").c_str());
    }
    rmdir((dir + "/constant/polyMesh").c_str());
    rmdir((dir + "/constant").c_str());
    rmdir(dir.c_str());
}

void write_mesh()
{
    for (const File &f : kMesh) {
        char head[256];
        int n = std::snprintf(head, sizeof head, kHeader, f.cls, f.name);
        std::string text = std::string(head, static_cast<std::size_t>(n)) + f.body + "\n";
        write_file(dir + "/constant/polyMesh/" + f.name, text.data(), text.size());
        unlink((dir + "/constant/polyMesh/" + f.name + ".gz").c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (dir.empty()) {
        // files in memory where there is /dev/shm
        std::string tmpl = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        tmpl += "/fuzz_mesh_XXXXXX";
        if (!mkdtemp(tmpl.data()))
            std::abort();
        dir = tmpl;
        std::atexit(remove_mesh);
        std::string sub = dir + "/constant";
        mkdir(sub.c_str(), 0755);
        mkdir((sub + "/polyMesh").c_str(), 0755);
    }
    if (size == 0)
        return 0;
    write_mesh();
    const File &f = kMesh[data[0] % kFiles];
    std::string path = dir + "/constant/polyMesh/" + f.name;
    if (data[0] & 0x80) {
        // the input stands for the compressed file
        unlink(path.c_str());
        path += ".gz";
    }
    write_file(path, data + 1, size - 1);
    try {
        foam::read_mesh(dir);
    } catch (const foam::Bad &e) {
        if (std::strchr(e.what(), '\n')) {
            std::fprintf(stderr, "a reason of more than one line: %s\n", e.what());
            std::abort();
        }
    }
    return 0;
}
