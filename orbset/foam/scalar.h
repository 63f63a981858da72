// Numbers as OpenFOAM 1912 reads them from ascii text. Its tokenizer takes a
// number token as a '-', '.' or digit followed by every digit, '+', '-', '.',
// 'e' and 'E' after it; a token of optional '-' and digits that fits 32 bits
// is a label, any other is converted with strtold and narrowed to double
// (two roundings), a value of size at most 1e-300 is taken as 0, one above
// 1e300 is refused, and so is a token that strtold does not take whole.
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

enum class Conv {
    ok,
    not_number,    // strtold does not take the token whole
    out_of_range,  // above 1e300 in size, or beyond long double
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
