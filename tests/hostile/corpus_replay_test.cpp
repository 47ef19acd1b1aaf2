// Every file of the checked-in fuzz corpora (fuzz/corpus/<target>/) through its fuzz entry, so
// that the inputs the fuzzers found interesting, and the regressions of what they found, run in
// every test run without the fuzzer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kep_fixture.h"
#include "kep_fuzz.h"

namespace {

namespace fs = std::filesystem;

class CorpusReplay : public kep_test::KepFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(CorpusReplay, EveryInputHoldsUp) {
    const fs::path folder = fs::path(KEP_FUZZ_CORPUS_DIR) / GetParam();
    const kep_fuzz::Entry entry = kep_fuzz::entry_named(GetParam());
    ASSERT_NE(entry, nullptr);
    ASSERT_TRUE(fs::is_directory(folder)) << folder;

    std::vector<fs::path> files;
    for (const fs::directory_entry& e : fs::directory_iterator(folder)) {
        if (e.is_regular_file()) {
            files.push_back(e.path());
        }
    }
    std::sort(files.begin(), files.end());
    EXPECT_FALSE(files.empty()) << "no seeds in " << folder;
    for (const fs::path& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const char* finding = entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        EXPECT_EQ(finding, nullptr) << file.filename() << ": " << (finding != nullptr ? finding : "");
    }
}

INSTANTIATE_TEST_SUITE_P(Fuzz, CorpusReplay,
                         ::testing::Values("matrix_text", "alt_rep_suffix", "site_loader", "services"),
                         [](const ::testing::TestParamInfo<const char*>& p) { return std::string(p.param); });

}  // namespace
