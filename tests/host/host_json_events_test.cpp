// kep-host reads the extension's account of a window with a JSON reader of its own
// (json_events.h): the events and the texts it accepts are the JSON library's.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "json_events.h"

namespace host_test {
namespace {

// The events of one reading, as a text.
struct Events {
    std::string seen;
    void put(const std::string& s) { seen += s + " "; }
    bool null() { return put("null"), true; }
    bool boolean(bool b) { return put(b ? "true" : "false"), true; }
    bool number(double v, tag_t tag) {
        char text[64];
        std::snprintf(text, sizeof text, "%.17g/%u", v, static_cast<unsigned>(tag));
        return put(text), true;
    }
    bool string(std::string& s) { return put("'" + s + "'"), true; }
    bool key(const std::string& k) { return put("key:" + k), true; }
    bool start_object() { return put("{"), true; }
    bool end_object() { return put("}"), true; }
    bool start_array() { return put("["), true; }
    bool end_array() { return put("]"), true; }
};

// The library's events, told in the same words.
struct LibraryEvents : nlohmann::json_sax<nlohmann::json> {
    Events e;
    bool null() override { return e.null(); }
    bool boolean(bool b) override { return e.boolean(b); }
    bool number_integer(number_integer_t n) override {
        return e.number(static_cast<double>(n), static_cast<tag_t>(n));
    }
    bool number_unsigned(number_unsigned_t n) override {
        return e.number(static_cast<double>(n), static_cast<tag_t>(n));
    }
    bool number_float(number_float_t n, const string_t&) override {
        return e.number(n, n >= 0 && n < 4294967296.0 ? static_cast<tag_t>(n) : NULLTAG);
    }
    bool string(string_t& s) override { return e.string(s); }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override { return e.start_object(); }
    bool key(string_t& k) override { return e.key(k); }
    bool end_object() override { return e.end_object(); }
    bool start_array(std::size_t) override { return e.start_array(); }
    bool end_array() override { return e.end_array(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }
};

TEST(HostJsonEvents, ReadsAsTheJsonLibraryReads) {
    const std::string rows[] = {
        R"({"top": 1, "lines": [{"line": 7, "box": [1, -2, 3.5, 1e2, -0, 0.1e-3], "found": true}]})",
        R"([18446744073709551615, 18446744073709551616, -9223372036854775808, -9223372036854775809, 4294967297])",
        R"([1e308, 1e309, -1e400, 1e-400, 2.5E+3, 0.0])",
        R"(["plain \"q\" \\ \/ \b\f\n\r\t \u0041 \u00e9 \u20AC \ud83d\ude00", "caf\u00e9 é € 😀"])",
        " \t\n{\"a\" : {\"b\" : [[], {}, [[null]]]}, \"c\": false}\r\n ",
        "[\"\\ud83d\"]",
        "[\"\\ude00\"]",
        "[\"\\ud83d\\u0041\"]",
        "[\"\\u12g4\"]",
        "[\"\\x\"]",
        "[\"\xc3\x28\"]",
        "[\"\xe0\x80\x80\"]",
        "[\"\xed\xa0\x80\"]",
        "[\"\xf4\x90\x80\x80\"]",
        "[\"\xc0\xaf\"]",
        "[\"\xf0\x9f\x98\"]",
        "[\"a\x01"
        "b\"]",
        "[\"open",
        "[1,]",
        "{\"a\": 1,}",
        "{\"a\" 1}",
        "{1: 2}",
        "[01]",
        "[-]",
        "[1.]",
        "[.5]",
        "[+1]",
        "[1e]",
        "[-01]",
        "[tru]",
        "[nulll]",
        "{} x",
        "{}{}",
        "",
        "   ",
        "[",
        "]",
        "[1 2]",
        "{\"a\": 1 \"b\": 2}",
        "\"top\"",
        "42",
    };
    for (const std::string& text : rows) {
        SCOPED_TRACE(text);
        Events mine;
        const bool read = kep_host::JsonEvents<Events>(text.data(), text.data() + text.size(), mine).run();
        LibraryEvents library;
        const bool parsed = nlohmann::json::sax_parse(text, &library);
        EXPECT_EQ(read, parsed);
        if (read && parsed) {
            EXPECT_EQ(mine.seen, library.e.seen);
        }
    }
}

}  // namespace
}  // namespace host_test
