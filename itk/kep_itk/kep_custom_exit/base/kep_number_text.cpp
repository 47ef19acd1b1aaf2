// printf's "%.9g" without printf for the common values (kep_number_text.h).
//
// A value v in [1e-4, 1e9) with decimal exponent x (10^x <= v < 10^(x+1), -4 <= x <= 8) has the
// nine significant digits round(v * 10^(8 - x)). The power of ten is exact (10^12 at most) and the
// product is rounded once, with an error under 2^-23 against the exact one (it is below 2^30), so
// rounding it to an integer gives printf's digits unless its fraction is within that error of a
// half: those values go through snprintf. "%g" writes such a value without an exponent, with
// 8 - x decimals, trailing zeros and a bare decimal point dropped.
#include "base/kep_number_text.h"

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace kep {
namespace {

// 10^k for k = 0 .. 12, exact.
const double kPowers[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12};
// The doubles nearest 10^x for x = -4 .. 8: those below 1 lie above the exact powers, so a double
// at least kLeast[x + 4] is at least 10^x and one below it below 10^x.
const double kLeast[] = {1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};

// A byte of printf's number other than its decimal point: digits, signs, the exponent's letter
// (and the letters of inf and nan, left as they are).
bool number_char(char c) {
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// snprintf's text, with "." as its decimal point.
int printed(double value, char* text) {
    const int length = snprintf(text, kNumberTextSize, "%.9g", value);
    if (length < 0 || length >= kNumberTextSize) {
        text[0] = '\0';
        return 0;
    }
    return c_decimal_point(text, length);
}

}  // namespace

int c_decimal_point(char* text, int length) {
    int out = 0;
    for (int i = 0; i < length;) {
        if (number_char(text[i])) {
            text[out++] = text[i++];
            continue;
        }
        text[out++] = '.';
        while (i < length && !number_char(text[i])) {
            ++i;
        }
    }
    text[out] = '\0';
    return out;
}

int format_9g(double value, char* text) {
    const double a = std::fabs(value);
    if (a == 0.0) {
        const char* zero = std::signbit(value) ? "-0" : "0";
        const int length = static_cast<int>(strlen(zero));
        memcpy(text, zero, static_cast<size_t>(length) + 1);
        return length;
    }
    if (!(a >= 1e-4 && a < 1e9) || std::fegetround() != FE_TONEAREST) {
        return printed(value, text);
    }
    int x = 8;
    while (x > -4 && a < kLeast[x + 4]) {
        --x;
    }
    const double scaled = a * kPowers[8 - x];
    if (!(scaled >= 1e8 && scaled <= 1e9)) {
        return printed(value, text);
    }
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (std::fabs(fraction - 0.5) < 1e-6) {
        return printed(value, text);
    }
    uint32_t digits = static_cast<uint32_t>(whole) + (fraction > 0.5 ? 1u : 0u);
    if (digits >= 1000000000u) {
        digits = 100000000u;
        ++x;
        if (x > 8) {
            return printed(value, text);  // 1e+09
        }
    }
    char d[9];
    for (int i = 8; i >= 0; --i) {
        d[i] = static_cast<char>('0' + digits % 10);
        digits /= 10;
    }
    int significant = 9;
    while (significant > 1 && d[significant - 1] == '0') {
        --significant;
    }
    int out = 0;
    if (value < 0) {
        text[out++] = '-';
    }
    if (x >= 0) {
        for (int i = 0; i <= x; ++i) {
            text[out++] = d[i];
        }
        if (significant > x + 1) {
            text[out++] = '.';
            for (int i = x + 1; i < significant; ++i) {
                text[out++] = d[i];
            }
        }
    } else {
        text[out++] = '0';
        text[out++] = '.';
        for (int i = x + 1; i < 0; ++i) {
            text[out++] = '0';
        }
        for (int i = 0; i < significant; ++i) {
            text[out++] = d[i];
        }
    }
    text[out] = '\0';
    return out;
}

// The value of a number as format_9g writes it without an exponent: its digits as one integer
// below 2^53 divided by an exact power of ten, which rounds once, as strtod does. False for any
// other text (an exponent, inf, nan), or while the rounding mode is not to nearest.
bool short_decimal_value(const char* text, double* value) {
    static const double kTens[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const bool negative = *text == '-';
    const char* at = negative ? text + 1 : text;
    unsigned long long digits = 0;
    int decimals = 0;
    bool point = false;
    bool any = false;
    for (; *at != '\0'; ++at) {
        if (*at == '.' && !point) {
            point = true;
            continue;
        }
        if (*at < '0' || *at > '9' || digits >= (1ULL << 49)) {
            return false;
        }
        digits = digits * 10 + static_cast<unsigned>(*at - '0');
        any = true;
        decimals += point ? 1 : 0;
    }
    if (!any || decimals > 22 || std::fegetround() != FE_TONEAREST) {
        return false;
    }
    const double magnitude = static_cast<double>(digits) / kTens[decimals];
    *value = negative ? -magnitude : magnitude;
    return true;
}

}  // namespace kep
