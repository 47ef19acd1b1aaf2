// Readers of what the extension writes to the console, and the exits called as the platform calls
// them. The site text the tests build alike is in kep_site_text.h.
#ifndef KEP_CONSOLE_H
#define KEP_CONSOLE_H

#include <tccore/custom.h>

#include <string>
#include <vector>

namespace kep_test {

// The text without its leading blanks.
std::string strip(const std::string& text);

// The lines a function writes at its own depth when called at level 0: its entry and exit lines
// (column 0) and everything written four blanks deep (its messages, its statement trace, the entry
// and exit lines of what it calls). What the called functions write inside is left out.
std::string own_lines(const std::string& console);

// Where the first failure block of a console text stands: its statement and the function that
// made the call (the innermost one open). Both empty when there is none.
struct FirstFailure {
    std::string statement;
    std::string function;
};
FirstFailure first_failure(const std::string& console);

// Calls an exit the way the platform does: the decision, then the exit's own arguments.
int call_exit(CUSTOM_EXIT_ftn_t exit_function, int* decision, ...);

}  // namespace kep_test

#endif
