// The interactive page of a search (page.h).
#include "page.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace kep_host {

namespace {

// The scene's JSON, written straight to text. Every string is escaped for its place inside a
// script element: "<", ">" and "&" as \u escapes (outside strings the scene has none), so that no
// site text can close the element or open a comment there; a byte that is not UTF-8 becomes
// U+FFFD. With a stream to spill into, the text is held only a piece at a time: once a piece is
// done (piece_done) and more than kPiece bytes are held, they are handed to the stream.
class JsonText {
public:
    static constexpr size_t kPiece = size_t{1} << 16;

    explicit JsonText(std::string& out, std::ostream* spill = nullptr) : out_(out), spill_(spill) {}

    void piece_done() {
        if (spill_ != nullptr && out_.size() >= kPiece) {
            spill_->write(out_.data(), static_cast<std::streamsize>(out_.size()));
            out_.clear();
        }
    }

    JsonText& raw(std::string_view text) {
        out_.append(text.data(), text.size());
        return *this;
    }

    JsonText& raw(char c) {
        out_ += c;
        return *this;
    }

    JsonText& integer(long long value) {
        char text[24];
        out_.append(text, static_cast<size_t>(std::to_chars(text, text + sizeof text, value).ptr - text));
        return *this;
    }

    JsonText& index(size_t value) { return integer(static_cast<long long>(value)); }

    // A number as the extension writes it (nine significant digits, "%.9g"), so that the page shows
    // the extension's own numbers; null when it is none.
    JsonText& number(double value) {
        if (!std::isfinite(value)) {
            return raw("null");
        }
        value += 0.0;  // no "-0"
        // A whole number of nine digits at most: the integer it is, as "%.9g" writes it.
        if (std::fabs(value) < 1e9 && value == static_cast<double>(static_cast<long long>(value))) {
            return integer(static_cast<long long>(value));
        }
        char text[32];
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

    JsonText& string(std::string_view text) {
        static const char kHex[] = "0123456789abcdef";
        out_ += '"';
        const size_t n = text.size();
        for (size_t i = 0; i < n;) {
            // The run of bytes written as they are, in one piece.
            size_t plain = i;
            while (plain < n && is_plain(static_cast<unsigned char>(text[plain]))) {
                ++plain;
            }
            if (plain != i) {
                out_.append(text.data() + i, plain - i);
                i = plain;
                continue;
            }
            const unsigned char c = static_cast<unsigned char>(text[i]);
            if (c >= 0x80) {
                const size_t length = utf8_length(text, i);
                if (length == 0) {
                    out_ += "\\ufffd";
                    ++i;
                } else {
                    out_.append(text.data() + i, length);
                    i += length;
                }
                continue;
            }
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += static_cast<char>(c);
            } else {  // a control character, "<", ">" or "&"
                out_ += "\\u00";
                out_ += kHex[c >> 4];
                out_ += kHex[c & 15];
            }
            ++i;
        }
        out_ += '"';
        return *this;
    }

private:
    // A byte that stands for itself inside a string.
    static bool is_plain(unsigned char c) {
        return c >= 0x20 && c < 0x80 && c != '"' && c != '\\' && c != '<' && c != '>' && c != '&';
    }

