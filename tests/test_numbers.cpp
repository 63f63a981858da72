// The reader's ways of reading numbers, each on its own, against the C
// library itself: sscanf/fscanf decide what converts, to which value and
// where reading stops; snprintf decides every "%f" text.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "classes.h"
#include "cpu.h"
#include "differential.h"
#include "reader.h"
#include "writer.h"

using differential::check_paths;
using textio::Reader;
using textio::Stop;

namespace {

// Random cases per differential test, and the longest strings tried
// exhaustively; fewer under the sanitizers, which slow every call down
// several times. The random doubles are each tried with ten neighbours
// (ties, halfway points) and the random tokens come on top of every short
// string and the long stream across the buffer boundaries, so a quarter of
// a million of each keeps the usual run in seconds; CASETOOLS_DIFF_SCALE
// asks for more.
#ifdef CASETOOLS_SANITIZE
constexpr long kTokens = 100000, kDoubles = 100000;
constexpr int kShortest = 4;
#else
constexpr long kTokens = 250000, kDoubles = 250000;
constexpr int kShortest = 5;
#endif

// CASETOOLS_DIFF_SCALE=k runs k times as many random cases, for a long
// sweep by hand.
long scaled(long n)
{
    const char *k = std::getenv("CASETOOLS_DIFF_SCALE");
    return k ? n * std::atol(k) : n;
}

// Reports the first few differences, and fails when there is any.
struct Differences {
    int count = 0;
    void check(const std::string &bytes)
    {
        std::string d = check_paths(bytes);
        if (!d.empty() && ++count <= 10)
            ADD_FAILURE() << d;
    }
    ~Differences() { EXPECT_EQ(count, 0); }
};

}  // namespace

// Every string of up to kShortest bytes over the bytes of the number format
// and their neighbours (the bytes before 0 and after 9, letters of hex,
// nan and inf), with white space.
TEST(ReadNumber, AgreesWithLibcOnEveryShortString)
{
    const std::string alphabet = "019:/.eEpPxX+-infa \n";
    Differences diffs;
    for (int len = 0; len <= kShortest && diffs.count < 10; ++len) {
        std::vector<std::size_t> at(static_cast<std::size_t>(len), 0);
        for (int i = 0; i >= 0;) {
            std::string s;
            for (std::size_t k : at)
                s += alphabet[k];
            diffs.check(s);
            for (i = len - 1; i >= 0 && ++at[i] == alphabet.size(); --i)  // the next string
                at[i] = 0;
        }
    }
}

// Forms that a quick parser gets wrong, each decided by the C library.
TEST(ReadNumber, AgreesWithLibcOnTrickyForms)
{
    const char *forms[] = {
        "1e", "1e+", "1e-", "1E5", "1e5e", "1.5.3", ".5", "5.", ".", "-", "+",
        "+.", "-.5", ".e5", "e5", "inf", "INF", "infinity", "InFiNiTy", "infin",
        "infinit", "infx", "in", "i", "nan", "NaN", "-nan", "+nan", "nan(1)",
        "na", "n", "0x", "-0x", "0X", "0x.", "-0x.", "0x.p", "0xp", "0x1p",
        "0x1p+", "0x1P-3", "0x1.8p1", "0x.8", "0xg", "0x1e", "0x1e+1", "00x1",
        "10x", "1e400", "-1e-400", "4.9e-324", "2.4703282292062327e-324",
        "2.4703282292062328e-324", "1.7976931348623157e308",
        "1.7976931348623159e308", "9007199254740993", "9007199254740993.0000001",
        "0.1", "0.0078125", "123456789012345678901234567890", "1e-22", "1e22",
        "1e23", "-0", "-0.0e10", "0e99999999999999999999", "1e99999999999999999999",
        "1e-99999999999999999999", "  \t\n\v\f\r12", "\xff", "", "   ",
        "12abc", "3.14(", "+-1", "--1", "1e--1", "1e+-1", "0x1p1.5", "0x1.p",
        "0x.1p-1074", "0x1p-1075", "0x1p1024", "0x1fffffffffffff8p-4",
    };
    Differences diffs;
    for (const char *f : forms)
        diffs.check(f);
}

namespace {

// Random tokens from the grammar of "%lf" and its near misses.
struct TokenGen {
    std::mt19937_64 rng;
    explicit TokenGen(std::uint64_t seed) : rng(seed) {}

