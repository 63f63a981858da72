// The bytes of a field file on their way to its replacement: plain, or
// gzip-compressed for a file that was read compressed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "writer.h"

namespace orbset {

class Out {
public:
    // Room past the buffer's fill mark that a writer may fill before advance().
    static constexpr std::size_t kRoom = 1024;

    // Writes into s; compressed as gzip when `gzip`.
    static std::unique_ptr<Out> plain(textio::Sink &s);
    static std::unique_ptr<Out> gzip(textio::Sink &s);
    ~Out();
    Out(const Out &) = delete;
    Out &operator=(const Out &) = delete;

    char *room() { return buf_.get() + len_; }
    void advance(std::size_t n)
    {
        len_ += n;
        if (len_ >= kBuf)
            drain();
    }
    void put(const char *p, std::size_t n);
    // Writes what is held; for gzip, the end of the stream. Throws foam::Bad
    // when compression fails.
    void finish();

private:
    static constexpr std::size_t kBuf = 1 << 16;
    explicit Out(textio::Sink &s);
    void drain();
    void deflate_out(int flush);

    textio::Sink &sink_;
    std::unique_ptr<char[]> buf_;
    std::size_t len_ = 0;
    struct Zip;
    std::unique_ptr<Zip> zip_;
};

// Doubles as OpenFOAM writes them in ascii: "%.*g" of the write precision;
// or, with kEveryDigit, the shortest text that OpenFOAM reads back as the
// same double, for values that setFields keeps whole (in binary). The
// recent texts are kept, since a field mostly repeats a few values.
class NumberText {
public:
    static constexpr int kEveryDigit = -1;
    explicit NumberText(int precision)
        : precision_(precision == kEveryDigit ? kEveryDigit : precision < 1 ? 1 : precision)
    {
    }
    // Writes the text of v into out, which has Out::kRoom bytes; returns its length.
    std::size_t format(double v, char *out);

private:
    static constexpr int kSlots = 64;
    static constexpr std::size_t kShort = 32;
    struct Slot {
        std::uint64_t bits = 0;
        unsigned char len = 0;  // 0: empty
        char text[kShort];
    };
    int precision_;
    Slot slots_[kSlots];
};

}  // namespace orbset
