// `tags`: every id of the site with its tag, in tag order.
#include <standin/control.h>

#include "kep_host.h"

namespace kep_host {

Command add_tags_command(CLI::App& app) {
    app.add_subcommand("tags", "every id of the site with its tag, in tag order");
    Command command;
    command.prepare = [](Host& host) {
        // The counters share the object with the ids; an id "stats" would be overwritten.
        if (host.stats && standin::tag_of("stats") != NULLTAG) {
            throw UsageError("tags: site '" + host.site_source +
                             "' has an id 'stats', which --stats would hide; run without --stats");
        }
    };
    command.run = [](Host& host) {
        // Ids are unique: each is appended, without the look-up of an ordered object's
        // operator[], which walks every member before it.
        nlohmann::ordered_json result = nlohmann::ordered_json::object();
        auto& members = result.get_ref<nlohmann::ordered_json::object_t&>();
        for (auto& entry : standin::all_ids()) {
            members.emplace_back(std::move(entry.first), entry.second);
        }
        return finish(host, std::move(result), 0);
    };
    return command;
}

}  // namespace kep_host
