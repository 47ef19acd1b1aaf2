// Transform matrices: identity, copy, product, text form both ways.
//
// The text form always uses "." as the decimal point. Reading and writing therefore format and
// scan under the "C" numeric conventions, but only on the calling thread: the platform's server
// may run other threads, and switching the conventions of the whole process would change their
// number formatting behind their backs.
#include "base/kep_matrix.h"

#include <locale.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/kep_observer.h"
#include "kep_support.h"
#if defined(__APPLE__)
#include <xlocale.h>
#endif

#define KEP_MATRIX_SCAN_FORMAT "%le%le%le%le%le%le%le%le%le%le%le%le%le%le%le%le"
#define KEP_MATRIX_WRITE_FORMAT \
    "%.16g %.16g %.16g %.16g %.16g %.16g %.16g %.16g %.16g %.16g %.16g %.16g %.16g %.16g %.16g %.16g"

namespace {

// The longest text has 16 numbers of at most 23 characters and 15 blanks.
const int kTextBufferSize = 1024;

#if defined(_WIN32)

_locale_t c_numeric_locale() noexcept {
    static const _locale_t locale = _create_locale(LC_NUMERIC, "C");
    return locale;
}

// Scans the text form into v (column by column); returns the number of values converted.
int scan_text(const char* text, double* v) noexcept {
    return _sscanf_s_l(text, KEP_MATRIX_SCAN_FORMAT, c_numeric_locale(), &v[0], &v[1], &v[2], &v[3], &v[4],
                       &v[5], &v[6], &v[7], &v[8], &v[9], &v[10], &v[11], &v[12], &v[13], &v[14], &v[15]);
}

// Microsoft's older C runtime (msvcrt.dll) writes at least three exponent digits ("1e-020"), the
// Universal C Runtime and the Unix C libraries two ("1e-20"): the text keeps the two-digit form
// everywhere. Drops the leading zero of every three-digit exponent in place; the new length.
int two_digit_exponents(char* text, int length) noexcept {
    int out = 0;
    for (int i = 0; i < length; ++i) {
        text[out++] = text[i];
        const bool exponent = (text[i] == 'e' || text[i] == 'E') && i + 4 < length &&
                              (text[i + 1] == '+' || text[i + 1] == '-') && text[i + 2] == '0' &&
                              text[i + 3] >= '0' && text[i + 3] <= '9' && text[i + 4] >= '0' &&
                              text[i + 4] <= '9' &&
                              (i + 5 >= length || text[i + 5] < '0' || text[i + 5] > '9');
        if (exponent) {
            text[out++] = text[i + 1];
            i += 2;  // the sign is copied, the zero skipped
        }
    }
    text[out] = '\0';
    return out;
}

int format_text(char* buffer, const double* v) noexcept {
    const int length = _snprintf_s_l(buffer, kTextBufferSize, _TRUNCATE, KEP_MATRIX_WRITE_FORMAT,
                                     c_numeric_locale(), v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8],
                                     v[9], v[10], v[11], v[12], v[13], v[14], v[15]);
    return length < 0 ? length : two_digit_exponents(buffer, length);
}

#else

// Puts the calling thread under the "C" locale for the lifetime of the scope and restores the
// thread's previous locale (its own, or the process-wide one) afterwards. The process locale is
// never touched. The "C" locale object is made once and kept for the life of the process.
class CLocaleScope {
public:
    CLocaleScope() noexcept {
        static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
        if (c_locale != static_cast<locale_t>(0)) {
            previous_ = uselocale(c_locale);
        }
    }
    ~CLocaleScope() {
        if (previous_ != static_cast<locale_t>(0)) {
            uselocale(previous_);
        }
    }
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t previous_ = static_cast<locale_t>(0);
};

int scan_text(const char* text, double* v) noexcept {
    CLocaleScope scope;
    return std::sscanf(text, KEP_MATRIX_SCAN_FORMAT, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7],
                       &v[8], &v[9], &v[10], &v[11], &v[12], &v[13], &v[14], &v[15]);
}

int format_text(char* buffer, const double* v) noexcept {
    CLocaleScope scope;
    return std::snprintf(buffer, kTextBufferSize, KEP_MATRIX_WRITE_FORMAT, v[0], v[1], v[2], v[3], v[4], v[5],
                         v[6], v[7], v[8], v[9], v[10], v[11], v[12], v[13], v[14], v[15]);
}

#endif

