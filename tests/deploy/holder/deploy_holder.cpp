// A process that holds the extension library loaded across an update, as a server process does:
//   deploy_holder <library> <ready file> <go file>
// loads <library> (through whatever links name it), calls its entry point, writes the real path
// of the file it loaded into <ready file>, waits until <go file> exists (the update is done), and
// calls the entry point again: the library's code runs after the update (the second registration
// of the same exits is refused, with a status). Exit status 0 when the first call returned 0 and
// the process is still there after the second; the results go to standard error.
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: deploy_holder <library> <ready file> <go file>\n");
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "deploy_holder: %s\n", dlerror());
        return 2;
    }
    auto entry = reinterpret_cast<int (*)()>(dlsym(library, "kep_register_callbacks"));
    char real[PATH_MAX];
    Dl_info info;
    if (entry == nullptr || dladdr(reinterpret_cast<void*>(entry), &info) == 0 ||
        realpath(info.dli_fname, real) == nullptr) {
        std::fprintf(stderr, "deploy_holder: no entry point in %s\n", argv[1]);
        return 2;
    }
    const int before = entry();
    std::ofstream(argv[2]) << real << '\n';
    for (int i = 0; i < 6000 && access(argv[3], F_OK) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const int after = entry();
    std::fprintf(stderr, "deploy_holder: %s: entry point returned %d before the update and %d after\n", real,
                 before, after);
    return before == 0 && access(argv[3], F_OK) == 0 ? 0 : 1;
}
