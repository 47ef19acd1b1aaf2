// Reading the extension's account of a window (scene_account.h) as a stream of parser events: each
// value goes straight to its place in the line's record.
//
// RapidJSON's reader does the reading. It takes every text the JSON library (nlohmann) takes and
// refuses every text the library refuses, with the same values, but for a few that it cannot take
// or read alike: a number it holds too big to read (0e400, an integer of 309 digits), a number whose
// value from_chars does not give (beyond the largest double, or so small that it is read as zero)
// and a text nested deeper than it goes (Events). Those are read again with the library, which
// hands over only the lines after the ones already handed over: the outcome is the library's for
// every text.
//
// A text all ASCII without a backslash, which is what the extension writes, is read in place: the
// reader hands over each string where it stands, ending it with a NUL over its closing quote, and
// each number where it stands. Such a text holds no NUL before its end and no escape, so putting a
// quote back over every NUL makes it whole again for the library.
#include "scene_account.h"

#include <rapidjson/reader.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <string_view>
#include <system_error>
#include <utility>

namespace kep_host {

namespace {

// RapidJSON's input: a text up to its terminating NUL, never read past that NUL (the library's own
// string stream reads on past the end of a text cut within a multi-byte character).
class TextStream {
public:
    typedef char Ch;

    explicit TextStream(const Ch* text) : at_(text), head_(text) {}

    Ch Peek() const { return *at_; }
    Ch Take() {
        const Ch c = *at_;
        at_ += c != '\0' ? 1 : 0;
        return c;
    }
    std::size_t Tell() const { return static_cast<std::size_t>(at_ - head_); }

    // Never written: the reader decodes strings into a buffer of its own.
    Ch* PutBegin() { return nullptr; }
    void Put(Ch) {}
    void Flush() {}
    std::size_t PutEnd(Ch*) { return 0; }

private:
    const Ch* at_;
    const Ch* head_;
};

}  // namespace
}  // namespace kep_host

namespace rapidjson {
// The reader copies the stream to a local: it is two pointers.
template <>
struct StreamTraits<kep_host::TextStream> {
    enum { copyOptimization = 1 };
};
}  // namespace rapidjson

