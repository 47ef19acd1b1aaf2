// Shared fixtures of the tests.
#include "kep_test_support.h"

#include <fstream>
#include <sstream>

namespace kep_test {

std::string source_file(const std::string& relative_path) {
    std::ifstream in(std::string(KEP_SOURCE_DIR_FOR_SUPPORT) + "/" + relative_path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace kep_test
