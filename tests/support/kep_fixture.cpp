// The shared test fixture and the export reader (see kep_fixture.h).
#include "kep_fixture.h"

#include <cstdio>
#include <cstdlib>

namespace kep_test {

namespace {

const char* const kSwitchVariables[] = {"ZODORE_DEBUG", "ZODORE_SYSLOG", "ZODORE_ITKLOG"};

}  // namespace

void KepFixture::SetUp() {
    standin::reset();
    standin::set_call_log(true);
    kep_support_reset_state();
    for (const char* name : kSwitchVariables) {
        ::unsetenv(name);
        standin::set_env(name, nullptr);
    }
}

void KepFixture::TearDown() {
    if (capturing_stderr_) {
        ::testing::internal::GetCapturedStderr();
        capturing_stderr_ = false;
    }
    if (capturing_stdout_) {
        ::testing::internal::GetCapturedStdout();
        capturing_stdout_ = false;
    }
    kep_support_reset_state();
}

void KepFixture::set_switches(const char* debug, const char* syslog, const char* itklog) {
    standin::set_env(kSwitchVariables[0], debug);
    standin::set_env(kSwitchVariables[1], syslog);
    standin::set_env(kSwitchVariables[2], itklog);
}

void KepFixture::load_site(const std::string& json) {
    std::string error;
    ASSERT_TRUE(standin::load_site(json, "test site", &error)) << error;
}

std::string KepFixture::capture_console(const std::function<void()>& fn) {
    ::testing::internal::CaptureStderr();
    capturing_stderr_ = true;
    fn();
    capturing_stderr_ = false;
    return ::testing::internal::GetCapturedStderr();
}

std::string KepFixture::capture_stdout(const std::function<void()>& fn) {
    ::testing::internal::CaptureStdout();
    capturing_stdout_ = true;
    fn();
    capturing_stdout_ = false;
    return ::testing::internal::GetCapturedStdout();
}

void KepFixture::expect_clean(int level) {
    EXPECT_EQ(kep_support_indent_level(), level) << "indentation not back";
    EXPECT_EQ(standin::live_blocks(), 0) << "MEM_alloc blocks left live";
    EXPECT_EQ(standin::misuse_count(), 0) << "MEM_free of a pointer that is not a live block";
}

std::set<std::string> exported_symbols(const std::string& library_path) {
    std::set<std::string> names;
    const std::string command = "nm -D --defined-only '" + library_path + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return names;
    }
    char line[4096];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        // "<address> <kind> <name>", the name last.
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        const size_t blank = text.rfind(' ');
        const std::string name = blank == std::string::npos ? text : text.substr(blank + 1);
        if (name.empty() || name.compare(0, 2, "__") == 0 || name == "_init" || name == "_fini" ||
            name == "_edata" || name == "_end") {
            continue;
        }
        // A versioned name ("name@@VERSION") counts under its plain name.
        names.insert(name.substr(0, name.find('@')));
    }
    ::pclose(pipe);
    return names;
}

}  // namespace kep_test
