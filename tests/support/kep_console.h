// Readers of what the extension writes to the console, and the small pieces of site text and
// platform calls that many tests build the same way.
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

// A JSON string literal, and a JSON list of them.
std::string quoted(const std::string& text);
std::string json_list(const std::vector<std::string>& values);

// The dataset types the tests' sites configure, as members of a site's "preferences": the 3D
// types Part3D, Model3D, Tess3D and Rep3D, the auxiliary types AuxPart, AuxModel, AuxCgr, AuxRep
// and Archive, and the product structure datasets of `product_type` under `product_relation`.
std::string dataset_type_preferences(const std::string& product_relation = "IMAN_specification",
                                     const std::string& product_type = "Assembly3D");

// Calls an exit the way the platform does: the decision, then the exit's own arguments.
int call_exit(CUSTOM_EXIT_ftn_t exit_function, int* decision, ...);

}  // namespace kep_test

#endif
