// Work shared out over the machine's cores, and the failures of its pieces
// gathered so that the run ends in the one line of the first.
#pragma once

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "foam/bad.h"

namespace orbset {

inline unsigned cores() { return std::max(1u, std::thread::hardware_concurrency()); }

// Runs work(i) for i in [0, n) on up to the machine's cores. A thread the
// system refuses ends the run in a line that says what it was for
// (`what`: "to write the fields"), once the threads already started have
// been joined.
template <class Work>
void on_cores(std::size_t n, const char *what, Work work)
{
    std::size_t threads = std::min<std::size_t>(n, cores());
    if (threads <= 1) {
        for (std::size_t i = 0; i < n; ++i)
            work(i);
        return;
    }
    std::atomic<std::size_t> next{0};
    std::vector<std::jthread> pool;
    try {
        for (std::size_t t = 0; t < threads; ++t)
            pool.emplace_back([&] {
                for (std::size_t i; (i = next++) < n;)
                    work(i);
            });
    } catch (const std::system_error &e) {
        next = n;      // the threads started take no new piece
        pool.clear();  // and are joined
        throw foam::Bad(std::string("a thread ") + what + ": " + e.code().message());
    }
}

// What went wrong, for the one line of a failure: the reason a reader
// gives, or what the system refused (memory, a thread).
inline std::string reason(const std::exception &e)
{
    if (dynamic_cast<const std::bad_alloc *>(&e))
        return "out of memory";
    return e.what();
}

// Runs work, naming `what` it works on ("0/alpha", "the cells of the
// regions") in the line of a failure for want of memory.
template <class Work>
void naming(const std::string &what, Work work)
{
    try {
        work();
    } catch (const std::bad_alloc &) {
        throw foam::Bad(what + ": out of memory");
    } catch (const std::length_error &) {
        throw foam::Bad(what + ": out of memory");
    }
}

// The first failure of a set of parts, in the parts' order, is the run's.
struct Failures {
    std::vector<std::string> what;

    template <class Work>
    void run(std::size_t i, Work work)
    {
        try {
            work();
        } catch (const std::exception &e) {
            what[i] = reason(e);
        }
    }
    void throw_first() const
    {
        for (const std::string &f : what)
            if (!f.empty())
                throw foam::Bad(f);
    }
};

// Runs work(i) for every piece i in [0, n) on the machine's cores, each to
// its end whatever the others do, then throws the first failure, in the
// pieces' order, as foam::Bad.
template <class Work>
void each_on_cores(std::size_t n, const char *what, Work work)
{
    Failures failures{std::vector<std::string>(n)};
    on_cores(n, what, [&](std::size_t i) { failures.run(i, [&] { work(i); }); });
    failures.throw_first();
}

}  // namespace orbset