    std::size_t below(std::size_t n) { return static_cast<std::size_t>(rng() % n); }
    bool coin(int in) { return below(static_cast<std::size_t>(in)) == 0; }
    char pick(const char *set) { return set[below(std::strlen(set))]; }

    std::string digits(std::size_t max, const char *set = "0123456789")
    {
        std::string s;
        std::size_t n = below(max + 1);
        if (coin(6))
            s.append(below(30), '0');
        for (std::size_t i = 0; i < n; ++i)
            s += pick(set);
        return s;
    }

    std::string spelled(const char *word)
    {
        std::string s = word;
        for (char &c : s)
            if (coin(2))
                c = static_cast<char>(c - 32);
        if (coin(4))
            s.resize(below(s.size() + 1));
        return s;
    }

    std::string token()
    {
        std::string s;
        if (coin(3))
            s += pick("+-");
        switch (below(9)) {
        case 0:
        case 1:
        case 2: {
            s += digits(coin(8) ? 40 : 12);
            if (coin(2))
                s += '.' + digits(coin(8) ? 40 : 12);
            if (coin(2)) {
                s += pick("eE");
                if (coin(2))
                    s += pick("+-");
                s += coin(10) ? digits(25) : digits(3);
            }
            break;
        }
        case 3: {
            s += '0';
            s += pick("xX");
            s += digits(coin(6) ? 30 : 14, "0123456789abcdefABCDEF");
            if (coin(2))
                s += '.' + digits(14, "0123456789abcdefABCDEF");
            if (coin(2)) {
                s += pick("pP");
                if (coin(2))
                    s += pick("+-");
                s += digits(4);
            }
            break;
        }
        case 4:
            s += spelled(coin(2) ? "inf" : "infinity");
            break;
        case 5:
            s += spelled("nan");
            if (coin(3))
                s += "(" + digits(3) + ")";
            break;
        case 6: {
            // a real double, written by printf in one of its forms
            double d;
            std::uint64_t b = rng();
            std::memcpy(&d, &b, sizeof d);
            char buf[400];
            const char *fmt[] = {"%.17g", "%a", "%f", "%.3e", "%.25g"};
            std::snprintf(buf, sizeof buf, fmt[below(5)], d);
            s = buf;
            break;
        }
        case 7:
            for (std::size_t i = 0, n = 1 + below(10); i < n; ++i)
                s += pick("0123456789.eEpPxX+-infatyINFATY(");
            break;
        default:
            s += digits(20);
            break;
        }
        // what follows the token: white space, nothing, or a character that
        // may or may not continue it
        switch (below(4)) {
        case 0:
            s += pick(" \t\n\r\v\f");
            break;
        case 1:
            break;
        default:
            s += pick("x.eE+-p(0a9 \xff");
            s += pick("0123456789.");
            break;
        }
        if (coin(8))
            s = std::string(below(4), pick(" \t\n\r\v\f")) + s;
        return s;
    }
};

}  // namespace

// A longer sample: random tokens of the grammar and its near misses.
TEST(ReadNumber, AgreesWithLibcOnRandomTokens)
{
    TokenGen g(12345);
    Differences diffs;
    for (long i = 0, e = scaled(kTokens); i < e && diffs.count < 10; ++i)
        diffs.check(g.token());
}

// A long stream of numbers: tokens cross the reader's buffer boundaries,
// and some are longer than the whole buffer.
TEST(ReadNumber, AgreesWithLibcAcrossBufferBoundaries)
{
    TokenGen g(777);
    std::string text;
    while (text.size() < 12000000) {
        std::string t;
        switch (g.below(5000)) {
        case 0:  // longer than the buffer: digits past any rounding decision
            t = "0." + std::string(70000 + g.below(10), '0') + "1e70000";
            break;
        case 1:  // 2^53 + 1, a tie, and a last digit that breaks it or not
            t = "9007199254740993" + std::string(80000, '0') + (g.coin(2) ? "1" : "0") + "e-80001";
            break;
        case 2:
            t = "0x1" + std::string(70000, '0') + ".8p-280000";
            break;
        case 3:
            t = std::string(5000, '0') + "1.25";
            break;
        default: {
            t = g.token();
            // keep only tokens that convert whole, so the stream goes on
            while (!t.empty() && textio::is_space(static_cast<unsigned char>(t.back())))
                t.pop_back();
            differential::Numbers a = differential::by_libc(t + " ");
            if (a.list.size() != 1 || a.list[0].end != static_cast<long long>(t.size()))
                continue;
        }
        }
        text += t;
        std::string ws(1 + g.below(3), ' ');
        for (char &c : ws)
            c = g.pick(" \t\n\r\v\f");
        if (g.coin(5000))
            ws.append(70000, ' ');
        text += ws;
    }
    text += "junk";
    EXPECT_EQ(check_paths(text), "");

    // the line of the word where reading stopped
    auto r = std::make_unique<Reader>();
    differential::open_bytes(*r, text);
    double v;
    textio::Record last;
    while ((last = textio::read_record(*r, &v, 1)).got == 1) {
    }
    textio::close_reader(*r);
    EXPECT_EQ(last.stop, Stop::not_number);
    EXPECT_EQ(last.line, 1 + std::count(text.begin(), text.end(), '\n'));
}

