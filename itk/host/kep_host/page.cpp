// The interactive page of a search (page.h).
#include "page.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <unordered_map>
#include <unordered_set>

namespace kep_host {

namespace {

// The scene's JSON, written straight to text. Every string is escaped for its place inside a
// script element: "<", ">" and "&" as \u escapes (outside strings the scene has none), so that no
// site text can close the element or open a comment there; a byte that is not UTF-8 becomes
// U+FFFD.
class JsonText {
public:
    explicit JsonText(std::string& out) : out_(out) {}

    JsonText& raw(const char* text) {
        out_ += text;
        return *this;
    }

    JsonText& integer(long long value) {
        char text[24];
        out_.append(text, static_cast<size_t>(std::to_chars(text, text + sizeof text, value).ptr - text));
        return *this;
    }

    // A number as the extension writes it (nine significant digits, "%.9g"), so that the page shows
    // the extension's own numbers; null when it is none.
    JsonText& number(double value) {
        if (!std::isfinite(value)) {
            return raw("null");
        }
        char text[32];
        value += 0.0;  // no "-0"
        const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 9).ptr;
        out_.append(text, static_cast<size_t>(end - text));
        return *this;
    }

    JsonText& numbers(const double* values, size_t count) {
        out_ += '[';
        for (size_t i = 0; i < count; ++i) {
            if (i != 0) {
                out_ += ',';
            }
            number(values[i]);
        }
        out_ += ']';
        return *this;
    }

    JsonText& string(const std::string& text) {
        static const char kHex[] = "0123456789abcdef";
        out_ += '"';
        const size_t n = text.size();
        for (size_t i = 0; i < n;) {
            const unsigned char c = static_cast<unsigned char>(text[i]);
            if (c >= 0x80) {
                const size_t length = utf8_length(text, i);
                if (length == 0) {
                    out_ += "\\ufffd";
                    ++i;
                } else {
                    out_.append(text, i, length);
                    i += length;
                }
                continue;
            }
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += static_cast<char>(c);
            } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
                out_ += "\\u00";
                out_ += kHex[c >> 4];
                out_ += kHex[c & 15];
            } else {
                out_ += static_cast<char>(c);
            }
            ++i;
        }
        out_ += '"';
        return *this;
    }

private:
    // The length of the well-formed UTF-8 sequence at text[at] (a lead byte of 0x80 or more), or 0.
    static size_t utf8_length(const std::string& text, size_t at) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        size_t length = 0;
        unsigned lo = 0x80;
        unsigned hi = 0xbf;  // the range of the second byte
        if (c >= 0xc2 && c <= 0xdf) {
            length = 2;
        } else if (c >= 0xe0 && c <= 0xef) {
            length = 3;
            lo = c == 0xe0 ? 0xa0 : 0x80;  // no overlong form
            hi = c == 0xed ? 0x9f : 0xbf;  // no surrogate
        } else if (c >= 0xf0 && c <= 0xf4) {
            length = 4;
            lo = c == 0xf0 ? 0x90 : 0x80;
            hi = c == 0xf4 ? 0x8f : 0xbf;  // nothing past U+10FFFF
        } else {
            return 0;
        }
        if (at + length > text.size()) {
            return 0;
        }
        for (size_t k = 1; k < length; ++k) {
            const unsigned b = static_cast<unsigned char>(text[at + k]);
            if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xbf)) {
                return 0;
            }
        }
        return length;
    }

    std::string& out_;
};

// A table of distinct values, each written once; the scene refers to them by index.
template <typename Key>
class Table {
public:
    size_t index(const Key& key) {
        const auto at = index_.emplace(key, keys_.size());
        if (at.second) {
            keys_.push_back(key);
        }
        return at.first->second;
    }
    const std::vector<Key>& keys() const { return keys_; }

private:
    std::unordered_map<Key, size_t> index_;
    std::vector<Key> keys_;
};