namespace kep_host {

namespace {

// The fields of a line the scene takes; the others are skipped.
enum class Field {
    Other,
    Line,
    Source,
    Representation,
    Absolute,
    BoxPath,
    Box,
    BoxDatasets,
    Ignored,
    ModOnHost,
    Choice,
    SearchBox,
    Reason,
    Reasons,
    Found,
    Why,
    Tests,
};

Field field_of(std::string_view key) {
    using namespace std::string_view_literals;
    static const std::pair<std::string_view, Field> kFields[] = {
        {"line"sv, Field::Line},
        {"source"sv, Field::Source},
        {"representation"sv, Field::Representation},
        {"absolute"sv, Field::Absolute},
        {"box_path"sv, Field::BoxPath},
        {"box"sv, Field::Box},
        {"box_datasets"sv, Field::BoxDatasets},
        {"ignored"sv, Field::Ignored},
        {"mod_on_host"sv, Field::ModOnHost},
        {"choice"sv, Field::Choice},
        {"search_box"sv, Field::SearchBox},
        {"reason"sv, Field::Reason},
        {"reasons"sv, Field::Reasons},
        {"found"sv, Field::Found},
        {"why"sv, Field::Why},
        {"tests"sv, Field::Tests},
    };
    for (const auto& f : kFields) {
        if (key == f.first) {
            return f.second;
        }
    }
    return Field::Other;
}

// The parts of search_box the scene takes.
enum class Part { Other, Centre, Axes, HalfExtents };

Part part_of(std::string_view key) {
    return key == "centre"         ? Part::Centre
           : key == "axes"         ? Part::Axes
           : key == "half_extents" ? Part::HalfExtents
                                   : Part::Other;
}

// A float as a tag: truncated toward zero, then taken modulo 2^32 as an integer is; NULLTAG from
// 2^63 on and for NaN. (That is what the plain conversion gives on x86-64, where it is undefined
// beyond tag_t's range.)
tag_t tag_of_float(double d) {
    constexpr double kTwo63 = 9223372036854775808.0;
    if (!(d > -kTwo63 && d < kTwo63)) {
        return NULLTAG;
    }
    return static_cast<tag_t>(static_cast<std::int64_t>(d));
}

enum class Kind { Null, True, False, Number, String };

// A scalar of the account.
struct Value {
    Kind kind;
    double number = 0.0;
    tag_t tag = NULLTAG;
    std::string_view text{};
};

// An integer as the JSON library reads one (a number and a tag, converted as its get<tag_t> does).
template <typename Integer>
Value integer_value(Integer n) {
    return Value{Kind::Number, static_cast<double>(n), static_cast<tag_t>(n)};
}

Value float_value(double d) { return Value{Kind::Number, d, tag_of_float(d)}; }

// The value of a number's text as the JSON library reads it: an integer (neither '.', 'e' nor 'E')
// that fits 64 bits, signed when negative, else the nearest double; false when from_chars gives no
// double for it (see the top of the file).
bool number_value(const char* first, const char* last, Value& v) {
    bool integral = true;
    for (const char* c = first; c != last; ++c) {
        if (*c == '.' || *c == 'e' || *c == 'E') {
            integral = false;
            break;
        }
    }
    if (integral) {
        if (*first == '-') {
            std::int64_t n = 0;
            const auto r = std::from_chars(first, last, n);
            if (r.ec == std::errc() && r.ptr == last) {
                v = integer_value(n);
                return true;
            }
        } else {
            std::uint64_t n = 0;
            const auto r = std::from_chars(first, last, n);
            if (r.ec == std::errc() && r.ptr == last) {
                v = integer_value(n);
                return true;
            }
        }
    }
    double d = 0.0;
    const auto r = std::from_chars(first, last, d);
    if (r.ec != std::errc() || r.ptr != last) {
        return false;
    }
    v = float_value(d);
    return true;
}

// A UTF-16 surrogate standing alone (ED A0..BF): RapidJSON's reading of an unpaired \uDC00..\uDFFF,
// which the JSON library refuses; the text itself cannot hold one, its UTF-8 being checked.
bool lone_surrogate(std::string_view s) {
    for (std::size_t at = s.find('\xED'); at != std::string_view::npos; at = s.find('\xED', at + 1)) {
        if (at + 1 < s.size() && static_cast<unsigned char>(s[at + 1]) >= 0xA0) {
            return true;
        }
    }
    return false;
}

// What the parser's events make of the account, by depth: 1 the account, 2 its lines, 3 a line, 4
// a field's array or search_box, 5 an array of search_box, 6 an axis. The first `skip` lines are
// not handed over (read already).
class Lines {
public:
    Lines(const std::function<void(LineAccount&)>& take, std::size_t skip) : take_(take), skip_(skip) {}

    bool whole() const { return root_object_ && depth_ == 0; }
    std::size_t handed() const { return handed_; }
    int depth() const { return depth_; }

    void key(std::string_view k) {
        switch (depth_) {
            case 1:
                in_lines_ = k == "lines";
                break;
            case 3:
                field_ = field_of(k);
                break;
            case 4:
                part_ = part_of(k);
                break;
            default:
                break;
        }
    }

    bool open(bool object) {
        ++depth_;
        if (depth_ == 1) {
            root_object_ = object;
            return object;
        }
        if (depth_ == 2) {
            return in_lines_ && !object ? true : skip_from(2);
        }
        if (skipping()) {
            return true;
        }
        if (depth_ == 3) {
            if (!object) {
                return skip_from(3);
            }
            clear(line_);
            field_ = Field::Other;
            return true;
        }
        LineAccount& a = line_;
        if (depth_ == 4) {
            switch (field_) {
                case Field::Absolute:
                    a.absolute_set = !object;
                    break;
                case Field::Box:
                    a.box_set = !object;
                    break;
                case Field::SearchBox:
                    a.search_box_set = object;
                    part_ = Part::Other;
                    break;
                default:
                    break;
            }
        }
        return true;
    }

    bool close() {
        if (depth_ == 3 && !skipping()) {
            if (skip_ > 0) {
                --skip_;
            } else {
                take_(line_);
                ++handed_;
            }
        }
        if (skip_below_ == depth_) {
            skip_below_ = 0;
        }
        --depth_;
        return true;
    }

