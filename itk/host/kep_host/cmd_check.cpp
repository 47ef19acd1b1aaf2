// `check`: the preflight check of the site (kep_check.h), run as the batch utility kep_check runs
// it (kep_check::run_batch): the login loads the libraries that the site's
// TC_customization_libraries names, from the folder of the extension library, and runs their exits
// as a server's login does; then the report on standard output. Exit status 0 when everything is
// usable, 1 when something is missing or the login failed (one line on standard error).
#include <iostream>

#include "kep_check.h"
#include "kep_host.h"

namespace kep_host {

Command add_check_command(CLI::App& app) {
    app.add_subcommand("check",
                       "what the site configures for each feature, what is missing and what users see");
    Command command;
    command.logs_in = true;
    command.run = [](Host&) {
        char name[] = "kep-host";
        char* argv[] = {name, nullptr};
        const int status = kep_check::run_batch(1, argv, false, nullptr, std::cout, std::cerr);
        std::cout.flush();
        return status == 0 ? kExitOk : kExitStatus;
    };
    return command;
}

}  // namespace kep_host