// Ties, and numbers longer than the digits the exact path keeps: 2^53 + 1
// lies halfway between two doubles, and only a nonzero digit far past the
// kept ones, wherever it lies, rounds it up; without one, the tie goes to
// even. The halfway point between the two smallest subnormals needs 751
// digits to tell it from its neighbours.
TEST(ReadNumber, DigitsPastTheKeptOnesDecideATie)
{
    const std::string tie = "9007199254740993", zeros(80000, '0');
    auto exact = [](long double x) {  // every digit of x, which has at most 770
        char s[800];
        std::snprintf(s, sizeof s, "%.770Le", x);
        return std::string(s);
    };
    const long double smallest_tie = 1.5L * 0x1p-1074L;
    struct Case {
        const char *why;
        std::string number;
        double value;
    } cases[] = {
        {"a last 1 breaks the tie", tie + zeros + "1e-80001", 9007199254740994.0},
        {"a 1 with zeros after it breaks it too", tie + zeros + "1000e-80004", 9007199254740994.0},
        {"zeros only: the tie goes to even", tie + zeros + "0e-80001", 9007199254740992.0},
        {"a 1 right after the kept digits", tie + std::string(784, '0') + "1e-785",
         9007199254740994.0},
        {"the smallest tie, exactly: to even", exact(smallest_tie), 0x1p-1073},
        {"just below it", exact(std::nextafter(smallest_tie, 0.0L)), 0x1p-1074},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(check_paths(c.number + " "), "") << c.why;
        EXPECT_EQ(std::strtod(c.number.c_str(), nullptr), c.value) << c.why;
    }
}

// Inputs longer than the reader's buffer at the edges of its reads: a
// number across the end of the first read, after white space that the
// usual record skips in its first loop; the last bytes of the input, a
// number or white space, with what the earlier read left in the buffer
// after them.
TEST(ReadNumber, EdgesOfTheReadsOfALongInput)
{
    Differences diffs;
    diffs.check("1" + std::string(textio::kReadBuf - 4, ' ') + "12345\n");
    for (std::size_t size = 70000; size < 70004; ++size) {
        std::string nines;
        while (nines.size() < size)
            nines += "9 ";
        nines.resize(size);
        diffs.check(nines);
    }
}

// The counting pass on words that look like numbers but split or stop
// otherwise, alone and among usual numbers.
TEST(CountNumbers, CountsWhatFscanfConverts)
{
    const char *words[] = {
        "1-2", "1.2.3", "1e5e3", "+-1", "1e", "1e+", "0x1p3", ".5", "-.5", "5.", "-5.e-1", "4.",
        "4e", "4x", "-", ".", "e5", "-e5", "1e5.3", "1.5e-5", "-1e-0", "+2", ".3e+1", "inf",
        "nan", "-inf", "12abc", "1e+-5", "--1", "00x1", "1e05", "3.", "7",
    };
    const char *usual = "0.000834710337\t-9.71914634e-05\t1051.46455\t";
    Differences diffs;
    for (const std::string w : words)
        for (const std::string &in : {w + "\n", usual + w + " 1 2\n" + usual, usual + w})
            diffs.check(in);
}