    bool scalar(const Value& v) {
        if (depth_ < 3 || skipping()) {
            return depth_ > 0;
        }
        LineAccount& a = line_;
        if (depth_ == 3) {
            switch (field_) {
                case Field::Line:
                    a.line = tag_of(v);
                    break;
                case Field::Source:
                    set_text(a.source, v);
                    break;
                case Field::Representation:
                    a.representation = tag_of(v);
                    break;
                case Field::BoxPath:
                    set_text(a.box_path, v);
                    break;
                case Field::ModOnHost:
                    a.mod_on_host = tag_of(v);
                    break;
                case Field::Choice:
                    set_text(a.choice, v);
                    break;
                case Field::Reason:
                    set_text(a.reason, v);
                    break;
                case Field::Found:
                    a.found = v.kind == Kind::True;
                    break;
                case Field::Why:
                    set_text(a.why, v);
                    break;
                default:
                    break;
            }
            return true;
        }
        if (depth_ == 4) {
            switch (field_) {
                case Field::Absolute:
                    a.absolute.push_back(v.kind == Kind::Number ? v.number : 0.0);
                    break;
                case Field::Box:
                    a.box.push_back(number_of(v));
                    break;
                case Field::BoxDatasets:
                    a.box_datasets.push_back(tag_of(v));
                    break;
                case Field::Ignored:
                    a.ignored.push_back(tag_of(v));
                    break;
                case Field::Reasons:
                    if (v.kind == Kind::String) {
                        a.reasons.emplace_back(v.text);
                    }
                    break;
                case Field::Tests:
                    if (v.kind == Kind::String) {
                        a.tests.emplace_back(v.text);
                    }
                    break;
                default:
                    break;
            }
            return true;
        }
        if (field_ == Field::SearchBox && a.search_box_set) {
            if (depth_ == 5 && part_ == Part::Centre) {
                a.centre.push_back(number_of(v));
            } else if (depth_ == 5 && part_ == Part::HalfExtents) {
                a.half_extents.push_back(number_of(v));
            } else if (depth_ == 6 && part_ == Part::Axes) {
                a.axes.push_back(number_of(v));
            }
        }
        return true;
    }

private:
    static AccountTag tag_of(const Value& v) {
        AccountTag t;
        t.set = v.kind == Kind::Number;
        t.value = v.tag;
        return t;
    }
    static void set_text(AccountText& t, const Value& v) {
        t.set = v.kind == Kind::String;
        t.value.assign(t.set ? v.text : std::string_view());
    }
    static double number_of(const Value& v) {
        return v.kind == Kind::Number ? v.number : std::numeric_limits<double>::quiet_NaN();
    }

    bool skip_from(int depth) {
        if (skip_below_ == 0) {
            skip_below_ = depth;
        }
        return true;
    }
    bool skipping() const { return skip_below_ != 0 && depth_ >= skip_below_; }

    // Empties a line's record, keeping the room its arrays and texts have.
    static void clear(LineAccount& a) {
        a.line = AccountTag();
        a.source.set = false;
        a.source.value.clear();
        a.representation = AccountTag();
        a.absolute_set = false;
        a.absolute.clear();
        a.box_path.set = false;
        a.box_path.value.clear();
        a.box_set = false;
        a.box.clear();
        a.box_datasets.clear();
        a.ignored.clear();
        a.mod_on_host = AccountTag();
        a.choice.set = false;
        a.choice.value.clear();
        a.search_box_set = false;
        a.centre.clear();
        a.axes.clear();
        a.half_extents.clear();
        a.reason.set = false;
        a.reason.value.clear();
        a.reasons.clear();
        a.found = false;
        a.why.set = false;
        a.why.value.clear();
        a.tests.clear();
    }

    const std::function<void(LineAccount&)>& take_;
    LineAccount line_;
    std::size_t skip_;
    std::size_t handed_ = 0;
    int depth_ = 0;
    int skip_below_ = 0;  // the depth from which everything is skipped, or 0
    bool root_object_ = false;
    bool in_lines_ = false;
    Field field_ = Field::Other;
    Part part_ = Part::Other;
};

// RapidJSON's events, each number as its text. The reader goes down a level of the text by
// calling itself: a text nested deeper than kDeepest is left to the JSON library, which has no
// such bound.
class Events {
public:
    static constexpr int kDeepest = 200;

    explicit Events(Lines& lines) : lines_(lines) {}

    // Whether the reading was stopped for the JSON library to read the text.
    bool deferred() const { return deferred_; }

