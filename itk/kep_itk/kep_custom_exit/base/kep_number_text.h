// Numbers as the explanation writes them: printf's "%.9g", digit by digit where that is exact.
#ifndef KEP_NUMBER_TEXT_H
#define KEP_NUMBER_TEXT_H

namespace kep {

// Room for the longest text format_9g writes, with its terminating zero.
const int kNumberTextSize = 40;

// Writes `value` into text (kNumberTextSize bytes) as snprintf(text, size, "%.9g", value) writes it
// under the "C" locale, "." as the decimal point whatever the locale, and returns its length.
// Values from 1e-4 to below 1e9 (the coordinates of every site) are written digit by digit; the
// others, those whose ninth digit rounds from near a tie, and every value while the rounding mode
// is not to nearest, go through snprintf.
int format_9g(double value, char* text);

// Makes the decimal point of the process locale (one or more bytes) in the text of one number
// that printf wrote "."; returns the new length.
int c_decimal_point(char* text, int length);

// The value of a text of format_9g without an exponent (digits, at most one ".", a leading "-"),
// exactly as strtod reads it: false for any other text, or while the rounding mode is not to
// nearest.
bool short_decimal_value(const char* text, double* value);

}  // namespace kep

#endif
