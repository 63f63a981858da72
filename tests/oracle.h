// Reference runs, written the straightforward way with the C library's own
// fscanf, fprintf, getc and putc on memory streams. Tests compare the
// programs and the fast components with these byte for byte.
#pragma once

#include <cstdio>
#include <string>

namespace oracle {

// A stream that reads the bytes of s (which must outlive it).
FILE *read_bytes(const std::string &s);

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
