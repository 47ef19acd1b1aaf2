// The dynamic symbols of libkep_support.so (kep_support.dll) are exactly the promised interface:
// the logging and dump operations and, outside Windows, the switch readers, the emitter and the
// ident lines; no test hook leaks.
#include <gtest/gtest.h>
#include <standin/library.h>

#include <set>
#include <string>

#include "kep_fixture.h"

TEST(KepSupportExports, ExactlyThePromisedSymbols) {
    const std::set<std::string> expected = {
        "kep_start",
        "kep_end",
        "kep_log",
        "kep_log_to",
        "kep_log_itkexe",
        "kep_indent",
        "kep_outdent",
        "kep_logging_on",
        "kep_log_error_stack",
        "kep_print_properties",
        "kep_list_properties_with_value",
#if !defined(_WIN32)  // internal in the Windows build
        "kep_get_log_console_on",
        "kep_get_log_syslog_on",
        "kep_get_log_itkexe_on",
        "kep_log_impl",
        "gvModule",
        "gvVersion",
        "gvBuild",
#endif
    };
    EXPECT_EQ(kep_test::exported_symbols(std::string(KEP_BINARY_DIR) + "/bin/" +
                                         standin::library_file_name("kep_support")),
              expected);
}
