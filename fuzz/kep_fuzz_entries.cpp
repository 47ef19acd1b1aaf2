// The fuzz entries (see kep_fuzz.h). Built twice: into the libFuzzer targets (clang, fuzz/) and
// into the corpus replay of the ordinary test run (tests/hostile).
#include <base_utils/Mem.h>
#include <kep_support_internal.h>
#include <standin/control.h>
#include <tc/emh.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "geometry/kep_geometry.h"
#include "kep_fuzz.h"
#include "modon/kep_modon.h"
#include "registration/kep_registration.h"
#include "sweep_site.h"

namespace kep_fuzz {
namespace {

// What every entry leaves as it found it: MEM_alloc blocks, misused frees, indentation.
struct Balance {
    int blocks = standin::live_blocks();
    long misuse = standin::misuse_count();
    int level = kep_support_indent_level();

    const char* check() const {
        if (standin::live_blocks() != blocks) {
            return "MEM_alloc blocks leaked";
        }
        if (standin::misuse_count() != misuse) {
            return "MEM_free of a pointer that is not a live block";
        }
        if (kep_support_indent_level() != level) {
            return "indentation not back";
        }
        return nullptr;
    }
};

// The call log and the error stack grow with every call; an input must not depend on what the
// ones before it left.
void forget_history() {
    standin::reset_counters();
    EMH_clear_errors();
    standin::reset_counters();
}

bool is_c_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// [+-]digits[.digits][(e|E)[+-]digits]: numbers every reader of the text form must agree on.
bool is_plain_number(const std::string& token) {
    size_t i = 0;
    auto digits = [&] {
        const size_t start = i;
        while (i < token.size() && token[i] >= '0' && token[i] <= '9') {
            ++i;
        }
        return i > start;
    };
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
        ++i;
    }
    if (!digits()) {
        return false;
    }
    if (i < token.size() && token[i] == '.') {
        ++i;
        if (!digits()) {
            return false;
        }
    }
    if (i < token.size() && (token[i] == 'e' || token[i] == 'E')) {
        ++i;
        if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
            ++i;
        }
        if (!digits()) {
            return false;
        }
    }
    return i == token.size();
}

// The programs that run the entries never install other numeric conventions than "C".
double plain_value(const std::string& token) { return std::strtod(token.c_str(), nullptr); }

bool same_bits(double a, double b) {
    uint64_t x = 0;
    uint64_t y = 0;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

// For the text form written back, which keeps 16 significant digits.
bool same_value(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) {
        return std::isnan(a) && std::isnan(b);
    }
    if (a == b) {
        return true;
    }
    // The text form keeps 16 significant digits: not always bit for bit.
    return std::fabs(a - b) <= 1e-15 * std::fmax(std::fabs(a), std::fabs(b));
}

bool is_identity(const kep_matrix_t& m) {
    for (int i = 0; i < 16; ++i) {
        if (m.m[i] != ((i % 5 == 0) ? 1.0 : 0.0)) {
            return false;
        }
    }
    return true;
}

// The site the services run over: loaded, line properties and services registered, once and
// again whenever another entry replaced the site.
void ensure_service_site() {
    if (standin::registered_services().size() == 2 && standin::tag_of("leafp") != NULLTAG) {
        return;
    }
    std::string error;
    if (!standin::load_site(sweep_test::sweep_site_post_actions(), "fuzz services site", &error)) {
        std::abort();  // the fixed site is part of this program
    }
    if (kep_register_object_methods() != 0 || kep_register_userservice_methods() != 0) {
        std::abort();
    }
    forget_history();
}

