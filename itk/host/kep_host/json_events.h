// Reading JSON text as a stream of events, for the extension's account of a window (scene_account.cpp).
#ifndef KEP_HOST_JSON_EVENTS_H
#define KEP_HOST_JSON_EVENTS_H

#include <tc/tc.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

namespace kep_host {

// JSON (RFC 8259) read byte by byte into events (null, boolean, number, string, key and the
// starts and ends of objects and arrays, each returning false to stop), as the JSON library's event
// parser gives them and with its strictness: strings of well-formed UTF-8 with no control
// character, escapes and surrogate pairs checked, numbers of the JSON grammar (integers that fit
// 64 bits as integers, the others as the nearest double, none beyond the range of a double),
// nothing but blanks after the value.
// Containers are kept on a stack of their own, so that no depth of nesting runs out of stack.
template <class Events>
class JsonEvents {
public:
    JsonEvents(const char* begin, const char* end, Events& events) : at_(begin), end_(end), events_(events) {}

    bool run() {
        std::vector<char> open;  // '{' or '[' for each container under way
        blanks();
        if (!value(open)) {
            return false;
        }
        while (!open.empty()) {
            blanks();
            if (at_ == end_) {
                return false;
            }
            const bool object = open.back() == '{';
            if (*at_ == (object ? '}' : ']')) {
                ++at_;
                open.pop_back();
                first_ = false;
                if (!(object ? events_.end_object() : events_.end_array())) {
                    return false;
                }
                continue;
            }
            if (!first_) {
                if (*at_ != ',') {
                    return false;
                }
                ++at_;
                blanks();
            }
            first_ = false;
            if ((object && !member_key()) || !value(open)) {
                return false;
            }
        }
        blanks();
        return at_ == end_;
    }

private:
    void blanks() {
        while (at_ != end_ && (*at_ == ' ' || *at_ == '\t' || *at_ == '\n' || *at_ == '\r')) {
            ++at_;
        }
    }

    // A key and its colon; the value follows.
    bool member_key() {
        if (at_ == end_ || *at_ != '"' || !text(&key_) || !events_.key(key_)) {
            return false;
        }
        blanks();
        if (at_ == end_ || *at_ != ':') {
            return false;
        }
        ++at_;
        blanks();
        return true;
    }

    // One value; a container is opened and left on the stack, its elements to come.
    bool value(std::vector<char>& open) {
        if (at_ == end_) {
            return false;
        }
        switch (*at_) {
            case '{':
            case '[':
                open.push_back(*at_);
                first_ = true;
                return *at_++ == '{' ? events_.start_object() : events_.start_array();
            case '"':
                return text(&value_) && events_.string(value_);
            case 't':
                return word("true") && events_.boolean(true);
            case 'f':
                return word("false") && events_.boolean(false);
            case 'n':
                return word("null") && events_.null();
            default:
                return number();
        }
    }

    bool word(const char* w) {
        const size_t n = std::strlen(w);
        if (static_cast<size_t>(end_ - at_) < n || std::memcmp(at_, w, n) != 0) {
            return false;
        }
        at_ += n;
        return true;
    }

    bool digits() {
        const char* from = at_;
        while (at_ != end_ && *at_ >= '0' && *at_ <= '9') {
            ++at_;
        }
        return at_ != from;
    }

    bool number() {
        const char* from = at_;
        const bool negative = at_ != end_ && *at_ == '-';
        if (negative) {
            ++at_;
        }
        if (at_ == end_ || *at_ < '0' || *at_ > '9') {
            return false;
        }
        if (*at_ == '0') {
            ++at_;
        } else {
            digits();
        }
        bool whole = true;
        if (at_ != end_ && *at_ == '.') {
            ++at_;
            whole = false;
            if (!digits()) {
                return false;
            }
        }
        if (at_ != end_ && (*at_ == 'e' || *at_ == 'E')) {
            ++at_;
            whole = false;
            if (at_ != end_ && (*at_ == '+' || *at_ == '-')) {
                ++at_;
            }
            if (!digits()) {
                return false;
            }
        }
        if (whole) {
            if (negative) {
                long long n = 0;
                const auto r = std::from_chars(from, at_, n);
                if (r.ec == std::errc() && r.ptr == at_) {
                    return events_.number(static_cast<double>(n), static_cast<tag_t>(n));
                }
            } else {
                unsigned long long n = 0;
                const auto r = std::from_chars(from, at_, n);
                if (r.ec == std::errc() && r.ptr == at_) {
                    return events_.number(static_cast<double>(n), static_cast<tag_t>(n));
                }
            }
        }
        double v = 0.0;
        const auto r = std::from_chars(from, at_, v);
        if (r.ec != std::errc() || r.ptr != at_) {
            // Out of the range of a double: the C library's answer (kep-host keeps the "C" locale).
            v = std::strtod(std::string(from, at_).c_str(), nullptr);
        }
        // The library refuses a number beyond the range of a double ("number overflow").
        return std::isfinite(v) &&
               events_.number(v, v >= 0 && v < 4294967296.0 ? static_cast<tag_t>(v) : NULLTAG);
    }