    bool Null() { return lines_.scalar(Value{Kind::Null}); }
    bool Bool(bool b) { return lines_.scalar(Value{b ? Kind::True : Kind::False}); }
    bool RawNumber(const char* s, rapidjson::SizeType n, bool) {
        Value v{Kind::Number};
        if (!number_value(s, s + n, v)) {
            deferred_ = true;
            return false;
        }
        return lines_.scalar(v);
    }
    // Numbers come as their texts (RawNumber) only.
    bool Int(int) { return false; }
    bool Uint(unsigned) { return false; }
    bool Int64(std::int64_t) { return false; }
    bool Uint64(std::uint64_t) { return false; }
    bool Double(double) { return false; }
    bool String(const char* s, rapidjson::SizeType n, bool) {
        const std::string_view text(s, n);
        return !lone_surrogate(text) && lines_.scalar(Value{Kind::String, 0.0, NULLTAG, text});
    }
    bool StartObject() { return deeper() && lines_.open(true); }
    bool Key(const char* s, rapidjson::SizeType n, bool) {
        const std::string_view k(s, n);
        if (lone_surrogate(k)) {
            return false;
        }
        lines_.key(k);
        return true;
    }
    bool EndObject(rapidjson::SizeType) { return lines_.close(); }
    bool StartArray() { return deeper() && lines_.open(false); }
    bool EndArray(rapidjson::SizeType) { return lines_.close(); }

private:
    bool deeper() {
        if (lines_.depth() < kDeepest) {
            return true;
        }
        deferred_ = true;
        return false;
    }

    Lines& lines_;
    bool deferred_ = false;
};

// The JSON library's events, for the texts RapidJSON leaves to it.
using Json = nlohmann::json;
class LibraryEvents : public nlohmann::json_sax<Json> {
public:
    explicit LibraryEvents(Lines& lines) : lines_(lines) {}

    bool null() override { return lines_.scalar(Value{Kind::Null}); }
    bool boolean(bool b) override { return lines_.scalar(Value{b ? Kind::True : Kind::False}); }
    bool number_integer(number_integer_t n) override { return lines_.scalar(integer_value(n)); }
    bool number_unsigned(number_unsigned_t n) override { return lines_.scalar(integer_value(n)); }
    bool number_float(number_float_t n, const string_t&) override { return lines_.scalar(float_value(n)); }
    bool string(string_t& s) override { return lines_.scalar(Value{Kind::String, 0.0, NULLTAG, s}); }
    bool binary(binary_t&) override { return lines_.scalar(Value{Kind::Null}); }
    bool start_object(std::size_t) override { return lines_.open(true); }
    bool end_object() override { return lines_.close(); }
    bool start_array(std::size_t) override { return lines_.open(false); }
    bool end_array() override { return lines_.close(); }
    bool key(string_t& k) override {
        lines_.key(k);
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

private:
    Lines& lines_;
};

// What a text holds up to its NUL: only ASCII bytes, and any backslash.
struct Bytes {
    bool ascii;
    bool backslash;
};

Bytes bytes_of(const char* text, std::size_t size) {
    unsigned char any = 0;
    bool backslash = false;
    for (std::size_t i = 0; i < size; ++i) {
        any |= static_cast<unsigned char>(text[i]);
        backslash |= text[i] == '\\';
    }
    return Bytes{any < 0x80, backslash};
}

}  // namespace

bool read_account(char* text, const std::function<void(LineAccount&)>& take) {
    // The JSON library skips a byte order mark at the start.
    char* json = std::strncmp(text, "\xEF\xBB\xBF", 3) == 0 ? text + 3 : text;
    const std::size_t size = std::strlen(json);
    const Bytes bytes = bytes_of(json, size);
    const bool in_place = bytes.ascii && !bytes.backslash;
    Lines lines(take, 0);
    Events events(lines);
    rapidjson::Reader reader;
    constexpr unsigned kFlags = rapidjson::kParseNumbersAsStringsFlag;
    rapidjson::ParseResult read;
    if (in_place) {
        rapidjson::InsituStringStream in(json);
        read = reader.Parse<kFlags | rapidjson::kParseInsituFlag>(in, events);
    } else {
        // Each string is decoded into the reader's own buffer, the text left as it stands; the
        // strings' UTF-8 is checked only where there is any, a text all ASCII being read alike
        // either way.
        TextStream in(json);
        read = bytes.ascii ? reader.Parse<kFlags>(in, events)
                           : reader.Parse<kFlags | rapidjson::kParseValidateEncodingFlag>(in, events);
    }
    if (!events.deferred() && read.Code() != rapidjson::kParseErrorNumberTooBig) {
        return !read.IsError() && lines.whole();
    }
    if (in_place) {
        std::replace(json, json + size, '\0', '"');
    }
    Lines again(take, lines.handed());
    LibraryEvents library(again);
    return Json::sax_parse(text, text + std::strlen(text), &library) && again.whole();
}

}  // namespace kep_host
