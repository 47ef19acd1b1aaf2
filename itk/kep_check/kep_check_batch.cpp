// The preflight as a batch program (kep_check.h, run_batch): text services, login, the check or
// the explanation of one line, logout.
#if defined(KEP_REAL_PLATFORM) && !defined(IPLIB)
#define IPLIB none
#endif

#include <tc/emh.h>
#include <tc/tc_startup.h>
#include <tcinit/tcinit.h>

#include <cstring>
#include <string>

#include "kep_check.h"
#include "kep_check_explain.h"

namespace kep_check {

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

int fail(std::ostream& err, const char* step, int status) {
    const std::string why = newest_error();
    err << "kep_check: " << step << " failed with status " << status << (why.empty() ? "" : ": ") << why
        << '\n';
    return 2;
}

int log_in(int argc, char* argv[], bool own_login, std::ostream& err) {
    const char* user = own_login ? option(argc, argv, "-u=") : nullptr;
    if (user != nullptr) {
        const char* password = option(argc, argv, "-p=");
        const char* group = option(argc, argv, "-g=");
        const int status =
            ITK_init_module(user, password != nullptr ? password : "", group != nullptr ? group : "");
        return status == ITK_ok ? 0 : fail(err, "ITK_init_module", status);
    }
    const int status = ITK_auto_login();
    return status == ITK_ok ? 0 : fail(err, "ITK_auto_login", status);
}

}  // namespace

int run_batch(int argc, char* argv[], bool own_login,
              int (*explain)(tag_t, const kep_explain_query_t*, int, char**), std::ostream& out,
              std::ostream& err) {
    int status = ITK_initialize_text_services(ITK_BATCH_TEXT_MODE);
    if (status != ITK_ok) {
        return fail(err, "ITK_initialize_text_services", status);
    }
    if (log_in(argc, argv, own_login, err) != 0) {
        return 2;
    }
    int result = 0;
    if (explain != nullptr && explain_requested(argc, argv)) {
        ExplainRequest request;
        std::string error;
        if (read_explain_request(argc, argv, &request, &error)) {
            result = run_explain(request, explain, out, err);
        } else {
            err << "kep_check: " << error << '\n';
            result = 2;
        }
    } else {
        result = run_check(out);
    }
    out.flush();
    status = ITK_exit_module(true);
    if (status != ITK_ok) {
        fail(err, "ITK_exit_module", status);
    }
    return result;
}

}  // namespace kep_check
