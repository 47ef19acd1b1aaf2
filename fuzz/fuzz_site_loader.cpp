// libFuzzer target: the stand-in's site file loader (standin::load_site).
#include <cstdio>
#include <cstdlib>

#include "kep_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (const char* finding = kep_fuzz::site_loader(data, size)) {
        std::fprintf(stderr, "fuzz_site_loader: %s\n", finding);
        std::abort();
    }
    return 0;
}
