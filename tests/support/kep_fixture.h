// A GoogleTest fixture for tests that run code of kep or kep_support on the stand-in. The fault
// sweep over an entry point (kep_sweep.h) comes with it.
//
// KepFixture starts every test from the state of a freshly started process: an empty stand-in
// (standin::reset), the diagnostics library's switches forgotten and its indentation level at 0,
// and the three switch variables ZODORE_DEBUG, ZODORE_SYSLOG and ZODORE_ITKLOG unset, both in the
// stand-in's overrides and in the process environment. A test turns the switches on with
// set_switches() before its first message (they are read once, at first need).
//
//   class MyTest : public kep_test::KepFixture {};
//   TEST_F(MyTest, Something) {
//       load_site(R"({"objects": {...}})");
//       set_switches("ON", "ON", "ON");
//       const std::string console = capture_console([&] { status = kep_something(...); });
//       EXPECT_EQ(console, "...");
//       EXPECT_EQ(syslog(), "...");
//       expect_clean();
//   }
#ifndef KEP_FIXTURE_H
#define KEP_FIXTURE_H

#include <gtest/gtest.h>
#include <standin/control.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "kep_support_internal.h"
#include "kep_sweep.h"

namespace kep_test {

class KepFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Values of ZODORE_DEBUG, ZODORE_SYSLOG and ZODORE_ITKLOG as TC_getenv sees them; null
    // unsets. Takes effect only for switches not yet read.
    static void set_switches(const char* debug, const char* syslog, const char* itklog);
    // All three switches "ON": console, system log and statement trace.
    static void all_switches_on() { set_switches("ON", "ON", "ON"); }

    // Loads a site from JSON text; a refused site fails the test (fatal in the caller's scope
    // only through ASSERT_NO_FATAL_FAILURE).
    static void load_site(const std::string& json);

    // Captures the standard error stream while fn runs and returns what was written to it.
    std::string capture_console(const std::function<void()>& fn);
    // Captures standard output while fn runs and returns what was written to it.
    std::string capture_stdout(const std::function<void()>& fn);
    // Everything handed to TC_write_syslog so far, concatenated.
    static std::string syslog() { return standin::syslog(); }

    // After an entry point: indentation level back at `level`, no MEM_alloc block live, no
    // misuse of MEM_free.
    static void expect_clean(int level = 0);

private:
    bool capturing_stderr_ = false;
    bool capturing_stdout_ = false;
};

// Defined dynamic symbols of a shared library (nm -D --defined-only), leaving out the names the
// toolchain adds on its own (those starting with "__", and _init, _fini, _edata, _end). An empty
// set when the library cannot be read.
std::set<std::string> exported_symbols(const std::string& library_path);

// What the build's `kep-host generate OPTIONS` prints (under a cross build's emulator), kept per
// option set for the length of the test program.
const std::string& generated_site(const std::string& options);

}  // namespace kep_test

#endif