// Each read's whole outcome, and the first line that does not hold one
// record's worth of numbers.
TEST(ReadRecord, OutcomesAndLinesThatDoNotHoldARecord)
{
    using textio::Misfit;
    using textio::Record;
    struct Case {
        const char *why, *input;
        int n;
        std::vector<Record> reads;
        Misfit misfit;
    } cases[] = {
        {"five numbers on a line shift the next record; CRLF is white space",
         "1 2 3 4 5\r\n6 7\r\n8\r\n9", 4,
         {{4, Stop::none, 1, 0}, {4, Stop::none, 1, 0}, {1, Stop::end, 4, 0}}, {1, 5}},
        {"a footer: the line of the word", "1\t2\t3\t4\nfooter 5 6 7 8\n", 4,
         {{4, Stop::none, 1, 0}, {0, Stop::not_number, 2, 0}}, {0, 0}},
        {"a word inside a record", "1 2\n\n\n3 x", 4, {{3, Stop::not_number, 4, 0}}, {1, 2}},
        {"white space only", " \n\t\n", 2, {{0, Stop::end, 3, 0}}, {0, 0}},
        {"one record a line, whatever the blank lines, tabs, CR and trailing spaces",
         "1 2\r\n\n\t3\t4  \n\n", 2,
         {{2, Stop::none, 1, 0}, {2, Stop::none, 3, 0}, {0, Stop::end, 5, 0}}, {0, 0}},
        {"two records on the last line, with no newline", "1 2\n3 4 5 6", 2,
         {{2, Stop::none, 1, 0}, {2, Stop::none, 2, 0}, {2, Stop::none, 2, 0}, {0, Stop::end, 2, 0}},
         {2, 4}},
        {"a three-column table", "1 2 3\n4 5 6\n", 2,
         {{2, Stop::none, 1, 0}, {2, Stop::none, 1, 0}, {2, Stop::none, 2, 0}, {0, Stop::end, 3, 0}},
         {1, 3}},
        {"a short last line of numbers before a word", "1 2 3 4\n5 6\nx\n", 4,
         {{4, Stop::none, 1, 0}, {2, Stop::not_number, 3, 0}}, {2, 2}},
    };
    auto r = std::make_unique<Reader>();
    // as written, and with white space after it that lets read_record take
    // the usual records in its first loop
    for (std::size_t pad : {0, 4096})
        for (const Case &c : cases) {
            differential::open_bytes(*r, c.input + std::string(pad, ' '));
            double v[4];
            for (const Record &want : c.reads) {
                Record got = textio::read_record(*r, v, c.n);
                EXPECT_EQ(got.got, want.got) << c.why << pad;
                EXPECT_EQ(got.stop, want.stop) << c.why << pad;
                EXPECT_EQ(got.line, want.line) << c.why << pad;
            }
            Misfit m2 = textio::first_misfit(*r, c.n);
            EXPECT_EQ(m2.line, c.misfit.line) << c.why << pad;
            EXPECT_EQ(m2.numbers, c.misfit.numbers) << c.why << pad;
        }
}

TEST(ReadRecord, ReadErrorIsNotEndOfInput)
{
    auto r = std::make_unique<Reader>();
    ASSERT_TRUE(textio::open_reader(*r, "/"));
    double v[2];
    textio::Record got = textio::read_record(*r, v, 2);
    EXPECT_EQ(got.got, 0);
    EXPECT_EQ(got.stop, Stop::error);
    EXPECT_EQ(got.err, EISDIR);
    textio::close_reader(*r);
}

namespace {

std::string fixed6(double x)
{
    char buf[textio::kFixed6Max + textio::kSpill];
    return std::string(buf, textio::format_fixed6(buf, x));
}

std::string printf_f(double x)
{
    char buf[400];
    return std::string(buf, static_cast<std::size_t>(std::snprintf(buf, sizeof buf, "%f", x)));
}

}  // namespace

// The byte classes that the counting pass works from, by SSE2 and by AVX2
// where the machine has them, against their definition byte by byte; and
// the count of set bits it takes where there is no popcount instruction.
TEST(Classes, AgreeWithTheirDefinition)
{
    std::mt19937_64 rng(4);
    const char bytes[] = " \t\n\v\f\r0123456789.eE+-xa\x80\xff";
    unsigned char block[64];
    auto expect_same = [](const textio::Classes &a, const textio::Classes &b) {
        EXPECT_EQ(a.space, b.space);
        EXPECT_EQ(a.digit, b.digit);
        EXPECT_EQ(a.point, b.point);
        EXPECT_EQ(a.exp, b.exp);
        EXPECT_EQ(a.sign, b.sign);
    };
    for (int i = 0; i < 100000 && !HasFailure(); ++i) {
        for (unsigned char &b : block)
            b = static_cast<unsigned char>(rng() % 4 ? bytes[rng() % (sizeof bytes - 1)] : rng());
        textio::Classes want = textio::classify64_bytes(block);
        expect_same(textio::classify64(block), want);
#if CASETOOLS_HAVE_AVX2_CLASSES
        if (__builtin_cpu_supports("avx2"))
            expect_same(textio::classify64_avx2(block), want);
#endif
        std::uint64_t x = rng() & rng();
        EXPECT_EQ(textio::count_bits(x), std::popcount(x));
    }
}