    // The length of the well-formed UTF-8 sequence at text[at] (a lead byte of 0x80 or more), or 0.
    static size_t utf8_length(std::string_view text, size_t at) {
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
    std::ostream* spill_;
};

// A table of distinct texts, each written once; the scene refers to them by index. A text is
// looked up as it stands, without a copy; only a new one is kept.
class Table {
public:
    size_t index(std::string_view key) {
        const auto at = index_.find(key);
        if (at != index_.end()) {
            return at->second;
        }
        keys_.emplace_back(key);
        index_.emplace(keys_.back(), keys_.size() - 1);
        return keys_.size() - 1;
    }
    const std::deque<std::string>& keys() const { return keys_; }

private:
    std::deque<std::string> keys_;  // a deque, so that the views of the index stay where they are
    std::unordered_map<std::string_view, size_t> index_;
};

// What a byte is to the parts of a text (Words): one of their characters (a letter or digit of
// the "C" locale, or one of "._+-"), and a digit.
constexpr unsigned char kPart = 1;
constexpr unsigned char kDigit = 2;
struct WordKinds {
    unsigned char of[256];
};
constexpr WordKinds word_kinds() {
    WordKinds k{};
    for (int c = 0; c < 26; ++c) {
        k.of['a' + c] = kPart;
        k.of['A' + c] = kPart;
    }
    for (int c = '0'; c <= '9'; ++c) {
        k.of[c] = kPart | kDigit;
    }
    k.of[static_cast<unsigned char>('.')] = kPart;
    k.of[static_cast<unsigned char>('_')] = kPart;
    k.of[static_cast<unsigned char>('+')] = kPart;
    k.of[static_cast<unsigned char>('-')] = kPart;
    return k;
}
constexpr WordKinds kWordKinds = word_kinds();

// The extension's texts shown on the page ("source", "tests"), each pattern kept once: a text is
// written as [pattern, part, ...] (or the pattern alone when it has no parts), its pattern being
// the pieces around the parts that vary from line to line (each run of letters, digits and "._+-"
// of three characters or more that holds a digit: lengths such as "60.6" or "1540", ids such as
// "dp36759") and the parts, as written, the text's own. The page puts each text back together
// exactly: the pieces, whatever they hold, with the parts between them.
class Words {
public:
    void add(JsonText& json, std::string_view text) {
        pattern_.clear();  // the pieces, each ended by a NUL (which no text holds)
        parts_.clear();
        const size_t n = text.size();
        size_t piece = 0;
        // From digit to digit: the run of each, found around it, is a part when it is long enough.
        for (size_t i = 0; i < n;) {
            if ((kind(text[i]) & kDigit) == 0) {
                ++i;
                continue;
            }
            size_t start = i;
            while (start > piece && kind(text[start - 1]) != 0) {
                --start;
            }
            size_t end = i + 1;
            while (end < n && kind(text[end]) != 0) {
                ++end;
            }
            if (end - start >= 3) {
                pattern_.append(text.data() + piece, start - piece).push_back('\0');
                parts_.push_back(text.substr(start, end - start));
                piece = end;
            }
            i = end;
        }
        pattern_.append(text.data() + piece, n - piece).push_back('\0');
        const size_t index = patterns_.index(pattern_);
        if (parts_.empty()) {
            json.index(index);
            return;
        }
        json.raw('[').index(index);
        for (const std::string_view part : parts_) {
            json.raw(',').string(part);
        }
        json.raw(']');
    }

    // A text of the scene met on many lines: written as add writes it, its words found once.
    void add(JsonText& json, const Scene& scene, TextRef ref) {
        auto at = known_.find(ref);
        if (at == known_.end()) {
            const size_t from = written_.size();
            JsonText into(written_);
            add(into, scene.text(ref));
            at = known_.emplace(ref, Span{from, written_.size() - from}).first;
        }
        json.raw(std::string_view(written_).substr(at->second.from, at->second.size));
    }

    void write(JsonText& json) const {
        json.raw('[');
        for (size_t p = 0; p < patterns_.keys().size(); ++p) {
            const std::string_view pattern = patterns_.keys()[p];
            json.raw(p == 0 ? "[" : ",[");
            for (size_t from = 0; from < pattern.size();) {
                const size_t nul = pattern.find('\0', from);
                if (from != 0) {
                    json.raw(',');
                }
                json.string(pattern.substr(from, nul - from));
                from = nul + 1;
            }
            json.raw(']');
            json.piece_done();
        }
        json.raw(']');
    }

private:
    static unsigned kind(char c) { return kWordKinds.of[static_cast<unsigned char>(c)]; }

    struct Span {
        size_t from;
        size_t size;
    };

    Table patterns_;
    std::string pattern_;
    std::vector<std::string_view> parts_;
    std::unordered_map<TextRef, Span> known_;  // the texts of the scene written before
    std::string written_;                      // what they were written as, one after another
};

// The page's table of texts for the texts of a scene: each scene text looked up once.
class SceneTextTable {
public:
    explicit SceneTextTable(const Scene& scene) : scene_(scene) { table_.index(""); }
    size_t index(TextRef ref) {
        const auto at = known_.try_emplace(ref, 0);
        if (at.second) {
            at.first->second = table_.index(scene_.text(ref));
        }
        return at.first->second;
    }
    const std::deque<std::string>& keys() const { return table_.keys(); }

private:
    const Scene& scene_;
    Table table_;
    std::unordered_map<TextRef, size_t> known_;
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
            if (!first) {
                json.raw(',');
            }
            first = false;
            write(line);
            json.piece_done();
        }
    }
    json.raw(']');
}

