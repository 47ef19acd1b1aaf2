// The platform's main of a batch program, as the stand-in plays it (standin/batch.h): keeps the
// command line, loads the site of -site=FILE (or of the environment variable STANDIN_SITE) and
// hands over to the program's ITK_user_main, whose status becomes the exit status.
#include <standin/batch.h>
#include <standin/control.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int ITK_user_main(int argc, char* argv[]);

int main(int argc, char** argv) {
    standin::set_command_line(argc, argv);
    std::string site;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-site=", 6) == 0) {
            site = argv[i] + 6;
        }
    }
    if (site.empty() && std::getenv("STANDIN_SITE") != nullptr) {
        site = std::getenv("STANDIN_SITE");
    }
    if (site.empty()) {
        std::fprintf(stderr, "%s: no site: give -site=FILE or set STANDIN_SITE\n", argv[0]);
        return 2;
    }
    std::string error;
    if (!standin::load_site_file(site, &error)) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
        return 2;
    }
    return ITK_user_main(argc, argv);
}