TEST(Fixed6, HandPickedValues)
{
    EXPECT_EQ(fixed6(1e-7), "0.000000");
    EXPECT_EQ(fixed6(-1e-7), "-0.000000");
    EXPECT_EQ(fixed6(-0.0), "-0.000000");
    EXPECT_EQ(fixed6(0.0078125), "0.007812");  // a tie goes to even
    EXPECT_EQ(fixed6(0.0078135), printf_f(0.0078135));
    EXPECT_EQ(fixed6(0.000290), "0.000290");
    EXPECT_EQ(fixed6(-0.000235), "-0.000235");
    EXPECT_EQ(fixed6(1e300), printf_f(1e300));
    EXPECT_EQ(fixed6(-1.7976931348623157e308), printf_f(-1.7976931348623157e308));
    EXPECT_EQ(fixed6(9223372036854775807.0), "9223372036854775808.000000");
    EXPECT_EQ(fixed6(std::nan("")), "nan");
    EXPECT_EQ(fixed6(-std::nan("")), "-nan");
    EXPECT_EQ(fixed6(INFINITY), "inf");
    EXPECT_EQ(fixed6(-INFINITY), "-inf");
    EXPECT_EQ(fixed6(4.9e-324), "0.000000");
    EXPECT_EQ(fixed6(textio::kLargestZero), "0.000000");
    EXPECT_EQ(fixed6(std::nextafter(textio::kLargestZero, 1.0)), "0.000001");
}

TEST(Fixed6, AgreesWithPrintfOnRandomDoubles)
{
    std::mt19937_64 rng(99);
    int failures = 0;
    auto check = [&](double x) {
        if (failures < 20 && fixed6(x) != printf_f(x)) {
            ++failures;
            ADD_FAILURE() << std::hexfloat << x << ": " << fixed6(x) << " vs " << printf_f(x);
        }
    };
    for (long i = 0, n = scaled(kDoubles); i < n; ++i) {
        std::uint64_t b = rng();
        double x;
        std::memcpy(&x, &b, sizeof x);
        check(x);  // every exponent, nan payloads and signs included
        // the exponents where the sixth decimal is decided
        int e = static_cast<int>(rng() % 100) - 60;
        check(std::ldexp(static_cast<double>(rng() >> 11), e - 53));
        // binary fractions of many sizes
        check(static_cast<double>(rng() % 100000000) / 1048576.0 * (rng() & 1 ? 1 : -1));
        // exact ties: x * 10^6 is a half-integer just when x is an odd
        // number of 128ths; and their neighbours
        double tie = static_cast<double>((rng() >> (11 + rng() % 40)) | 1) / 128;
        check(tie);
        check(std::nextafter(tie, 0.0));
        check(std::nextafter(tie, INFINITY));
        // the doubles nearest to halfway points, where one rounding of
        // x * 10^6 may cross them
        double half = (static_cast<double>(rng() >> (11 + rng() % 40)) + 0.5) / 1e6;
        check(half);
        check(std::nextafter(half, 0.0));
        check(std::nextafter(half, INFINITY));
        // ordinary six-decimal values
        check(static_cast<double>(static_cast<std::int64_t>(rng() % 2000000000) - 1000000000) / 1e6);
    }
    EXPECT_EQ(failures, 0);
}

TEST(FormatInt, AgreesWithPrintf)
{
    long long vals[] = {0, 1, 9, 10, 99, 100, 2147483647, -2147483648LL, -1, 1234567};
    for (long long v : vals) {
        char a[24], b[24];
        std::size_t n = textio::format_int(a, v);
        std::snprintf(b, sizeof b, "%lld", v);
        EXPECT_EQ(std::string(a, n), b);
    }
}
