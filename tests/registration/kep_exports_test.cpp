// The extension library exports its entry point and the explanation of one line, nothing else.
#include <gtest/gtest.h>
#include <standin/library.h>

#include <set>
#include <string>

#include "kep_fixture.h"

TEST(KepExports, OnlyTheEntryPointAndTheExplanation) {
    const std::set<std::string> expected = {"kep_register_callbacks", "kep_explain_line"};
    EXPECT_EQ(
        kep_test::exported_symbols(std::string(KEP_BINARY_DIR) + "/bin/" + standin::library_file_name("kep")),
        expected);
}
