// Sites and trace readers shared by the representation filter and mod-on host tests.
#ifndef MODON_SITE_H
#define MODON_SITE_H

#include <kep_fixture.h>

#include <sstream>
#include <string>
#include <vector>

#include "modon/kep_modon.h"

namespace modon_test {

using Strings = std::vector<std::string>;

// A JSON string literal.
inline std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

inline std::string json_list(const Strings& values) {
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i) {
        out += (i == 0 ? "" : ", ") + quoted(values[i]);
    }
    return out + "]";
}

// The lines a function writes at its own depth when called at level 0: its entry and exit lines
// (column 0) and everything written four blanks deep (its messages, its statement trace, the entry
// and exit lines of what it calls). What the called functions write inside is left out.
inline std::string own_lines(const std::string& console) {
    std::istringstream in(console);
    std::string line;
    std::string out;
    while (std::getline(in, line)) {
        const bool top = !line.empty() && line[0] != ' ';
        const bool own = line.size() > 4 && line.compare(0, 4, "    ") == 0 && line[4] != ' ';
        if (top || own) {
            out += line + "\n";
        }
    }
    return out;
}

// Where the first failure block of a run stands: its statement and the function that made the call.
struct FirstFailure {
    std::string statement;
    std::string function;
};
inline FirstFailure first_failure(const std::string& console) {
    std::istringstream in(console);
    std::string line;
    std::vector<std::string> open;
    auto strip = [](const std::string& s) { return s.substr(std::min(s.find_first_not_of(' '), s.size())); };
    while (std::getline(in, line)) {
        const std::string text = strip(line);
        if (text.compare(0, 4, ">>> ") == 0) {
            open.push_back(text.substr(4));
        } else if (text.compare(0, 4, "<<< ") == 0 && !open.empty()) {
            open.pop_back();
        } else if (text == "ERROR while processing following statement") {
            std::getline(in, line);
            return {strip(line), open.empty() ? "" : open.back()};
        }
    }
    return {};
}

}  // namespace modon_test

#endif
