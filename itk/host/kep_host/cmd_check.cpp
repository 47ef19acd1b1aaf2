// `check`: the preflight check of the site (kep_check.h), run after the extension has been
// loaded and its exits have run, as they run in the server. Prints the report as text on standard
// output; exit status 0 when everything is usable, 1 when something is missing.
#include <iostream>

#include "kep_check.h"
#include "kep_host.h"

namespace kep_host {

Command add_check_command(CLI::App& app) {
    app.add_subcommand("check",
                       "what the site configures for each feature, what is missing and what users see");
    Command command;
    command.run = [](Host&) {
        const int status = kep_check::run_check(std::cout);
        std::cout.flush();
        return status == 0 ? kExitOk : kExitStatus;
    };
    return command;
}

}  // namespace kep_host
