// Logs a small call tree through kep_support and prints the library's version ident.
#include <kep_support.h>

#include <cstdio>

int main() {
    kep_start("consumer %s\n", "start");
    kep_log("inside, %d%% sure\n", 100);
    kep_end("consumer end\n");
    std::printf("%s\n", gvVersion);
    return kep_logging_on() ? 0 : 1;
}
