// The pieces the renderings of an account share (kep_explain_account.h): numbers and tags as the
// explanation writes them, quoted texts and arrays of numbers.
#include <stdio.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "base/kep_number_text.h"
#include "registration/kep_explain_account.h"

KEP_EXPLAIN_NAMESPACE_BEGIN

void append_number(Str& out, double value) {
    char text[kep::kNumberTextSize];
    out.append(text, static_cast<size_t>(kep::format_9g(std::fabs(value) < 5e-13 ? 0.0 : value, text)));
}

Str tag_text(tag_t tag) { return to_text(static_cast<unsigned long long>(tag)); }

Str quoted(const Str& s) {
    Str out;
    out.reserve(s.size() + 2);
    append_quoted(out, s);
    return out;
}

namespace {

// Whether any of the eight bytes of `w` is '"', '\\' or below 0x20: each test sets the top bit of a
// byte that is one and of none when none is, whatever the order of the bytes in `w`.
bool any_escaped(uint64_t w) {
    const uint64_t ones = 0x0101010101010101ULL;
    const uint64_t highs = 0x8080808080808080ULL;
    const uint64_t quote = w ^ (ones * 0x22);
    const uint64_t backslash = w ^ (ones * 0x5C);
    return ((((quote - ones) & ~quote) | ((backslash - ones) & ~backslash) | ((w - ones * 0x20) & ~w)) &
            highs) != 0;
}

}  // namespace

void append_quoted(Str& out, const Str& s) {
    out += '"';
    // Runs of characters that need no escape are taken whole, eight bytes at a time where none of
    // the eight needs one.
    const char* data = s.data();
    const size_t size = s.size();
    size_t run = 0;
    size_t i = 0;
    while (i < size) {
        if (size - i >= 8) {
            uint64_t w;
            memcpy(&w, data + i, 8);
            if (!any_escaped(w)) {
                i += 8;
                continue;
            }
        }
        const char c = data[i];
        const unsigned char u = static_cast<unsigned char>(c);
        if (c != '"' && c != '\\' && u >= 0x20) {
            ++i;
            continue;
        }
        out.append(data + run, i - run);
        run = i + 1;
        if (u < 0x20) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(u));
            out += esc;
        } else {
            out += '\\';
            out += c;
        }
        ++i;
    }
    out.append(data + run, size - run);
    out += '"';
}

Str json_tag(tag_t tag) { return tag == NULLTAG ? "null" : tag_text(tag); }

void append_json_numbers(Str& out, const double* values, int count) {
    out += '[';
    for (int i = 0; i < count; ++i) {
        if (i != 0) {
            out += ", ";
        }
        if (std::isfinite(values[i])) {
            append_number(out, values[i]);
        } else {
            out += "null";
        }
    }
    out += ']';
}

Str json_numbers(const double* values, int count) {
    Str out;
    append_json_numbers(out, values, count);
    return out;
}

KEP_EXPLAIN_NAMESPACE_END
