// libFuzzer target: the matrix text reader (kep_matrix_from_string) and the text form written back.
#include <cstdio>
#include <cstdlib>

#include "kep_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (const char* finding = kep_fuzz::matrix_text(data, size)) {
        std::fprintf(stderr, "fuzz_matrix_text: %s\n", finding);
        std::abort();
    }
    return 0;
}
