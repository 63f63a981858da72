// Reference runs, written the straightforward way with the C library's own
// fscanf, fprintf, getc and putc. Tests compare the programs and the fast
// components with these byte for byte, on memory streams; the benchmark
// times them on files, as the literal stdio build.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <unistd.h>

namespace oracle {

}  // namespace oracle

// The bytes of a file, or "<missing>".
std::string slurp(const std::string &path);
// Makes the file hold the bytes.
void put_file(const std::string &path, const std::string &bytes);

namespace oracle {

// A stream that reads the bytes of s (which must outlive it).
FILE *read_bytes(const std::string &s);

// A descriptor of an in-memory file that holds the bytes of s, at offset 0.
int bytes_fd(const std::string &s);
// The whole contents of the file behind fd, whatever its offset.
std::string fd_bytes(int fd);

// What write(fd) writes to the descriptor it is given, an in-memory file
// that it may close.
template <class F>
std::string captured(F write)
{
    int fd = bytes_fd("");
    write(dup(fd));
    std::string s = fd_bytes(fd);
    close(fd);
    return s;
}

// The header and entry suffix of the two field profiles, as the
// dictionary must hold them.
extern const std::string kHeaderAlpha, kSuffixAlpha, kHeaderH, kSuffixH;

// The runs over streams; `input` opens the input anew for each reading.
using Opener = std::function<FILE *()>;
void regiondict_run(const Opener &input, FILE *dict, FILE *trace, const std::string &header,
                    const std::string &suffix);
void headcut_run(const Opener &input, FILE *dump, FILE *count);
void pairlow_run(FILE *depth, FILE *depth2);

// The same runs over the bytes of the input file, in memory.
struct Dict {
    std::string dict;   // system/setFieldsDict
    std::string trace;  // standard output
};

// The region dictionary run over the bytes of dump.txt, for the profile
// whose header and entry suffix are given.
Dict regiondict(const std::string &dump, const std::string &header,
                const std::string &suffix);

struct Trim {
    std::string dump;   // dump.txt
    std::string count;  // standard output
};

// The dump trimmer over the bytes of dump0.txt.
Trim headcut(const std::string &dump0);

// The pair reducer over the bytes of depth/depth.txt.
std::string pairlow(const std::string &depth);

}  // namespace oracle
