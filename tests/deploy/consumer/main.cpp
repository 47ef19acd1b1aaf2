// Logs a small call tree through kep_support and prints the library's version ident (the Windows
// build has none: it prints the library's file name instead).
#include <kep_support.h>

#include <cstdio>

int main() {
    kep_start("consumer %s\n", "start");
    kep_log("inside, %d%% sure\n", 100);
    kep_end("consumer end\n");
#if defined(_WIN32)
    std::printf("%s\n", "kep_support.dll");
#else
    std::printf("%s\n", gvVersion);
#endif
    return kep_logging_on() ? 0 : 1;
}