// The numbers of the boxes' centres and half extents, each written once and then copied: they
// repeat from line to line (the half extents of a part's box, the coordinates of a row of lines).
// Found by value (-0 being written as 0, it is taken as 0), for numbers under a million only, and
// up to a bound on how many are kept.
class NumberTexts {
public:
    void write(JsonText& json, double value) {
        if (!(std::fabs(value) < 1e6)) {  // large, or no number
            json.number(value);
            return;
        }
        value += 0.0;
        auto at = texts_.find(value);
        if (at == texts_.end()) {
            if (texts_.size() == kMost) {
                json.number(value);
                return;
            }
            const size_t from = written_.size();
            JsonText(written_).number(value);
            at = texts_
                     .emplace(value, Text{static_cast<uint32_t>(from),
                                          static_cast<uint32_t>(written_.size() - from)})
                     .first;
        }
        json.raw(std::string_view(written_).substr(at->second.from, at->second.size));
    }

private:
    static constexpr size_t kMost = size_t{1} << 17;
    struct Text {
        uint32_t from;
        uint32_t size;
    };
    // From the value itself, so that the same numbers fall alike on every machine.
    struct ByValue {
        size_t operator()(double value) const {
            return static_cast<size_t>(static_cast<long long>(value * 4294967296.0));
        }
    };
    std::unordered_map<double, Text, ByValue> texts_;
    std::string written_;  // the texts, one after another
};

// The distinct sets of axes, each kept once as its nine numbers written. A set met before is
// found by its values, without writing them again; sets whose values differ in what is written
// share their text's index.
class AxesTable {
public:
    size_t index(const std::array<double, 9>& axes) {
        bool finite = true;
        for (const double v : axes) {
            finite = finite && std::isfinite(v);
        }
        if (finite) {  // ordered by value: -0 and 0, written alike, are one key
            const auto at = by_value_.find(axes);
            if (at != by_value_.end()) {
                return at->second;
            }
        }
        nine_.clear();
        JsonText(nine_).numbers(axes.data(), axes.size());
        const size_t index = texts_.index(nine_);
        if (finite) {
            by_value_.emplace(axes, index);
        }
        return index;
    }
    const std::deque<std::string>& keys() const { return texts_.keys(); }

private:
    Table texts_;
    std::map<std::array<double, 9>, size_t> by_value_;
    std::string nine_;
};

}  // namespace

