// Setting up a run of kep-host: the site, the armed faults and the extension library.
//
// Every function here reports a bad input by throwing UsageError with one line that names what is
// wrong and where (the file, the option, the library).
#ifndef KEP_HOST_SETUP_H
#define KEP_HOST_SETUP_H

#include <string>

#include "kep_host.h"

namespace kep_host {

// Loads the site file at `path` into the stand-in (which reads it as a stream, never holding the
// whole text), or the built-in sample site when `path` is empty.
void load_site(Host& host, const std::string& path);

// With --syslog FILE given: warns on standard error (one line, not a failure) when ZODORE_SYSLOG
// is not ON as the extension will see it (the process environment, else the site's env), for
// then the extension writes nothing to the system log.
void warn_if_syslog_off(const std::string& syslog_path);

// One --fail option: the `nth` call of `op` fails with `code`; nth 0 means every call.
struct FaultSpec {
    std::string op;
    int nth = 0;
    int code = 0;
};

// Parses OP[@N][=CODE]. OP must be a platform operation that returns a status; N a positive
// count; CODE a non-zero status (a "failure" with status 0 would look like success).
FaultSpec parse_fault_spec(const std::string& text);

// Arms a parsed fault in the stand-in. Call after the site is loaded: loading resets the faults.
void arm_fault(const FaultSpec& fault);

// The extension library once loaded: its path, its name (libkep.so -> "kep") and its entry.
struct Extension {
    std::string path;
    std::string name;
    int (*register_callbacks)() = nullptr;
    void* library = nullptr;  // the loaded library, for its other exports
};

// libkep.so beside the running kep-host executable.
std::string default_extension_path();

// The library's name as the entry point carries it: the file name without its folder, without a
// leading "lib" and without everything from the first dot on.
std::string extension_name(const std::string& path);

// Loads the library with the system's dynamic loader and finds `<name>_register_callbacks`. The
// library stays loaded for the life of the process, as in the platform's server.
Extension load_extension(const std::string& path);

// Calls the extension's `<name>_register_callbacks` and runs the three custom exits in the
// platform's order. The platform goes on after a failure, and so does the host: each failure is
// one line on standard error naming the entry or exit, its status, the platform's error text and
// the likely cause where one is known. Returns the first failed status, 0 when nothing failed.
int start_extension(const Extension& extension);

}  // namespace kep_host

#endif
