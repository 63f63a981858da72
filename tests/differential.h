// The reader's ways of reading numbers and headcut's scans, each run on its
// own over bytes in memory and held against the C library or the reference
// run: shared by the tests and the fuzz targets. A check returns "" when
// the two agree, else the first difference.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cpu.h"
#include "reader.h"
#include "scan.h"

namespace differential {

// Opens r on the bytes: in its buffer when they fit, else through a file.
void open_bytes(textio::Reader &r, const std::string &bytes);

// The numbers "%lf" converts from the start of some bytes, one call after
// another: each value and the offset after it; at_end: reading stopped at
// the end of the input, not at a word.
struct Number {
    std::uint64_t bits;
    long long end;
};
struct Numbers {
    std::vector<Number> list;
    bool at_end;
};

// By the C library: fscanf("%lf") on a stream over the bytes, and ftell.
Numbers by_libc(const std::string &bytes);

// Each way of reading on its own against the C library: the counting pass
// (count_numbers, on the machine's instructions and on the portable ones),
// read_record one number at a time, and on the first number the fast path
// (where it decides) and the exact path.
std::string check_paths(const std::string &bytes);

// Runs f on the machine's paths, then on the portable ones.
template <class F>
void on_each_path(F f)
{
    bool was = textio::portable();
    for (bool portable : {false, true}) {
        textio::use_portable(portable);
        f();
    }
    textio::use_portable(was);
}

// headcut's two scans over the bytes of dump0.txt: count, then copy.
struct Trim {
    std::string dump;
    int count;        // lines counted by the first scan
    int count_again;  // by the second
    headcut::ScanEnd end;
};
Trim trim(const std::string &dump0);

}  // namespace differential