void write_scene(std::ostream& out, const SearchPanel& panel) {
    const Scene& scene = *panel.scene;
    std::string held;
    held.reserve(JsonText::kPiece + (JsonText::kPiece >> 2));
    JsonText json(held, &out);
    SceneTextTable texts(scene);
    AxesTable axes;
    std::vector<size_t> axes_index(scene.axes.size(), SIZE_MAX);  // the page's, by the scene's
    Table reason_lists;
    reason_lists.index("[]");  // index 0: no reason
    Words words;
    NumberTexts numbers;
    std::unordered_set<std::string_view> found;
    if (!scene.has_query) {
        found.insert(panel.found.begin(), panel.found.end());
    }
    std::string list;                                // a line's list of reasons
    std::unordered_map<TextRef, size_t> one_reason;  // the lists of one reason, by the reason
    const auto any = [](const SceneLine&) { return true; };
    const auto boxed = [](const SceneLine& line) { return line.has_box; };
    const auto text = [&](TextRef t) { json.index(texts.index(t)); };

    json.raw("{\"title\":").string(panel.title);
    if (!panel.focus.empty()) {
        json.raw(",\"focus\":").string(panel.focus);
    }
    json.raw(",\"query\":");
    write_query(json, panel);
    json.raw(",\"count\":").index(scene.lines.size());
    column(json, scene, "id", any, [&](const SceneLine& l) { json.string(scene.text(l.id)); });
    column(json, scene, "name", any, [&](const SceneLine& l) { text(l.name); });
    column(json, scene, "parent", any, [&](const SceneLine& l) { json.integer(l.parent); });
    column(json, scene, "found", any, [&](const SceneLine& l) {
        json.raw((scene.has_query ? l.found : found.count(scene.text(l.id)) != 0) ? '1' : '0');
    });
    column(json, scene, "reasons", any, [&](const SceneLine& l) {
        // Every reason, in order; a line without a box always has one.
        if (l.has_box) {
            json.raw('0');
            return;
        }
        const TextRef* reasons = l.reasons.count == 0 ? &l.reason : scene.list(l.reasons);
        const size_t count = l.reasons.count == 0 ? 1 : l.reasons.count;
        if (count == 1) {  // most lines: one reason of a few
            const auto one = one_reason.try_emplace(reasons[0], 0);
            if (one.second) {
                list.assign(1, '[');
                JsonText(list).index(texts.index(reasons[0]));
                list += ']';
                one.first->second = reason_lists.index(list);
            }
            json.index(one.first->second);
            return;
        }
        list.assign(1, '[');
        for (size_t i = 0; i < count; ++i) {
            if (i != 0) {
                list += ',';
            }
            JsonText(list).index(texts.index(reasons[i]));
        }
        list += ']';
        json.index(reason_lists.index(list));
    });
    column(json, scene, "placed_by", any, [&](const SceneLine& l) { text(l.placed_by); });
    if (scene.has_query) {
        column(json, scene, "tests", any, [&](const SceneLine& l) {
            json.raw('[');
            if (l.why != 0) {
                words.add(json, scene, l.why);
            } else {
                for (size_t i = 0; i < l.tests.count; ++i) {
                    if (i != 0) {
                        json.raw(',');
                    }
                    words.add(json, scene.text(scene.list(l.tests)[i]));
                }
            }
            json.raw(']');
        });
    }
    const auto triple = [&](const Vec3& v) {
        numbers.write(json, v[0]);
        numbers.write(json.raw(','), v[1]);
        numbers.write(json.raw(','), v[2]);
    };
    column(json, scene, "centre", boxed, [&](const SceneLine& l) { triple(scene.search_box(l).centre); });
    column(json, scene, "half_extents", boxed, [&](const SceneLine& l) { triple(scene.search_box(l).half); });
    column(json, scene, "axes", boxed, [&](const SceneLine& l) {
        const uint32_t of_scene = scene.search_box(l).axes;
        size_t& index = axes_index[of_scene];
        if (index == SIZE_MAX) {
            index = axes.index(scene.axes[of_scene]);
        }
        json.index(index);
    });
    column(json, scene, "box_dataset", boxed,
           [&](const SceneLine& l) { text(l.box_datasets.count == 0 ? 0 : scene.list(l.box_datasets)[0]); });
    column(json, scene, "source", boxed, [&](const SceneLine& l) { words.add(json, scene, l.box_from); });

    json.raw(",\"axes_table\":[");
    for (size_t i = 0; i < axes.keys().size(); ++i) {
        json.raw(i == 0 ? "" : ",").raw(axes.keys()[i]);
        json.piece_done();
    }
    json.raw("],\"reason_lists\":[");
    for (size_t i = 0; i < reason_lists.keys().size(); ++i) {
        json.raw(i == 0 ? "" : ",").raw(reason_lists.keys()[i]);
        json.piece_done();
    }
    json.raw("],\"words\":");
    words.write(json);
    json.raw(",\"texts\":[");
    for (size_t i = 0; i < texts.keys().size(); ++i) {
        json.raw(i == 0 ? "" : ",").string(texts.keys()[i]);
        json.piece_done();
    }
    json.raw("]}");
    out.write(held.data(), static_cast<std::streamsize>(held.size()));
}

void write_page(std::ostream& out, const SearchPanel& panel) {
    for (const char* const* piece = kPageBefore; *piece != nullptr; ++piece) {
        out << *piece;
    }
    out << "<script type=\"application/json\" id=\"kep-scene\">";
    write_scene(out, panel);
    out << "</script>";
    for (const char* const* piece = kPageAfter; *piece != nullptr; ++piece) {
        out << *piece;
    }
}

void require_writable_html(const std::string& command, const std::string& path) {
    // Opened for appending, which neither truncates nor changes a file that is there.
    std::ofstream probe(path, std::ios::binary | std::ios::app);
    if (!probe) {
        throw UsageError(command + ": --html: cannot write '" + path + "': " + std::strerror(errno));
    }
}

bool write_page_file(const std::string& path, const SearchPanel& panel, std::string* error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    write_page(out, panel);
    out.close();
    if (!out) {
        *error = "cannot write '" + path + "'";
        return false;
    }
    return true;
}

}  // namespace kep_host
