// The shared test fixture and the export reader (see kep_fixture.h).
#include "kep_fixture.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

#include "kep_posix.h"

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

const std::string& generated_site(const std::string& options) {
    static std::map<std::string, std::string> sites;
    std::string& text = sites[options];
    if (text.empty()) {
        std::string program = std::string(KEP_BINARY_DIR_FOR_SUPPORT) + "/bin/kep-host";
#if defined(_WIN32)
        std::replace(program.begin(), program.end(), '/', '\\');  // for the command interpreter
#endif
#if defined(KEP_TEST_EMULATOR)
        program = KEP_TEST_EMULATOR " " + program;
#endif
        const std::string command = program + " generate " + options;
        FILE* pipe = popen(command.c_str(), "r");
        char chunk[65536];
        size_t n = 0;
        while (pipe != nullptr && (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
            text.append(chunk, n);
        }
        EXPECT_TRUE(pipe != nullptr && pclose(pipe) == 0) << command;
    }
    return text;
}

void KepFixture::expect_clean(int level) {
    EXPECT_EQ(kep_support_indent_level(), level) << "indentation not back";
    EXPECT_EQ(standin::live_blocks(), 0) << "MEM_alloc blocks left live";
    EXPECT_EQ(standin::misuse_count(), 0) << "MEM_free of a pointer that is not a live block";
}

#if defined(_WIN32)

namespace {

// Little-endian fields of a PE image.
uint32_t read_u32(const std::string& image, size_t at) {
    if (at + 4 > image.size()) {
        return 0;
    }
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(image[at + static_cast<size_t>(i)]);
    }
    return value;
}

uint32_t read_u16(const std::string& image, size_t at) {
    return at + 2 > image.size() ? 0u
                                 : static_cast<uint32_t>(static_cast<unsigned char>(image[at]) |
                                                         (static_cast<unsigned char>(image[at + 1]) << 8));
}

}  // namespace

// The names of the DLL's export table, read from the file (no tool of the build machine runs
// under Windows).
std::set<std::string> exported_symbols(const std::string& library_path) {
    std::set<std::string> names;
    std::ifstream in(library_path, std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t pe = read_u32(image, 0x3c);
    if (image.size() < 0x40 || read_u32(image, pe) != 0x00004550u) {  // "PE\0\0"
        return names;
    }
    const size_t coff = pe + 4;
    const uint32_t sections = read_u16(image, coff + 2);
    const size_t optional = coff + 20;
    const uint32_t optional_size = read_u16(image, coff + 16);
    if (read_u16(image, optional) != 0x20b) {  // PE32+
        return names;
    }
    const uint32_t export_rva = read_u32(image, optional + 112);
    const size_t section_table = optional + optional_size;
    // Where an address of the loaded image lies in the file.
    auto file_offset = [&](uint32_t rva) -> size_t {
        for (uint32_t i = 0; i < sections; ++i) {
            const size_t header = section_table + 40 * i;
            const uint32_t address = read_u32(image, header + 12);
            const uint32_t size = read_u32(image, header + 8);
            if (rva >= address && rva < address + size) {
                return rva - address + read_u32(image, header + 20);
            }
        }
        return image.size();
    };
    if (export_rva == 0) {
        return names;
    }
    const size_t directory = file_offset(export_rva);
    const uint32_t count = read_u32(image, directory + 24);
    const size_t name_table = file_offset(read_u32(image, directory + 32));
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = file_offset(read_u32(image, name_table + 4 * i));
        if (at < image.size()) {
            names.insert(std::string(image.c_str() + at));
        }
    }
    return names;
}

#else

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

#endif

}  // namespace kep_test
