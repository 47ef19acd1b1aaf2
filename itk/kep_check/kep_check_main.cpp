// kep_check: the preflight check as a batch utility of the platform. The platform's main (or,
// on the stand-in, its batch main) calls ITK_user_main; the utility logs in from the command
// line (-u= -p= -g=) or by the site's automatic login, writes the report on standard output and
// logs out.
//
// Exit status: 0 when everything is usable, 1 when something is missing, 2 when the utility
// could not log in (one line on standard error with the platform's reason).
//
// Built with its own main (KEP_CHECK_OWN_MAIN: the installation's batch main was not named to the
// build), the platform never sees the command line, so its automatic login cannot read -u= -p=
// -g= from it: the utility reads them itself and logs in with ITK_init_module.
#if defined(KEP_REAL_PLATFORM) && !defined(IPLIB)
#define IPLIB none
#endif

#include <tc/emh.h>
#include <tc/tc_startup.h>
#include <tcinit/tcinit.h>

#include <cstring>
#include <iostream>
#include <string>

#include "kep_check.h"

namespace {

std::string newest_error() {
    int count = 0;
    const int* severities = nullptr;
    const int* codes = nullptr;
    const char** texts = nullptr;
    std::string text;
    if (EMH_ask_errors(&count, &severities, &codes, &texts) == ITK_ok && count > 0 && texts != nullptr &&
        texts[count - 1] != nullptr) {
        text = texts[count - 1];
    }
    EMH_clear_errors();
    return text;
}

#if defined(KEP_CHECK_OWN_MAIN)
// The value of `-<key>=` on the command line, or null.
const char* option(int argc, char* argv[], const char* key) {
    const size_t n = std::strlen(key);
    for (int i = 1; i < argc; ++i) {
        if (argv[i] != nullptr && std::strncmp(argv[i], key, n) == 0) {
            return argv[i] + n;
        }
    }
    return nullptr;
}
#endif

int fail(const char* step, int status) {
    const std::string why = newest_error();
    std::cerr << "kep_check: " << step << " failed with status " << status << (why.empty() ? "" : ": ") << why
              << '\n';
    return 2;
}

}  // namespace

extern "C" int ITK_user_main(int argc, char* argv[]) {
    try {
        int status = ITK_initialize_text_services(ITK_BATCH_TEXT_MODE);
        if (status != ITK_ok) {
            return fail("ITK_initialize_text_services", status);
        }
#if defined(KEP_CHECK_OWN_MAIN)
        const char* user = option(argc, argv, "-u=");
        if (user != nullptr) {
            const char* password = option(argc, argv, "-p=");
            const char* group = option(argc, argv, "-g=");
            status =
                ITK_init_module(user, password != nullptr ? password : "", group != nullptr ? group : "");
            if (status != ITK_ok) {
                return fail("ITK_init_module", status);
            }
        } else if ((status = ITK_auto_login()) != ITK_ok) {
            return fail("ITK_auto_login", status);
        }
#else
        (void)argc;
        (void)argv;
        status = ITK_auto_login();
        if (status != ITK_ok) {
            return fail("ITK_auto_login", status);
        }
#endif
        const int result = kep_check::run_check(std::cout);
        std::cout.flush();
        status = ITK_exit_module(true);
        if (status != ITK_ok) {
            fail("ITK_exit_module", status);
        }
        return result;
    } catch (const std::exception& e) {
        std::cerr << "kep_check: " << e.what() << '\n';
        return 2;
    }
}
