// Reading the extension's account of a window (scene_account.h) with the JSON library's event
// parser: each value goes straight to its place in the line's record.
#include "scene_account.h"

#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <string_view>
#include <utility>

namespace kep_host {

namespace {

using Json = nlohmann::json;

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

Part part_of(const std::string& key) {
    return key == "centre"         ? Part::Centre
           : key == "axes"         ? Part::Axes
           : key == "half_extents" ? Part::HalfExtents
                                   : Part::Other;
}

// The events of the parser, by depth: 1 the account, 2 its lines, 3 a line, 4 a field's array or
// search_box, 5 an array of search_box, 6 an axis.
class Reader : public nlohmann::json_sax<Json> {
public:
    explicit Reader(const std::function<void(LineAccount&)>& take) : take_(take) {}

    bool null() override { return scalar(Value{Kind::Null}); }
    bool boolean(bool b) override { return scalar(Value{b ? Kind::True : Kind::False}); }
    // A number as a tag is converted as the library's get<tag_t> converts it.
    bool number_integer(number_integer_t n) override {
        return scalar(Value{Kind::Number, static_cast<double>(n), static_cast<tag_t>(n)});
    }
    bool number_unsigned(number_unsigned_t n) override {
        return scalar(Value{Kind::Number, static_cast<double>(n), static_cast<tag_t>(n)});
    }
    bool number_float(number_float_t n, const string_t&) override {
        return scalar(Value{Kind::Number, n, static_cast<tag_t>(n)});
    }
    bool string(string_t& s) override { return scalar(Value{Kind::String, 0.0, NULLTAG, &s}); }
    bool binary(binary_t&) override { return scalar(Value{Kind::Null}); }
    bool start_object(std::size_t) override { return open(true); }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(false); }
    bool end_array() override { return close(); }
    bool key(string_t& k) override {
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
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        return false;
    }

    bool whole() const { return root_object_ && depth_ == 0; }

private:
    enum class Kind { Null, True, False, Number, String };
    struct Value {
        Kind kind;
        double number = 0.0;
        tag_t tag = NULLTAG;
        std::string* text = nullptr;
    };

    static AccountTag tag_of(const Value& v) {
        AccountTag t;
        t.set = v.kind == Kind::Number;
        t.value = v.tag;
        return t;
    }
    static AccountText text_of(const Value& v) {
        AccountText t;
        t.set = v.kind == Kind::String;
        if (t.set) {
            t.value = std::move(*v.text);
        }
        return t;
    }
    static double number_of(const Value& v) {
        return v.kind == Kind::Number ? v.number : std::numeric_limits<double>::quiet_NaN();
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
            take_(line_);
        }
        if (skip_below_ == depth_) {
            skip_below_ = 0;
        }
        --depth_;
        return true;
    }

    bool skip_from(int depth) {
        if (skip_below_ == 0) {
            skip_below_ = depth;
        }
        return true;
    }
    bool skipping() const { return skip_below_ != 0 && depth_ >= skip_below_; }

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
                    a.source = text_of(v);
                    break;
                case Field::Representation:
                    a.representation = tag_of(v);
                    break;
                case Field::BoxPath:
                    a.box_path = text_of(v);
                    break;
                case Field::ModOnHost:
                    a.mod_on_host = tag_of(v);
                    break;
                case Field::Choice:
                    a.choice = text_of(v);
                    break;
                case Field::Reason:
                    a.reason = text_of(v);
                    break;
                case Field::Found:
                    a.found = v.kind == Kind::True;
                    break;
                case Field::Why:
                    a.why = text_of(v);
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
                        a.reasons.push_back(std::move(*v.text));
                    }
                    break;
                case Field::Tests:
                    if (v.kind == Kind::String) {
                        a.tests.push_back(std::move(*v.text));
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

    // Empties a line's record, keeping the room its arrays have.
    static void clear(LineAccount& a) {
        a.line = AccountTag();
        a.source = AccountText();
        a.representation = AccountTag();
        a.absolute_set = false;
        a.absolute.clear();
        a.box_path = AccountText();
        a.box_set = false;
        a.box.clear();
        a.box_datasets.clear();
        a.ignored.clear();
        a.mod_on_host = AccountTag();
        a.choice = AccountText();
        a.search_box_set = false;
        a.centre.clear();
        a.axes.clear();
        a.half_extents.clear();
        a.reason = AccountText();
        a.reasons.clear();
        a.found = false;
        a.why = AccountText();
        a.tests.clear();
    }

    const std::function<void(LineAccount&)>& take_;
    LineAccount line_;
    int depth_ = 0;
    int skip_below_ = 0;  // the depth from which everything is skipped, or 0
    bool root_object_ = false;
    bool in_lines_ = false;
    Field field_ = Field::Other;
    Part part_ = Part::Other;
};

}  // namespace

bool read_account(const char* text, const std::function<void(LineAccount&)>& take) {
    Reader reader(take);
    return Json::sax_parse(text, text + std::strlen(text), &reader) && reader.whole();
}

}  // namespace kep_host