// Reads the service input: bytes in order, zeros once they run out.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v = (v << 8) | byte();
        }
        return v;
    }
    double f64() {
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) {
            bits = (bits << 8) | byte();
        }
        double v = 0.0;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Ids the service inputs name by their position here (the tags themselves depend on the load
// order): the window, its lines, and objects of every other kind.
const char* const kNamedIds[] = {"w1",   "top",     "sub",    "mid",   "leaf",    "leafp",
                                 "bare", "ds_part", "mo_mid", "asm/A", "bb_part", "fi_mo_mid"};
const int kNamedCount = static_cast<int>(sizeof kNamedIds / sizeof kNamedIds[0]);

// A tag: one byte below kNamedCount names an id of the list above; below 200, any tag of the
// site in tag order; from 200 on, four more bytes give any value at all.
tag_t pick_tag(Input& in, const std::vector<std::pair<std::string, tag_t>>& all) {
    const int b = in.byte();
    if (b < kNamedCount) {
        return standin::tag_of(kNamedIds[b]);
    }
    if (b < 200) {
        return all.empty() ? NULLTAG : all[static_cast<size_t>(b - kNamedCount) % all.size()].second;
    }
    return static_cast<tag_t>(in.u32());
}

}  // namespace

const char* matrix_text(const uint8_t* data, size_t size) {
    const Balance balance;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* c_text = text.c_str();  // stops at an embedded zero, as the reader does

    // Where the text holds only plain numbers, the values are known.
    std::vector<std::string> tokens;
    std::string token;
    for (const char* p = c_text;; ++p) {
        if (*p == '\0' || is_c_space(*p)) {
            if (!token.empty()) {
                tokens.push_back(token);
                token.clear();
            }
            if (*p == '\0') {
                break;
            }
        } else {
            token += *p;
        }
    }
    bool plain = true;
    for (size_t i = 0; i < tokens.size() && i < 16; ++i) {
        plain = plain && is_plain_number(tokens[i]);
    }

    // Read in each rounding mode (the platform's server may change it), bit for bit as the C
    // library's scanner reads each number in that mode. The last mode read is round to nearest.
    kep_matrix_t m;
    for (const int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO, FE_TONEAREST}) {
        std::fesetround(mode);
        std::memset(&m, 0xA5, sizeof m);
        kep_matrix_from_string(c_text, &m);
        double expected[16] = {};
        // A number beyond the range of a double reads as infinite: such a text is unreadable.
        bool finite = true;
        for (size_t i = 0; plain && i < tokens.size() && i < 16; ++i) {
            expected[i] = plain_value(tokens[i]);
            finite = finite && std::isfinite(expected[i]);
        }
        std::fesetround(FE_TONEAREST);
        for (int i = 0; i < 16; ++i) {
            if (!std::isfinite(m.m[i])) {
                return "a number that is not finite was read";
            }
        }
        if (!plain) {
            continue;
        }
        if (tokens.size() < 16) {
            if (!is_identity(m)) {
                return "fewer than 16 numbers did not give the identity";
            }
        } else if (!finite) {
            if (!is_identity(m)) {
                return "a number beyond the range of a double did not give the identity";
            }
        } else {
            for (int c = 0; c < 4; ++c) {
                for (int r = 0; r < 4; ++r) {
                    if (!same_bits(m.m[4 * r + c], expected[4 * c + r])) {
                        return "a plain number was read other than the scanner reads it, or into the wrong "
                               "place";
                    }
                }
            }
        }
    }

    // Whatever was read, its text form reads back to the same matrix.
    char* written = nullptr;
    kep_matrix_to_string(&m, &written);
    if (written == nullptr) {
        return "no text written";
    }
    kep_matrix_t again;
    std::memset(&again, 0x5A, sizeof again);
    kep_matrix_from_string(written, &again);
    MEM_free(written);
    for (int i = 0; i < 16; ++i) {
        if (!same_value(m.m[i], again.m[i])) {
            return "the written text does not read back to the same matrix";
        }
    }
    return balance.check();
}

