// `demo`: the tour of the built-in sample site. Not there yet.
#include <iostream>

#include "kep_host.h"

namespace kep_host {

Command add_demo_command(CLI::App& app) {
    auto* sub = app.add_subcommand("demo", "the tour of the built-in sample site");
    auto svg = std::make_shared<std::string>();
    sub->add_option("--svg", *svg, "write a drawing of the searches to FILE");
    Command command;
    command.needs_platform = false;
    command.run = [svg](Host&) {  // the option lives as long as the command
        std::cerr << "kep-host: demo: the demo is not there yet\n";
        return kExitUsage;
    };
    return command;
}

}  // namespace kep_host