// The white space the scanner skips before a number under the "C" conventions.
bool is_c_space(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one number of the plain form [+-]digits[.digits][(e|E)[+-]digits] at *at into *value
// and moves *at past it. A number of at most 15 significant digits whose decimal exponent is at
// most 22 either way is the product or quotient of two doubles that hold their values exactly, and
// one rounding makes it the double the current rounding mode gives: exactly what the scanner's
// own conversion gives. The sign is applied before that rounding, so that upward and downward
// rounding go the way they go for the scanner. False for any other form, more digits or a larger
// exponent.
bool read_plain_number(const char** at, double* value) noexcept {
    static const double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                     1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const char* p = *at;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') {
        ++p;
    }
    long long mantissa = 0;
    int significant = 0;
    int exponent = 0;
    int digits = 0;
    for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
        if (mantissa != 0 || *p != '0') {
            mantissa = mantissa * 10 + (*p - '0');
            ++significant;
        }
        if (significant > 15) {
            return false;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (*p == '.') {
        ++p;
        digits = 0;
        for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
            if (mantissa != 0 || *p != '0') {
                mantissa = mantissa * 10 + (*p - '0');
                ++significant;
            }
            --exponent;
            if (significant > 15) {
                return false;
            }
        }
        if (digits == 0) {
            return false;
        }
    }
    if (*p == 'e' || *p == 'E') {
        ++p;
        const bool exponent_negative = *p == '-';
        if (*p == '-' || *p == '+') {
            ++p;
        }
        int written = 0;
        digits = 0;
        for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
            if (written > 1000) {
                return false;
            }
            written = written * 10 + (*p - '0');
        }
        if (digits == 0) {
            return false;
        }
        exponent += exponent_negative ? -written : written;
    }
    double signed_mantissa = static_cast<double>(mantissa);  // exact: below 2^53
    if (negative) {
        signed_mantissa = -signed_mantissa;  // -0 stays -0, as the scanner reads it
    }
    if (mantissa != 0) {
        if (exponent < -22 || exponent > 22) {
            return false;
        }
        signed_mantissa =
            exponent < 0 ? signed_mantissa / kPowers[-exponent] : signed_mantissa * kPowers[exponent];
    }
    *value = signed_mantissa;
    *at = p;
    return true;
}

// The text form when it holds 16 plain numbers, each followed by white space or the end of the
// text, as the structure's transforms are written: read without the scanner, which costs more
// than the rest of placing a line. False when anything else is met; the scanner then decides.
bool scan_plain_text(const char* text, double* v) noexcept {
    const char* p = text;
    for (int i = 0; i < 16; ++i) {
        while (is_c_space(*p)) {
            ++p;
        }
        if (!read_plain_number(&p, &v[i]) || !(is_c_space(*p) || *p == '\0')) {
            return false;
        }
    }
    return true;
}

// Whether every one of the 16 numbers is finite. The scanner reads "nan", "inf" and numbers
// beyond the range of a double (as infinity) without complaint; such a text places nothing, and a
// NaN carried into a product would make every overlap comparison fail to separate.
bool all_finite(const double* v) noexcept {
    for (int i = 0; i < 16; ++i) {
        if (!std::isfinite(v[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" void kep_matrix_identity(kep_matrix_t* matrix) {
    for (int i = 0; i < 16; ++i) {
        matrix->m[i] = (i % 5 == 0) ? 1.0 : 0.0;
    }
}

extern "C" void kep_matrix_copy(const kep_matrix_t* source, kep_matrix_t* destination) {
    std::memmove(destination->m, source->m, sizeof destination->m);
}

extern "C" void kep_matrix_multiply(const kep_matrix_t* parent, const kep_matrix_t* child,
                                    kep_matrix_t* result) {
    // Computed into a local first, so that a result that is also an input reads intact values.
    const double* p = parent->m;
    const double* c = child->m;
    kep_matrix_t r;
    kep_matrix_identity(&r);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            r.m[4 * row + col] =
                p[4 * row] * c[col] + p[4 * row + 1] * c[4 + col] + p[4 * row + 2] * c[8 + col];
        }
        r.m[4 * row + 3] =
            p[4 * row] * c[3] + p[4 * row + 1] * c[7] + p[4 * row + 2] * c[11] + p[4 * row + 3];
    }
    *result = r;
}

extern "C" void kep_matrix_from_string(const char* text, kep_matrix_t* matrix) {
    double v[16];
    if (text != nullptr && (scan_plain_text(text, v) || scan_text(text, v) == 16) && all_finite(v)) {
        // The text runs column by column: number 4c + r is element (r, c).
        for (int col = 0; col < 4; ++col) {
            for (int row = 0; row < 4; ++row) {
                matrix->m[4 * row + col] = v[4 * col + row];
            }
        }
        return;
    }
    // An absent text is logged as "(null)", as the common C libraries print a null text.
    kep_log("cannot get matrix from string [%s], assuming identity\n", text != nullptr ? text : "(null)");
    kep::observe_unreadable_transform(text);
    kep_matrix_identity(matrix);
}

extern "C" void kep_matrix_to_string(const kep_matrix_t* matrix, char** text) {
    double v[16];
    for (int col = 0; col < 4; ++col) {
        for (int row = 0; row < 4; ++row) {
            v[4 * col + row] = matrix->m[4 * row + col];
        }
    }
    char buffer[kTextBufferSize];
    const int length = format_text(buffer, v);
    if (length < 0 || length >= kTextBufferSize) {
        buffer[0] = '\0';
    }
    const std::size_t size = std::strlen(buffer) + 1;
    char* copy = static_cast<char*>(MEM_alloc(static_cast<int>(size)));
    if (copy != nullptr) {
        std::memcpy(copy, buffer, size);
    }
    *text = copy;
}
