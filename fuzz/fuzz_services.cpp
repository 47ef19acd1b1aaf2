// libFuzzer target: the two spatial search services, fed arbitrary arguments over a fixed site.
#include <cstdio>
#include <cstdlib>

#include "kep_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (const char* finding = kep_fuzz::services(data, size)) {
        std::fprintf(stderr, "fuzz_services: %s\n", finding);
        std::abort();
    }
    return 0;
}