// The extension's texts shown on the page ("source", "tests"), each pattern kept once: a text is
// written as [pattern, part, ...] (or the pattern alone when it has no parts), its pattern being
// the pieces around the parts that vary from line to line (each run of letters, digits and "._+-"
// of three characters or more that holds a digit: lengths such as "60.6" or "1540", ids such as
// "dp36759") and the parts, as written, the text's own. The page puts each text back together
// exactly: the pieces, whatever they hold, with the parts between them.
class Words {
public:
    void add(JsonText& json, const std::string& text) {
        std::string pattern;  // the pieces, each ended by a NUL (which no text holds)
        parts_.clear();
        size_t piece = 0;
        for (size_t i = 0; i < text.size();) {
            if (!in_part(text[i])) {
                ++i;
                continue;
            }
            size_t end = i;
            bool digit = false;
            for (; end < text.size() && in_part(text[end]); ++end) {
                digit = digit || (text[end] >= '0' && text[end] <= '9');
            }
            if (digit && end - i >= 3) {
                pattern.append(text, piece, i - piece).push_back('\0');
                parts_.push_back(text.substr(i, end - i));
                piece = end;
            }
            i = end;
        }
        pattern.append(text, piece, std::string::npos).push_back('\0');
        const size_t index = patterns_.index(pattern);
        if (parts_.empty()) {
            json.integer(static_cast<long long>(index));
            return;
        }
        json.raw("[").integer(static_cast<long long>(index));
        for (const std::string& part : parts_) {
            json.raw(",").string(part);
        }
        json.raw("]");
    }

    void write(JsonText& json) const {
        json.raw("[");
        for (size_t p = 0; p < patterns_.keys().size(); ++p) {
            const std::string& pattern = patterns_.keys()[p];
            json.raw(p == 0 ? "[" : ",[");
            for (size_t from = 0; from < pattern.size();) {
                const size_t nul = pattern.find('\0', from);
                json.raw(from == 0 ? "" : ",").string(pattern.substr(from, nul - from));
                from = nul + 1;
            }
            json.raw("]");
        }
        json.raw("]");
    }

private:
    static bool in_part(char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_' || c == '+' ||
               c == '-';
    }

    Table<std::string> patterns_;
    std::vector<std::string> parts_;
};

// The query's box as the search sees it: axis-aligned in the top line's coordinates.
void query_search_box(JsonText& json, const std::vector<double>& b) {
    const double centre[3] = {(b[0] + b[3]) / 2, (b[1] + b[4]) / 2, (b[2] + b[5]) / 2};
    const double half[3] = {(b[3] - b[0]) / 2, (b[4] - b[1]) / 2, (b[5] - b[2]) / 2};
    json.raw("{\"centre\":").numbers(centre, 3);
    json.raw(",\"axes\":[[1,0,0],[0,1,0],[0,0,1]],\"half_extents\":").numbers(half, 3).raw("}");
}

void write_query(JsonText& json, const SearchPanel& panel) {
    json.raw("{\"kind\":").string(panel.query_kind);
    if (panel.query_kind == "box" && panel.query_box.size() == 6) {
        json.raw(",\"box\":").numbers(panel.query_box.data(), 6);
        json.raw(",\"search_box\":");
        query_search_box(json, panel.query_box);
    }
    if (panel.query_kind == "near") {
        json.raw(",\"near\":[");
        for (size_t i = 0; i < panel.selected.size(); ++i) {
            json.raw(i == 0 ? "" : ",").string(panel.selected[i]);
        }
        json.raw("]");
    }
    json.raw(",\"delta_mm\":").number(panel.delta_mm).raw("}");
}

// Writes one column: "name":[f(line), ...] over the lines for which `take` holds.
template <typename Take, typename Write>
void column(JsonText& json, const Scene& scene, const char* name, Take take, Write write) {
    json.raw(",\"").raw(name).raw("\":[");
    bool first = true;
    for (const SceneLine& line : scene.lines) {
        if (take(line)) {
            json.raw(first ? "" : ",");
            first = false;
            write(line);
        }
    }
    json.raw("]");
}

}  // namespace

