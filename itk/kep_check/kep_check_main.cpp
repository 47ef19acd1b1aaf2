// kep_check: the preflight check as a batch utility of the platform. The platform's main (or,
// on the stand-in, its batch main) calls ITK_user_main; the utility logs in from the command
// line (-u= -p= -g=) or by the site's automatic login, writes the report on standard output and
// logs out (kep_check::run_batch, which `kep-host check` runs too).
//
// With -explain it explains one line of a structure instead (kep_check_explain.h); with -version
// it writes its own version and that of the extension library it loaded, without logging in
// (kep_check_version.h).
//
// Exit status: 0 when everything is usable, 1 when something is missing, 2 when the utility
// could not log in (one line on standard error with the platform's reason). With -explain: 0 when
// the line was explained, 1 when it could not be reached, 2 for a bad option.
//
// Built with its own main (KEP_CHECK_OWN_MAIN: the installation's batch main was not named to the
// build), the platform never sees the command line, so its automatic login cannot read -u= -p=
// -g= from it: the utility reads them itself and logs in with ITK_init_module.
#include <iostream>

#include "kep_check.h"
#include "kep_check_version.h"

#if defined(KEP_CHECK_OWN_MAIN)
static const bool kOwnLogin = true;
#else
static const bool kOwnLogin = false;
#endif

extern "C" int ITK_user_main(int argc, char* argv[]) {
    try {
        if (kep_check::version_requested(argc, argv)) {
            return kep_check::write_versions(std::cout, std::cerr);
        }
        return kep_check::run_batch(argc, argv, kOwnLogin, &kep_explain_line, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "kep_check: " << e.what() << '\n';
        return 2;
    }
}
