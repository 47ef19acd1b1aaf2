// A temporary directory of the program's own, for the tests and benchmarks that write files: made
// fresh under the system's temporary folder at first use, removed with everything in it when the
// program ends, so that programs running side by side never meet in one path.
#ifndef KEP_TEMP_DIR_H
#define KEP_TEMP_DIR_H

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "kep_posix.h"

namespace kep_test {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kep_XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr) {
            throw std::runtime_error("cannot make a temporary directory from " + pattern);
        }
        path_ = buffer.data();
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The program's temporary directory.
inline const std::string& temp_dir() {
    static const TempDir dir;
    return dir.path();
}

// A path in the program's temporary directory that no other call gives: `name` after a running
// number. Nothing is made there.
inline std::string temp_path(const std::string& name) {
    static int serial = 0;
    return (std::filesystem::path(temp_dir()) / (std::to_string(++serial) + "_" + name)).string();
}

}  // namespace kep_test

#endif
