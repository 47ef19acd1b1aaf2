// The preflight check of a site: reads, through the platform's C operations only, what the
// extension will find there (the preferences, the relation and dataset types, the platform
// version, the getter of var2_is_v0, the diagnostics switches) and reports, feature by feature,
// what is configured, what is missing and what users will see because of it.
//
// The same code runs inside kep-host (`kep-host check`) and in the batch utility kep_check,
// which logs in to a real installation (or to the stand-in) first. Nothing here knows the
// stand-in: a site is only what the platform's operations answer.
//
// Every platform block read is released before a function returns; the error stack is cleared
// after each failed call (its text goes into the report).
#ifndef KEP_CHECK_H
#define KEP_CHECK_H

#include <ostream>
#include <string>
#include <vector>

#include "kep_explain.h"

namespace kep_check {

// ok: configured and usable; note: usable, but worth a look (a default in force, a key stored as
// a list, a switch set to something other than ON); missing: the feature does not give every line
// what it would with the site's names spelt right (a key not set, a name that finds nothing).
enum class Level { Ok, Note, Missing };

struct Finding {
    Level level;
    std::string text;  // one line: the key or name, its value, and what it means for users
};

struct Feature {
    std::string name;
    std::vector<Finding> findings;
    bool usable() const;  // no finding is missing
};

struct Report {
    int version = 0;  // the platform version, 0 when it could not be asked
    std::vector<Feature> features;
    bool usable() const;  // every feature is usable
};

// The library name that TC_customization_libraries must hold for the server to load the extension.
extern const char kLibraryName[];

// Reads the site and builds the report. Runs inside the server's process or after a batch login.
Report check_site();

// Writes the report as text, one line per finding, and a closing verdict.
void write_report(const Report& report, std::ostream& out);

// check_site and write_report; returns 0 when everything is usable, 1 when something is missing.
int run_check(std::ostream& out);

// "status N: <newest text on the error stack>", then the error stack is cleared.
std::string platform_error(int status);

// The preflight as a batch program of the platform, after the platform's main: starts the text
// services, logs in, writes the report (run_check) on `out`, logs out, and returns the exit
// status. The login loads the libraries that TC_customization_libraries names and runs their
// exits, as a server process's login does, so the report is what a server would give. `kep_check`
// and `kep-host check` both run this.
//
// own_login: the platform never saw the command line (the utility's own main), so -u= -p= -g= are
// read here and the login is ITK_init_module with them; without -u=, or when not own_login, the
// site's automatic login (ITK_auto_login). With -explain (and `explain` given) the line is
// explained instead (kep_check_explain.h). A step that fails writes one line on `err`:
// "kep_check: <step> failed with status <n>: <the platform's reason>", exit status 2.
int run_batch(int argc, char* argv[], bool own_login,
              int (*explain)(tag_t, const kep_explain_query_t*, int, char**), std::ostream& out,
              std::ostream& err);

}  // namespace kep_check

#endif
