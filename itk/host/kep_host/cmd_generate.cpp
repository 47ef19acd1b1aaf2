// `generate`: writes a synthetic site to standard output. Not there yet.
#include <iostream>

#include "kep_host.h"

namespace kep_host {

namespace {

struct GenerateOptions {
    int lines = 0;
    int depth = 3;
    unsigned seed = 1;
};

}  // namespace

Command add_generate_command(CLI::App& app) {
    auto* sub = app.add_subcommand("generate", "write a synthetic site to standard output");
    auto options = std::make_shared<GenerateOptions>();
    sub->add_option("--lines", options->lines, "number of lines")->required()->check(CLI::PositiveNumber);
    sub->add_option("--depth", options->depth, "depth of the structure")->check(CLI::PositiveNumber);
    sub->add_option("--seed", options->seed, "seed of the random choices");
    Command command;
    command.needs_platform = false;
    command.run = [options](Host&) {  // the options live as long as the command
        std::cerr << "kep-host: generate: not implemented yet\n";
        return kExitUsage;
    };
    return command;
}

}  // namespace kep_host