    static int hex(char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    }

    // Four hex digits after "\u"; -1 when they are not.
    long code_unit() {
        if (end_ - at_ < 4) {
            return -1;
        }
        long u = 0;
        for (int i = 0; i < 4; ++i) {
            const int h = hex(at_[i]);
            if (h < 0) {
                return -1;
            }
            u = u * 16 + h;
        }
        at_ += 4;
        return u;
    }

    static void put_utf8(std::string* out, long c) {
        if (c < 0x80) {
            *out += static_cast<char>(c);
        } else if (c < 0x800) {
            *out += static_cast<char>(0xC0 | (c >> 6));
            *out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *out += static_cast<char>(0xE0 | (c >> 12));
            *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *out += static_cast<char>(0xF0 | (c >> 18));
            *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }

    // The length of the well-formed UTF-8 sequence at at_ (a lead byte of 0x80 or more), or 0.
    size_t utf8_length() const {
        const auto byte = [&](size_t i) {
            return static_cast<size_t>(end_ - at_) > i ? static_cast<unsigned char>(at_[i]) : 0u;
        };
        const auto in = [](unsigned b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
        const unsigned b0 = byte(0);
        if (in(b0, 0xC2, 0xDF)) {
            return in(byte(1), 0x80, 0xBF) ? 2 : 0;
        }
        if (in(b0, 0xE0, 0xEF)) {
            const unsigned lo = b0 == 0xE0 ? 0xA0 : 0x80;
            const unsigned hi = b0 == 0xED ? 0x9F : 0xBF;
            return in(byte(1), lo, hi) && in(byte(2), 0x80, 0xBF) ? 3 : 0;
        }
        if (in(b0, 0xF0, 0xF4)) {
            const unsigned lo = b0 == 0xF0 ? 0x90 : 0x80;
            const unsigned hi = b0 == 0xF4 ? 0x8F : 0xBF;
            return in(byte(1), lo, hi) && in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF) ? 4 : 0;
        }
        return 0;
    }

    // A string, at its opening quote.
    bool text(std::string* out) {
        out->clear();
        ++at_;
        for (;;) {
            const char* run = at_;
            while (at_ != end_ && *at_ != '"' && *at_ != '\\' && static_cast<unsigned char>(*at_) >= 0x20 &&
                   static_cast<unsigned char>(*at_) < 0x80) {
                ++at_;
            }
            out->append(run, static_cast<size_t>(at_ - run));
            if (at_ == end_) {
                return false;
            }
            const unsigned char c = static_cast<unsigned char>(*at_);
            if (c == '"') {
                ++at_;
                return true;
            }
            if (c < 0x20) {
                return false;
            }
            if (c >= 0x80) {
                const size_t n = utf8_length();
                if (n == 0) {
                    return false;
                }
                out->append(at_, n);
                at_ += n;
                continue;
            }
            // An escape.
            ++at_;
            if (at_ == end_) {
                return false;
            }
            const char e = *at_++;
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    *out += e;
                    break;
                case 'b':
                    *out += '\b';
                    break;
                case 'f':
                    *out += '\f';
                    break;
                case 'n':
                    *out += '\n';
                    break;
                case 'r':
                    *out += '\r';
                    break;
                case 't':
                    *out += '\t';
                    break;
                case 'u': {
                    long u = code_unit();
                    if (u < 0 || (u >= 0xDC00 && u <= 0xDFFF)) {
                        return false;
                    }
                    if (u >= 0xD800 && u <= 0xDBFF) {
                        if (end_ - at_ < 2 || at_[0] != '\\' || at_[1] != 'u') {
                            return false;
                        }
                        at_ += 2;
                        const long low = code_unit();
                        if (low < 0xDC00 || low > 0xDFFF) {
                            return false;
                        }
                        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                    }
                    put_utf8(out, u);
                    break;
                }
                default:
                    return false;
            }
        }
    }

    const char* at_;
    const char* end_;
    Events& events_;
    std::string key_;
    std::string value_;
    bool first_ = false;  // the container just opened has no element yet
};

}  // namespace kep_host

#endif
