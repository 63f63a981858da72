#include "out.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <zlib.h>

#include "foam/bad.h"
#include "foam/scalar.h"

namespace orbset {

struct Out::Zip {
    z_stream z{};
    std::unique_ptr<char[]> out{new char[kBuf]};
    ~Zip() { deflateEnd(&z); }
};

Out::Out(textio::Sink &s) : sink_(s), buf_(new char[kBuf + kRoom]) {}

Out::~Out() = default;

std::unique_ptr<Out> Out::plain(textio::Sink &s) { return std::unique_ptr<Out>(new Out(s)); }

std::unique_ptr<Out> Out::gzip(textio::Sink &s)
{
    std::unique_ptr<Out> o(new Out(s));
    o->zip_ = std::make_unique<Zip>();
    // gzip framing (15 + 16), zlib's usual level, as OpenFOAM's gzstream writes
    if (deflateInit2(&o->zip_->z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK)
        throw foam::Bad(std::string(s.path) + ": cannot compress: out of memory");
    return o;
}

void Out::put(const char *p, std::size_t n)
{
    while (n > 0) {
        std::size_t k = std::min(n, kBuf + kRoom - len_);
        std::memcpy(room(), p, k);
        p += k;
        n -= k;
        advance(k);
    }
}

void Out::deflate_out(int flush)
{
    z_stream &z = zip_->z;
    z.next_in = reinterpret_cast<Bytef *>(buf_.get());
    z.avail_in = static_cast<uInt>(len_);
    for (;;) {
        z.next_out = reinterpret_cast<Bytef *>(zip_->out.get());
        z.avail_out = static_cast<uInt>(kBuf);
        int rc = deflate(&z, flush);
        if (rc == Z_STREAM_ERROR)
            throw foam::Bad(std::string(sink_.path) + ": cannot compress");
        textio::put_long(sink_, zip_->out.get(), kBuf - z.avail_out);
        if (flush == Z_FINISH ? rc == Z_STREAM_END : z.avail_out != 0)
            break;
    }
}

void Out::drain()
{
    if (zip_)
        deflate_out(Z_NO_FLUSH);
    else
        textio::put_long(sink_, buf_.get(), len_);
    len_ = 0;
}

void Out::finish()
{
    if (zip_)
        deflate_out(Z_FINISH);
    else
        textio::put_long(sink_, buf_.get(), len_);
    len_ = 0;
}

namespace {

// The text of v that OpenFOAM reads back as v: the shortest one, unless
// reading it through strtold and then double rounds it twice onto another
// double (which happens to about one shortest text in 2000); then 17
// digits, which lie far enough from every midpoint of two doubles.
std::size_t every_digit(double v, char *out)
{
    constexpr int kAllDigits = std::numeric_limits<double>::max_digits10;
    auto len = static_cast<std::size_t>(std::to_chars(out, out + Out::kRoom, v).ptr - out);
    out[len] = 0;  // the end of the token, for reading it back
    foam::Converted back = foam::convert_number(out);
    if (back.status == foam::Conv::ok && back.end == out + len && back.value == v)
        return len;
    return static_cast<std::size_t>(std::snprintf(out, Out::kRoom, "%.*g", kAllDigits, v));
}

}  // namespace

std::size_t NumberText::format(double v, char *out)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    Slot &s = slots_[(bits ^ bits >> 29 ^ bits >> 47) % kSlots];
    if (s.len && s.bits == bits) {
        std::memcpy(out, s.text, s.len);
        return s.len;
    }
    std::size_t len = precision_ == kEveryDigit ? every_digit(v, out)
                                                : static_cast<std::size_t>(std::snprintf(
                                                      out, Out::kRoom, "%.*g", precision_, v));
    if (len < kShort) {
        s.bits = bits;
        s.len = static_cast<unsigned char>(len);
        std::memcpy(s.text, out, len);
    }
    return len;
}

}  // namespace orbset
