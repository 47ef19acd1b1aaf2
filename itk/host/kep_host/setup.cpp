// Setting up a run: loading the site, parsing and arming --fail, loading the extension library.
#include "setup.h"

#include <standin/control.h>
#include <standin/library.h>
#include <sys/stat.h>
#include <tccore/custom.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

namespace kep_host {

namespace {

// What ends a folder in a path: '/' everywhere, '\\' too on Windows.
#if defined(_WIN32)
const char* const kPathSeparators = "/\\";
#else
const char* const kPathSeparators = "/";
#endif

// The platform operations that can be made to fail: those that return a status, and MEM_alloc,
// which answers null. MEM_free, TC_getenv and TC_write_syslog cannot fail.
const char* const kFailableOperations[] = {
    "AE_ask_all_dataset_named_refs",
    "AE_ask_dataset",
    "AOM_UIF_ask_name",
    "AOM_UIF_ask_value",
    "AOM_ask_prop_names",
    "AOM_ask_value_double",
    "AOM_ask_value_logical",
    "AOM_ask_value_string",
    "AOM_ask_value_strings",
    "AOM_ask_value_tag",
    "BOM_ask_window_top_line",
    "BOM_line_ask_attribute_string",
    "BOM_line_ask_attribute_tag",
    "BOM_line_ask_child_lines",
    "BOM_line_ask_packed_lines",
    "BOM_line_look_up_attribute",
    "CUSTOM_register_exit",
    "EMH_ask_errors",
    "EMH_clear_errors",
    "GRM_find_relation_type",
    "GRM_list_secondary_objects_only",
    "ITK_ask_version",
    "MEM_alloc",
    "METHOD_add_action",
    "METHOD_find_prop_method",
    "METHOD_register_prop_method",
    "POM_tag_to_string",
    "PREF_ask_char_value",
    "PREF_ask_char_values",
    "PREF_ask_search_scope",
    "PREF_ask_value_count",
    "PREF_set_search_scope",
    "PROP_ask_owning_object",
    "TCTYPE_add_runtime_property",
    "TCTYPE_ask_name",
    "TCTYPE_ask_object_type",
    "TCTYPE_register_properties",
    "USERARG_get_double_argument",
    "USERARG_get_double_array_argument",
    "USERARG_get_tag_argument",
    "USERARG_get_tag_array_argument",
    "USERSERVICE_register_method",
    "USERSERVICE_return_tag_array",
};

const char* const kStatuslessOperations[] = {"MEM_free", "TC_getenv", "TC_write_syslog"};

template <size_t N>
bool contains(const char* const (&names)[N], const std::string& name) {
    return std::any_of(std::begin(names), std::end(names), [&](const char* n) { return name == n; });
}

// Parses a whole decimal integer (optional sign) into an int; false on anything else.
bool parse_int(const std::string& text, int* value) {
    if (text.empty() || text.size() > 12) {
        return false;
    }
    size_t start = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (start == text.size() || !std::all_of(text.begin() + static_cast<long>(start), text.end(),
                                             [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v < INT_MIN || v > INT_MAX) {
        return false;
    }
    *value = static_cast<int>(v);
    return true;
}

// The newest text on the platform's error stack, "" when it is empty.
std::string newest_error_text() {
    const std::vector<standin::ErrorEntry> errors = standin::errors();
    return errors.empty() ? std::string() : errors.back().text;
}

// What a failed registration most likely means on a site, from the platform's answer.
std::string likely_cause(int status, const std::string& text) {
    if (status == standin::kErrInjected || text.find("injected failure") != std::string::npos) {
        return "a failure made with --fail";
    }
    if (text.find("var2_is_v0") != std::string::npos) {
        if (status == standin::kErrNoSuchProperty) {
            return "the Dataset type lacks the run-time property var2_is_v0, which the data model must "
                   "define "
                   "at platform version 80000300 and later (in a site file: \"properties\": {\"Dataset\": "
                   "[\"var2_is_v0\"]})";
        }
        if (status == standin::kErrDuplicate) {
            return "the data model defines var2_is_v0 on Dataset already, while below platform version "
                   "80000300 the extension creates it";
        }
    }
    if (text.find("BOMLine") != std::string::npos || text.find("bl_") != std::string::npos) {
        return "the BOMLine type lacks a line property that the extension takes over";
    }
    return "";
}

void report_failure(const std::string& what, int status) {
    const std::string text = newest_error_text();
    const std::string cause = likely_cause(status, text);
    std::string line = "kep-host: " + what + " returned status " + std::to_string(status);
    if (!text.empty()) {
        line += " (" + text + ")";
    }
    if (!cause.empty()) {
        line += "; likely cause: " + cause;
    }
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::cerr << line << '\n';
}

// Whether `path` names a folder.
bool is_folder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void load_site(Host& host, const std::string& path) {
    if (!path.empty() && is_folder(path)) {
        throw UsageError("--site '" + path + "' is a folder; name a site file (JSON) in it, such as " +
                         "examples/sites/search.json");
    }
    host.site_source = path.empty() ? std::string(kSampleSiteName) : path;
    std::string error;
    bool loaded = false;
    if (path.empty()) {
        loaded = standin::load_site(kSampleSiteJson, host.site_source, &error);
    } else {
        // Opened once: a named pipe (or a process substitution) gives its text to one reader only.
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) {
            throw UsageError("cannot read site file '" + path + "': " + std::strerror(errno));
        }
        loaded = standin::load_site_stream(file, path, &error);
        std::fclose(file);
    }
    if (!loaded) {
        std::replace(error.begin(), error.end(), '\n', ' ');
        throw UsageError(error.empty() ? "bad site file '" + host.site_source + "'" : error);
    }
}

void warn_if_syslog_off(const std::string& syslog_path) {
    // As the extension will see it: the process environment, else the site's env.
    std::string value;
    standin::env_value("ZODORE_SYSLOG", &value);
    if (value != "ON") {
        std::cerr << "kep-host: warning: --syslog " << syslog_path
                  << ": ZODORE_SYSLOG is not ON, so kep's trace does not go to the system log "
                     "(run with ZODORE_SYSLOG=ON)\n";
    }
}

FaultSpec parse_fault_spec(const std::string& text) {
    const std::string syntax = " (expected OP[@N][=CODE])";
    FaultSpec fault;
    fault.code = standin::kErrInjected;
    std::string rest = text;
    size_t eq = rest.find('=');
    if (eq != std::string::npos) {
        std::string code = rest.substr(eq + 1);
        if (!parse_int(code, &fault.code) || fault.code == 0) {
            throw UsageError("--fail '" + text + "': the code '" + code +
                             "' is not a non-zero integer status" + syntax);
        }
        rest.resize(eq);
    }
    size_t at = rest.find('@');
    if (at != std::string::npos) {
        std::string nth = rest.substr(at + 1);
        if (!parse_int(nth, &fault.nth) || fault.nth < 1 || nth[0] == '+') {
            throw UsageError("--fail '" + text + "': the call number '" + nth +
                             "' is not a positive integer" + syntax);
        }
        rest.resize(at);
    }
    fault.op = rest;
    if (fault.op.empty()) {
        throw UsageError("--fail '" + text + "': no operation named" + syntax);
    }
    if (contains(kStatuslessOperations, fault.op)) {
        throw UsageError("--fail '" + text + "': " + fault.op + " cannot fail");
    }
    if (!contains(kFailableOperations, fault.op)) {
        throw UsageError("--fail '" + text + "': '" + fault.op + "' is not a platform operation" + syntax);
    }
    return fault;
}

void arm_fault(const FaultSpec& fault) { standin::fail_call(fault.op, fault.nth, fault.code); }

std::string default_extension_path() {
    const std::string exe = standin::executable_path();
    if (exe.empty()) {
        throw UsageError("cannot find the kep-host executable; name the library with --extension");
    }
    return standin::in_folder(standin::folder_of(exe), standin::library_file_name("kep"));
}

std::string extension_name(const std::string& path) {
    size_t slash = path.find_last_of(kPathSeparators);
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.compare(0, 3, "lib") == 0) {
        name.erase(0, 3);
    }
    size_t dot = name.find('.');
    if (dot != std::string::npos) {
        name.resize(dot);
    }
    return name;
}

Extension load_extension(const std::string& path) {
    Extension ext;
    ext.path = path;
    ext.name = extension_name(path);
    if (ext.name.empty()) {
        throw UsageError("cannot load extension library '" + path + "': no library name in the path");
    }
    // A bare file name would send the loader along its search path; the host loads the file named.
    std::string file = path.find_first_of(kPathSeparators) == std::string::npos ? "./" + path : path;
    std::string reason;
    void* handle = standin::load_library(file, &reason);
    if (handle == nullptr) {
        throw UsageError("cannot load extension library '" + path + "': " + reason);
    }
    std::string entry = ext.name + "_register_callbacks";
    void* symbol = standin::library_function(handle, entry);
    if (symbol == nullptr) {
        throw UsageError("extension library '" + path + "' has no entry point " + entry);
    }
    // POSIX guarantees that a data pointer from dlsym converts to a function pointer (and so does
    // Windows for GetProcAddress).
    ext.register_callbacks = reinterpret_cast<int (*)()>(symbol);
    ext.library = handle;
    return ext;
}

int start_extension(const Extension& extension) {
    int first = extension.register_callbacks();
    if (first != 0) {
        report_failure(extension.name + "_register_callbacks", first);
    }
    for (const char* exit_name :
         {"USER_init_module", "USER_register_properties", "USERSERVICE_register_methods"}) {
        int decision = NO_CUSTOMIZATION;
        const int status = standin::run_exit(exit_name, &decision);
        if (status != 0) {
            report_failure("the exit " + std::string(exit_name) + " of " + extension.name, status);
            first = first != 0 ? first : status;
        }
    }
    return first;
}

}  // namespace kep_host
