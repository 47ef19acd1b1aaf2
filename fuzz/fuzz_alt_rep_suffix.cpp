// libFuzzer target: the representation suffix of a dataset name (kep_alt_rep_suffix).
#include <cstdio>
#include <cstdlib>

#include "kep_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (const char* finding = kep_fuzz::alt_rep_suffix(data, size)) {
        std::fprintf(stderr, "fuzz_alt_rep_suffix: %s\n", finding);
        std::abort();
    }
    return 0;
}
