#include "text.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "bad.h"

namespace foam {

namespace {

constexpr std::size_t kChunk = 1 << 20;
constexpr const char *kGz = ".gz";

[[noreturn]] void fail_errno(const std::string &name, int err)
{
    throw Bad(name + ": " + std::strerror(err));
}

// A growing buffer of bytes that keeps kTextPad bytes of room at its end.
struct Buffer {
    std::unique_ptr<char[], TextRelease> data;
    std::size_t size = 0, cap = 0;

    void reserve(std::size_t n)
    {
        if (n <= cap && data)
            return;  // else at least the padding, for an empty text too
        std::unique_ptr<char[], TextRelease> bigger(new char[n + kTextPad]);
        advise_huge_pages(bigger.get(), n + kTextPad);
        if (size)
            std::memcpy(bigger.get(), data.get(), size);
        data = std::move(bigger);
        cap = n;
    }
    // Room for at least `want` more bytes.
    void room(std::size_t want)
    {
        if (cap - size < want)
            reserve(std::max(cap * 2, size + want));
    }
    Text finish(std::string name, bool compressed)
    {
        reserve(size);
        std::memset(data.get() + size, 0, kTextPad);
        Text t;
        t.name = std::move(name);
        t.data = std::move(data);
        t.size = size;
        t.compressed = compressed;
        return t;
    }
};

struct Fd {
    int fd;
    ~Fd() { ::close(fd); }
};

// Reads into b until the end of the file.
void read_all(int fd, Buffer &b, const std::string &name)
{
    for (;;) {
        if (b.size == b.cap)
            b.room(kChunk);
        ssize_t n = ::read(fd, b.data.get() + b.size, b.cap - b.size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail_errno(name, errno);
        }
        if (n == 0)
            return;
        b.size += static_cast<std::size_t>(n);
    }
}

[[noreturn]] void fail_bound(const std::string &name, const Bound &bound, bool inflated)
{
    throw Bad(name + ": more than " + std::to_string(bound.bytes) + " bytes" +
              (inflated ? " once inflated" : "") + ", more than " + bound.what);
}

Text load_plain(const std::string &name, int fd, std::size_t size, const Bound &bound)
{
    if (size > bound.bytes)
        fail_bound(name, bound, false);
    Buffer b;
    b.reserve(size + 1);  // +1: the end is seen in one pass
    read_all(fd, b, name);
    if (b.size > bound.bytes)  // grown while it was read
        fail_bound(name, bound, false);
    return b.finish(name, false);
}

// The size of the inflated content that a gzip file states in its last four
// bytes (modulo 2^32), as a first guess; no more than deflate can give from
// the file's size, at most 1032 bytes from one.
std::size_t stated_size(int fd)
{
    constexpr std::size_t kMostInflated = 1032;
    struct stat st;
    unsigned char tail[4];
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 18 ||
        pread(fd, tail, 4, st.st_size - 4) != 4)
        return kChunk;
    std::size_t stated = std::size_t{tail[0]} | std::size_t{tail[1]} << 8 |
                         std::size_t{tail[2]} << 16 | std::size_t{tail[3]} << 24;
    return std::min(stated, static_cast<std::size_t>(st.st_size) * kMostInflated);
}

Text load_gz(const std::string &name, int fd, const Bound &bound)
{
    Buffer out;
    out.reserve(std::min(stated_size(fd), bound.bytes) + 1);
    Buffer in;
    in.reserve(kChunk);
    z_stream z{};
    if (inflateInit2(&z, 15 + 16) != Z_OK)
        throw Bad(name + ": cannot inflate: out of memory");
    struct End {
        z_stream &z;
        ~End() { inflateEnd(&z); }
    } end{z};
    bool member_done = false;  // the last gzip member read has ended
    for (;;) {
        if (z.avail_in == 0) {
            ssize_t n = ::read(fd, in.data.get(), in.cap);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                fail_errno(name, errno);
            }
            if (n == 0) {
                if (!member_done)
                    throw Bad(name + ": the compressed data ends early");
                return out.finish(name, true);
            }
            z.next_in = reinterpret_cast<Bytef *>(in.data.get());
            z.avail_in = static_cast<uInt>(n);
        }
        if (member_done) {
            // gzip files may hold several members back to back, read as one
            if (inflateReset(&z) != Z_OK)
                throw Bad(name + ": cannot inflate");
            member_done = false;
        }
        if (out.size > bound.bytes)
            fail_bound(name, bound, true);
        if (out.size == out.cap)
            out.room(kChunk);
        std::size_t avail = std::min<std::size_t>(out.cap - out.size, 1u << 30);
        z.next_out = reinterpret_cast<Bytef *>(out.data.get() + out.size);
        z.avail_out = static_cast<uInt>(avail);
        int rc = inflate(&z, Z_NO_FLUSH);
        out.size += avail - z.avail_out;
        if (rc == Z_STREAM_END)
            member_done = true;
        else if (rc != Z_OK && rc != Z_BUF_ERROR)
            throw Bad(name + ": not readable as gzip data: " + (z.msg ? z.msg : "corrupt data"));
    }
}

bool exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// A regular file of at least this size is mapped rather than read.
constexpr std::size_t kMapAtLeast = std::size_t{1} << 20;

// The files mapped now, for mapped_file_at: a slot is taken, given the
// name, then the bytes, and freed when the mapping goes. A run maps a few
// files at a time on each core; one beyond the slots goes unnamed.
struct MappedFile {
    std::atomic<bool> taken{false};
    std::atomic<std::uintptr_t> begin{0}, end{0};
    char name[PATH_MAX];
};
constexpr int kMappedFiles = 64;
MappedFile mapped_files[kMappedFiles];

