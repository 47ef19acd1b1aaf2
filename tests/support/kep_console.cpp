// Readers of the console text and small builders of site text shared by the tests.
#include "kep_console.h"

#include <algorithm>
#include <cstdarg>
#include <sstream>

namespace kep_test {

std::string strip(const std::string& text) {
    return text.substr(std::min(text.find_first_not_of(' '), text.size()));
}

std::string own_lines(const std::string& console) {
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

FirstFailure first_failure(const std::string& console) {
    std::istringstream in(console);
    std::string line;
    std::vector<std::string> open;
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

int call_exit(CUSTOM_EXIT_ftn_t exit_function, int* decision, ...) {
    va_list args;
    va_start(args, decision);
    const int status = exit_function(decision, args);
    va_end(args);
    return status;
}

}  // namespace kep_test
