// The result object on standard output, and the id/tag translations the commands share.
#include <standin/control.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "kep_host.h"

namespace kep_host {

int finish(const Host& host, nlohmann::ordered_json result, int status) {
    // A failed registration or exit makes the exit status 1 (see main): a result with a status
    // says so too, so that the two always agree.
    if (status == 0 && host.start_status != 0) {
        status = host.start_status;
        auto it = result.find("status");
        if (it != result.end()) {
            *it = status;
        }
    }
    if (host.stats) {
        nlohmann::ordered_json calls = nlohmann::ordered_json::object();
        for (const auto& count : standin::call_counts()) {
            calls[count.first] = count.second;
        }
        result["stats"] = {
            {"calls", calls}, {"live_blocks", standin::live_blocks()}, {"misuse", standin::misuse_count()}};
    }
    // Texts come from the site and the extension and need not be UTF-8; a bad byte is shown as
    // U+FFFD instead of ending the run.
    std::cout << result.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    std::cout.flush();
    return status == 0 ? kExitOk : kExitStatus;
}

nlohmann::ordered_json tag_to_json(tag_t tag) {
    if (tag == NULLTAG) {
        return nullptr;
    }
    std::string id = standin::id_of(tag);
    if (id.empty()) {
        return tag;
    }
    return id;
}

tag_t require_tag(const Host& host, const std::string& command, const std::string& id) {
    tag_t tag = standin::tag_of(id);
    if (tag == NULLTAG) {
        throw UsageError(command + ": no id '" + id + "' in site '" + host.site_source + "'");
    }
    return tag;
}

double parse_number(const std::string& command, const std::string& option, const std::string& text,
                    const std::string& takes) {
    const std::string named = command + ": " + option + " value '" + text + "'";
    // strtod reads leading blanks and the locale's decimal point; kep-host runs in the "C" locale
    // and takes the whole text or nothing.
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = text.empty() || std::isspace(static_cast<unsigned char>(text[0])) != 0
                             ? 0.0
                             : std::strtod(begin, &end);
    if (end == nullptr || end == begin || *end != '\0') {
        const bool comma = text.find(',') != std::string::npos;
        throw UsageError(named + " is not a number" + (comma ? " (the decimal point is '.')" : "") + ": " +
                         option + " takes " + takes);
    }
    if (!std::isfinite(value)) {
        throw UsageError(named + " is not a finite number: " + option + " takes " + takes);
    }
    return value;
}

void warn(const std::string& text) { std::cerr << "kep-host: warning: " << text << '\n'; }

void warn_about_box(const std::string& command, const std::vector<double>& box) {
    // A query box larger than this along an axis is most likely given in millimetres.
    const double kLargeBoxMetres = 1000.0;
    static const char* const kAxes[] = {"x", "y", "z"};
    for (size_t k = 0; k < 3 && box.size() == 6; ++k) {
        const std::string axis = kAxes[k];
        const double lo = box[k];
        const double hi = box[k + 3];
        if (lo > hi) {
            std::ostringstream text;
            text << std::setprecision(12) << command << ": --box is inverted along " << axis << " (" << axis
                 << "1 " << lo << " is above " << axis << "2 " << hi
                 << "): the corners are taken as given, not reordered, so "
                 << "along " << axis << " the box has a negative extent and finds fewer lines, or none (give "
                 << "the smallest corner first)";
            warn(text.str());
        } else if (hi - lo > kLargeBoxMetres) {
            std::ostringstream text;
            text << std::setprecision(12) << command << ": --box spans " << hi - lo << " m along " << axis
                 << ": the box is in metres (the distance --delta is in millimetres)";
            warn(text.str());
        }
    }
}

}  // namespace kep_host