void note_mapped(const std::string &name, const char *begin, std::size_t size)
{
    for (MappedFile &m : mapped_files) {
        if (m.taken.exchange(true))
            continue;
        std::size_t n = std::min(name.size(), sizeof m.name - 1);
        std::memcpy(m.name, name.data(), n);
        m.name[n] = 0;
        m.end.store(reinterpret_cast<std::uintptr_t>(begin + size));
        m.begin.store(reinterpret_cast<std::uintptr_t>(begin));
        return;
    }
}

void forget_mapped(const char *begin)
{
    for (MappedFile &m : mapped_files)
        if (m.begin.load() == reinterpret_cast<std::uintptr_t>(begin)) {
            m.begin.store(0);
            m.end.store(0);
            m.taken.store(false);
            return;
        }
}

// Maps the file after a stretch of zero pages reserved for it, so that
// the kTextPad bytes after its end read as zeros: the tail of the file's
// last page is zero, and so are the anonymous pages after it.
Text map_plain(const std::string &name, int fd, std::size_t size)
{
    auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    std::size_t total = (size + kTextPad + page - 1) / page * page;
    void *area = mmap(nullptr, total, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED)
        fail_errno(name, errno);
    if (mmap(area, size, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd, 0) == MAP_FAILED) {
        int err = errno;
        munmap(area, total);
        fail_errno(name, err);
    }
    Text t;
    t.name = name;
    t.data = std::unique_ptr<char[], TextRelease>(static_cast<char *>(area), TextRelease{total});
    t.size = size;
    note_mapped(name, t.begin(), size);
    return t;
}

enum class Way { read, map };

// What a file that is not a regular one is, for the line that refuses it.
const char *kind_of(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a named pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

// Opens path, or else path.gz, without blocking: a named pipe in a file's
// place would otherwise wait for a writer forever.
int open_input(const std::string &path, std::string &name, bool &compressed)
{
    constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    compressed = false;
    name = path;
    int fd = ::open(path.c_str(), kFlags);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open((path + kGz).c_str(), kFlags);
        if (fd < 0 && errno == ENOENT)
            throw Bad(path + ": no such file (nor " + path + kGz + ")");
        compressed = true;
        name = path + kGz;
    }
    if (fd < 0)
        fail_errno(name, errno);
    return fd;
}

Text load(const std::string &path, Way way, const Bound &bound)
{
    std::string name;
    bool compressed;
    Fd guard{open_input(path, name, compressed)};
    struct stat st;
    if (fstat(guard.fd, &st) != 0)
        fail_errno(name, errno);
    if (S_ISDIR(st.st_mode))
        fail_errno(name, EISDIR);
    if (!S_ISREG(st.st_mode))
        throw Bad(name + ": " + kind_of(st.st_mode) + ", not a regular file; orbset reads "
                         "regular files only");
    try {
        if (compressed)
            return load_gz(name, guard.fd, bound);
        auto size = static_cast<std::size_t>(st.st_size);
        if (way == Way::map && size >= kMapAtLeast && size <= bound.bytes)
            return map_plain(name, guard.fd, size);
        return load_plain(name, guard.fd, size, bound);
    } catch (const std::bad_alloc &) {
        throw Bad(name + ": out of memory");
    }
}

}  // namespace

void TextRelease::operator()(char *p) const
{
    if (mapped) {
        forget_mapped(p);
        munmap(p, mapped);
    }
    else
        delete[] p;
}

std::string find_file(const std::string &path)
{
    if (exists(path))
        return path;
    if (exists(path + kGz))
        return path + kGz;
    return {};
}

bool is_dir(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Text load_text(const std::string &path, const Bound &bound)
{
    return load(path, Way::read, bound);
}

Text map_text(const std::string &path, const Bound &bound)
{
    return load(path, Way::map, bound);
}

const char *mapped_file_at(const void *addr)
{
    auto a = reinterpret_cast<std::uintptr_t>(addr);
    for (const MappedFile &m : mapped_files) {
        std::uintptr_t begin = m.begin.load();
        if (begin && a >= begin && a < m.end.load())
            return m.name;
    }
    return nullptr;
}

void advise_huge_pages(void *p, std::size_t bytes)
{
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
    auto lo = (reinterpret_cast<std::uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
    auto hi = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(kHuge - 1);
    if (hi > lo)
        madvise(reinterpret_cast<void *>(lo), hi - lo, MADV_HUGEPAGE);  // advice only
#else
    (void)p;
    (void)bytes;
#endif
}

Text text_of(std::string name, std::string_view bytes, long long first_line)
{
    Buffer b;
    b.reserve(bytes.size());
    if (!bytes.empty())
        std::memcpy(b.data.get(), bytes.data(), bytes.size());
    b.size = bytes.size();
    Text t = b.finish(std::move(name), false);
    t.first_line = first_line;
    return t;
}

namespace {

// The line of `at`, counting on from p at line n.
long long line_from(const Text &t, const char *p, long long n, const char *at)
{
    const char *stop = std::min(at, t.end());
    while (p < stop) {
        const void *nl = std::memchr(p, '\n', static_cast<std::size_t>(stop - p));
        if (!nl)
            break;
        ++n;
        p = static_cast<const char *>(nl) + 1;
    }
    return n;
}

}  // namespace

long long line_of(const Text &t, const char *at) { return line_from(t, t.begin(), t.first_line, at); }

long long LineCounter::line_of(const Text &t, const char *at)
{
    if (text_ != &t || at < at_) {
        text_ = &t;
        at_ = t.begin();
        line_ = t.first_line;
    }
    line_ = line_from(t, at_, line_, at);
    at_ = std::max(at_, std::min(at, t.end()));
    return line_;
}

}  // namespace foam
