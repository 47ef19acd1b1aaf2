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

}  // namespace kep_check

#endif
