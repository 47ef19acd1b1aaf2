// The extension library exports what its export list names (its entry point and the explanation
// of one line), nothing else, whatever visibility it was compiled with.
#include "kep_exports.h"

#include <gtest/gtest.h>
#include <standin/library.h>

#include "kep_fixture.h"

TEST(KepExports, ExactlyTheList) {
    kep_test::expect_exports_as_listed("kep",
                                       kep_test::exported_symbols(std::string(KEP_BINARY_DIR) + "/bin/" +
                                                                  standin::library_file_name("kep")));
}
