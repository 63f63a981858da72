// Numbers as OpenFOAM reads them from ascii text. Its tokenizer takes a
// number token as a '-', '.' or digit followed by every digit, '+', '-', '.',
// 'e' and 'E' after it; a token of optional '-' and digits that fits 32 bits
// is a label. Any other is converted as the release reads it (Reading):
// ESI's releases convert it with strtold and narrow it to double (two
// roundings), take a value of size at most 1e-300 as 0 and refuse one above
// 1e300; the Foundation's convert it with strtod (one rounding) and keep
// every value. Either refuses a token that its conversion does not take
// whole.
#pragma once

#include <cstdint>

namespace foam {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline bool is_number_char(char c)
{
    return is_digit(c) || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
}

// A token starts a number with one of these.
inline bool starts_number(char c) { return is_digit(c) || c == '.' || c == '-'; }

// The longest number token OpenFOAM's tokenizer takes, in characters.
constexpr int kNumberMax = 127;

// How a release reads the number tokens that are not labels.
struct Reading {
    // strtod: one rounding, no value taken as 0, none refused for its size
    // (the Foundation's); else strtold narrowed to double (ESI's)
    bool one_rounding = false;
    // tokens of any length (the Foundation's 9 and later); else at most
    // kNumberMax characters
    bool any_length = false;
    // an integer beyond 32 bits read as a 64-bit integer first (the
    // Foundation's 12 and later), so that a negative one beyond the signed
    // range wraps round as an unsigned one
    bool wide_integers = false;
    // a '+' or '-' token before a number gives it its sign, as `- 5` or
    // `+5` (ESI's v2106 and later); else that is not a number
    bool sign_tokens = false;
};

// Every number from here on is read as `r` reads it: set once, before the
// run reads any file.
void set_reading(const Reading &r);
const Reading &reading();

enum class Conv {
    ok,
    not_number,    // the conversion does not take the token whole
    out_of_range,  // above 1e300 in size (ESI), or beyond double (Foundation)
    too_long,      // more than kNumberMax characters
};

struct Converted {
    Conv status;
    const char *end;     // the end of the token
    double value;        // its value, when ok
    bool is_label;       // the token is a label: '-'? digits, within 32 bits
    std::int32_t label;  // its value, when is_label
};

// Converts the number token at p, whose first character starts a number.
// Digits are read eight bytes at a time: the token must be followed by a
// byte that ends it (a NUL will do) and 8 more readable bytes.
Converted convert_number(const char *p);

}  // namespace foam
