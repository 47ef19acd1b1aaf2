// The dynamic symbols of libkep_support.so (kep_support.dll) are exactly those of its export list:
// the logging and dump operations and, outside Windows, the switch readers, the emitter and the
// ident lines; no test hook and no internal function leaks, whatever visibility it was compiled
// with.
#include <gtest/gtest.h>
#include <standin/library.h>

#include "kep_exports.h"
#include "kep_fixture.h"

TEST(KepSupportExports, ExactlyTheList) {
    kep_test::expect_exports_as_listed("kep_support",
                                       kep_test::exported_symbols(std::string(KEP_BINARY_DIR) + "/bin/" +
                                                                  standin::library_file_name("kep_support")));
}