const char* alt_rep_suffix(const uint8_t* data, size_t size) {
    const std::string raw(reinterpret_cast<const char*>(data), size);
    const char* name = raw.c_str();
    size_t offset = 12345;
    size_t length = 54321;
    const int has = kep_alt_rep_suffix(name, &offset, &length);

    // The rule restated: the part before the last "/", then the text after its last ".".
    const std::string whole(name);
    const size_t slash = whole.rfind('/');
    const std::string stem = slash == std::string::npos ? whole : whole.substr(0, slash);
    const size_t dot = stem.rfind('.');
    if (dot == std::string::npos) {
        if (has != 0 || offset != 0 || length != 0) {
            return "a suffix for a name without a dot before its last slash";
        }
    } else if (has != 1 || offset != dot + 1 || length != stem.size() - dot - 1) {
        return "the suffix is not the text after the last dot before the last slash";
    }
    if (kep_alt_rep_suffix(nullptr, &offset, &length) != 0 || offset != 0 || length != 0) {
        return "a suffix for a null name";
    }
    return nullptr;
}

const char* site_loader(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const char* finding = nullptr;
    if (standin::load_site(text, "fuzz.json", &error)) {
        // Every id names its tag and back.
        for (const auto& entry : standin::all_ids()) {
            if (standin::tag_of(entry.first) != entry.second || standin::id_of(entry.second) != entry.first) {
                finding = "an id and its tag do not name each other";
                break;
            }
        }
        if (standin::live_blocks() != 0) {
            finding = "a fresh site has live blocks";
        }
    } else if (error.empty() || error.find('\n') != std::string::npos ||
               error.compare(0, 9, "fuzz.json") != 0) {
        finding = "a refused site without one line that names the file";
    } else if (error.size() > 2000) {
        finding = "a refusal line longer than 2,000 bytes";
    } else if (!standin::all_ids().empty()) {
        finding = "a refused site left objects behind";
    }
    standin::reset();
    return finding;
}

const char* services(const uint8_t* data, size_t size) {
    ensure_service_site();
    forget_history();
    const Balance balance;

    const std::vector<std::pair<std::string, tag_t>> all = standin::all_ids();
    Input in(data, size);
    const char* name =
        (in.byte() & 1) == 0 ? "kep_userservice_volume_search" : "kep_userservice_neighbourhood_search";
    std::vector<standin::UserArg> args;
    const int count = in.byte() % 6;
    for (int i = 0; i < count; ++i) {
        standin::UserArg arg{standin::UserArg::Tag};
        switch (in.byte() % 4) {
            case 0:
                arg.kind = standin::UserArg::Tag;
                arg.tag = pick_tag(in, all);
                break;
            case 1:
                arg.kind = standin::UserArg::Double;
                arg.value = in.f64();
                break;
            case 2: {
                arg.kind = standin::UserArg::DoubleArray;
                const int n = in.byte() % 9;
                for (int j = 0; j < n; ++j) {
                    arg.doubles.push_back(in.f64());
                }
                break;
            }
            default: {
                arg.kind = standin::UserArg::TagArray;
                const int n = in.byte() % 9;
                for (int j = 0; j < n; ++j) {
                    arg.tags.push_back(pick_tag(in, all));
                }
                break;
            }
        }
        args.push_back(arg);
    }

    std::vector<tag_t> returned;
    bool handed_back = false;
    standin::call_service(name, args, &returned, &handed_back);

    if (!handed_back && !returned.empty()) {
        return "tags came back without a hand-over";
    }
    const std::set<tag_t> lines = {standin::tag_of("top"),   standin::tag_of("sub"),
                                   standin::tag_of("mid"),   standin::tag_of("leaf"),
                                   standin::tag_of("leafp"), standin::tag_of("bare")};
    std::set<tag_t> seen;
    for (tag_t t : returned) {
        if (lines.count(t) == 0) {
            return "a tag handed back that is no line of the window";
        }
        if (!seen.insert(t).second) {
            return "a line handed back twice";
        }
    }
    return balance.check();
}

Entry entry_named(const char* name) {
    const struct {
        const char* name;
        Entry entry;
    } entries[] = {{"matrix_text", matrix_text},
                   {"alt_rep_suffix", alt_rep_suffix},
                   {"site_loader", site_loader},
                   {"services", services}};
    for (const auto& e : entries) {
        if (std::strcmp(e.name, name) == 0) {
            return e.entry;
        }
    }
    return nullptr;
}

}  // namespace kep_fuzz
