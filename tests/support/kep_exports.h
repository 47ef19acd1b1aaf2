// The export list of a library (cmake/exports/<library>.exports) and the linker files the build
// makes from it (<build>/exports/), for the export tests: the built library exports exactly the
// list, and each system's linker file names exactly the list.
#ifndef KEP_EXPORTS_H
#define KEP_EXPORTS_H

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace kep_test {

// The names of the list; `windows`: without those marked "unix".
inline std::set<std::string> listed_exports(const std::string& library, bool windows) {
    std::ifstream in(std::string(KEP_SOURCE_DIR) + "/cmake/exports/" + library + ".exports");
    std::set<std::string> names;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string name;
        std::string mark;
        if (!(words >> name) || name[0] == '#') {
            continue;
        }
        words >> mark;
        if (!windows || mark != "unix") {
            names.insert(name);
        }
    }
    return names;
}

// The names between "global:" and "local:" of a version script or mapfile, which must then make
// every other name local; or the names after EXPORTS of a module-definition file.
inline std::set<std::string> linker_file_names(const std::string& path) {
    std::ifstream in(path);
    std::set<std::string> names;
    std::string word;
    enum { Before, Global, Local, Exports } part = Before;
    bool rest_local = false;
    while (in >> word) {
        if (word == "global:") {
            part = Global;
        } else if (word == "local:") {
            part = Local;
        } else if (word == "EXPORTS") {
            part = Exports;
        } else if (part == Global && word.back() == ';') {
            names.insert(word.substr(0, word.size() - 1));
        } else if (part == Local) {
            rest_local = rest_local || word == "*;";
        } else if (part == Exports) {
            names.insert(word);
        }
    }
    EXPECT_TRUE(part == Exports || rest_local) << path << " does not make the other names local";
    return names;
}

// The built library exports exactly its list (on Windows without the Unix names), and the
// linker files of the three kinds of system name what their systems export.
inline void expect_exports_as_listed(const std::string& library, const std::set<std::string>& exported) {
#if defined(_WIN32)
    const bool windows = true;
#else
    const bool windows = false;
#endif
    EXPECT_EQ(exported, listed_exports(library, windows));
    const std::string base = std::string(KEP_BINARY_DIR) + "/exports/" + library;
    EXPECT_EQ(linker_file_names(base + ".map"), listed_exports(library, false));
    EXPECT_EQ(linker_file_names(base + ".mapfile"), listed_exports(library, false));
    EXPECT_EQ(linker_file_names(base + ".def"), listed_exports(library, true));
}

}  // namespace kep_test

#endif
