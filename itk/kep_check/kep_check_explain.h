// `kep_check -explain`: the explanation of one line on a real installation. The utility opens a
// BOM window on an item revision (-item=ID -rev=REV, optionally -rule=NAME), finds the line by
// the item ids from the top line down (-path=ID/ID/...; ID#N is the N-th line of that item id
// below the line before, packed lines included, in the platform's order; of several lines with an
// id and no #N the first, with a note on the error stream that says how many), has the extension
// explain it (kep_explain_line, optionally with -box=X1,Y1,Z1,X2,Y2,Z2 or -near=PATH,PATH... and
// -delta=MM; -json for one JSON object) and closes the window. Any other option than these and
// the login's is refused.
//
// Only the platform's C operations and the extension's explanation entry are used. Every block
// read is released and the error stack cleared after each failed call, whose text goes into the
// message.
#ifndef KEP_CHECK_CHECK_EXPLAIN_H
#define KEP_CHECK_CHECK_EXPLAIN_H

#include <ostream>
#include <string>
#include <vector>

#include "kep_explain.h"

namespace kep_check {

struct ExplainRequest {
    std::string item;
    std::string revision;
    std::string rule;  // "" for the user's default rule
    std::vector<std::string> path;
    bool has_box = false;
    double box[6] = {0, 0, 0, 0, 0, 0};
    std::vector<std::vector<std::string>> near;  // paths of the selected lines
    bool has_delta = false;
    double delta_mm = 0.0;
    bool json = false;
};

// Whether the command line holds -explain.
bool explain_requested(int argc, char* argv[]);

// Reads the request from the command line, as ITK_user_main receives it (also when the utility has
// its own main, whose command line the platform never sees). False with *error naming the option
// and what was expected.
bool read_explain_request(int argc, char* argv[], ExplainRequest* request, std::string* error);

using ExplainFunction = int (*)(tag_t, const kep_explain_query_t*, int, char**);

// Opens the window, explains the line on `out` and closes the window. Returns 0 when the line was
// explained, 1 when the revision, the rule or a line of a path is not there or a platform call
// failed (one line on `err` says which, with the platform's text).
int run_explain(const ExplainRequest& request, ExplainFunction explain, std::ostream& out, std::ostream& err);

}  // namespace kep_check

#endif
