// Shared fixtures of the tests: a clean stand-in and diagnostics state per test, console and
// system-log capture, and the fault sweep over an entry point.
#ifndef KEP_TEST_SUPPORT_H
#define KEP_TEST_SUPPORT_H

#include <string>

namespace kep_test {

// Text of a file under the source tree (for example "examples/sites/small.json").
std::string source_file(const std::string& relative_path);

}  // namespace kep_test

#endif