void write_scene(std::string& out, const SearchPanel& panel) {
    const Scene& scene = *panel.scene;
    JsonText json(out);
    Table<std::string> texts;
    texts.index("");
    Table<std::string> axes;  // the nine numbers of each distinct set of axes, as written
    Table<std::string> reason_lists;
    reason_lists.index("[]");
    Words words;
    const std::unordered_set<std::string> found(panel.found.begin(), panel.found.end());
    const auto any = [](const SceneLine&) { return true; };
    const auto boxed = [](const SceneLine& line) { return line.has_box; };
    const auto text = [&](const std::string& t) { json.integer(static_cast<long long>(texts.index(t))); };

    json.raw("{\"title\":").string(panel.title);
    if (!panel.focus.empty()) {
        json.raw(",\"focus\":").string(panel.focus);
    }
    json.raw(",\"query\":");
    write_query(json, panel);
    json.raw(",\"count\":").integer(static_cast<long long>(scene.lines.size()));
    column(json, scene, "id", any, [&](const SceneLine& l) { json.string(l.id); });
    column(json, scene, "name", any, [&](const SceneLine& l) { text(l.name); });
    column(json, scene, "parent", any, [&](const SceneLine& l) { json.integer(l.parent); });
    column(json, scene, "found", any, [&](const SceneLine& l) {
        json.raw((scene.has_query ? l.found : found.count(l.id) != 0) ? "1" : "0");
    });
    column(json, scene, "reasons", any, [&](const SceneLine& l) {
        // Every reason, in order; a line without a box always has one.
        const std::vector<std::string> first{l.reason};
        const std::vector<std::string>& reasons = l.reasons.empty() ? first : l.reasons;
        std::string list = "[";
        for (size_t i = 0; !l.has_box && i < reasons.size(); ++i) {
            list += (i == 0 ? "" : ",") + std::to_string(texts.index(reasons[i]));
        }
        json.integer(static_cast<long long>(reason_lists.index(list + "]")));
    });
    column(json, scene, "placed_by", any, [&](const SceneLine& l) { text(l.placed_by); });
    if (scene.has_query) {
        column(json, scene, "tests", any, [&](const SceneLine& l) {
            json.raw("[");
            const std::vector<std::string> why{l.why};
            const std::vector<std::string>& tests = l.why.empty() ? l.tests : why;
            for (size_t i = 0; i < tests.size(); ++i) {
                json.raw(i == 0 ? "" : ",");
                words.add(json, tests[i]);
            }
            json.raw("]");
        });
    }
    column(json, scene, "centre", boxed, [&](const SceneLine& l) {
        json.number(l.centre[0]).raw(",").number(l.centre[1]).raw(",").number(l.centre[2]);
    });
    column(json, scene, "half_extents", boxed, [&](const SceneLine& l) {
        json.number(l.half[0]).raw(",").number(l.half[1]).raw(",").number(l.half[2]);
    });
    column(json, scene, "axes", boxed, [&](const SceneLine& l) {
        std::string nine;
        JsonText(nine).numbers(l.axes.data(), 9);
        json.integer(static_cast<long long>(axes.index(nine)));
    });
    column(json, scene, "box_dataset", boxed,
           [&](const SceneLine& l) { text(l.box_datasets.empty() ? std::string() : l.box_datasets[0]); });
    column(json, scene, "source", boxed, [&](const SceneLine& l) { words.add(json, l.box_from); });

    json.raw(",\"axes_table\":[");
    for (size_t i = 0; i < axes.keys().size(); ++i) {
        json.raw(i == 0 ? "" : ",").raw(axes.keys()[i].c_str());
    }
    json.raw("],\"reason_lists\":[");
    for (size_t i = 0; i < reason_lists.keys().size(); ++i) {
        json.raw(i == 0 ? "" : ",").raw(reason_lists.keys()[i].c_str());
    }
    json.raw("],\"words\":");
    words.write(json);
    json.raw(",\"texts\":[");
    for (size_t i = 0; i < texts.keys().size(); ++i) {
        json.raw(i == 0 ? "" : ",").string(texts.keys()[i]);
    }
    json.raw("]}");
}

std::string page_text(const SearchPanel& panel) {
    std::string out;
    out.reserve(panel.scene->lines.size() * 128 + (1u << 20));
    for (const char* const* piece = kPageBefore; *piece != nullptr; ++piece) {
        out += *piece;
    }
    out += "<script type=\"application/json\" id=\"kep-scene\">";
    write_scene(out, panel);
    out += "</script>";
    for (const char* const* piece = kPageAfter; *piece != nullptr; ++piece) {
        out += *piece;
    }
    return out;
}

void require_writable_html(const std::string& command, const std::string& path) {
    // Opened for appending, which neither truncates nor changes a file that is there.
    std::ofstream probe(path, std::ios::binary | std::ios::app);
    if (!probe) {
        throw UsageError(command + ": --html: cannot write '" + path + "': " + std::strerror(errno));
    }
}

bool write_page_file(const std::string& path, const SearchPanel& panel, std::string* error) {
    const std::string text = page_text(panel);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        *error = "cannot write '" + path + "'";
        return false;
    }
    return true;
}

}  // namespace kep_host
