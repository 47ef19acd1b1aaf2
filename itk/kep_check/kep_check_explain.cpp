// `kep_check -explain` (kep_check_explain.h).
#if defined(KEP_REAL_PLATFORM) && !defined(IPLIB)
#define IPLIB none
#endif

#include "kep_check_explain.h"

#include <cfm/cfm.h>
#include <kep_platform.h>
#include <tccore/item.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "kep_check.h"

namespace kep_check {

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) {
            return parts;
        }
        start = end + 1;
    }
}

bool parse_number(const std::string& text, double* value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return end != nullptr && *end == '\0' && std::isfinite(*value);
}

// The value of `keyword` (such as "-item=") on the command line, or null; the last one counts.
const char* cli_value(int argc, char* argv[], const char* keyword) {
    const size_t n = std::strlen(keyword);
    const char* value = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] != nullptr && std::strncmp(argv[i], keyword, n) == 0) {
            value = argv[i] + n;
        }
    }
    return value;
}

// A platform block released on every way out.
template <class T>
struct Block {
    T* p = nullptr;
    ~Block() { MEM_free(p); }
};

// The BOM window of one explanation, closed on every way out.
class Window {
public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window() { (void)close(); }
    // Closes the window once; "" or what failed.
    std::string close() {
        const tag_t window = tag_;
        tag_ = NULLTAG;
        const int status = window != NULLTAG ? BOM_close_window(window) : ITK_ok;
        return status == ITK_ok ? std::string() : "BOM_close_window failed with " + platform_error(status);
    }
    tag_t tag_ = NULLTAG;
};

// One step of a path: an item id, and which of the lines with that id (1 for the first; 0 when
// the step does not say, and then only one may have it).
struct Step {
    std::string id;
    int number = 0;
};

// "ID" or "ID#N" with N a positive number; an id that itself ends in '#' and digits is read as a
// step with a number.
bool parse_step(const std::string& text, Step* step) {
    const size_t hash = text.rfind('#');
    if (hash == std::string::npos) {
        step->id = text;
        step->number = 0;
        return !text.empty();
    }
    const std::string digits = text.substr(hash + 1);
    if (hash == 0 || digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos || std::atoi(digits.c_str()) < 1) {
        return false;
    }
    step->id = text.substr(0, hash);
    step->number = std::atoi(digits.c_str());
    return true;
}

// The lines below `line` in the platform's order: each child line, followed by the lines packed
// into it. False with *error set on a failure.
bool lines_below(tag_t line, std::vector<tag_t>* lines, std::string* error) {
    int count = 0;
    Block<tag_t> children;
    int status = BOM_line_ask_child_lines(line, &count, &children.p);
    if (status != ITK_ok) {
        *error = "BOM_line_ask_child_lines failed with " + platform_error(status);
        return false;
    }
    for (int i = 0; i < count && children.p != nullptr; ++i) {
        lines->push_back(children.p[i]);
        int packed_count = 0;
        Block<tag_t> packed;
        status = BOM_line_ask_packed_lines(children.p[i], &packed_count, &packed.p);
        if (status != ITK_ok) {
            *error = "BOM_line_ask_packed_lines failed with " + platform_error(status);
            return false;
        }
        for (int k = 0; k < packed_count && packed.p != nullptr; ++k) {
            lines->push_back(packed.p[k]);
        }
    }
    return true;
}

// The line of `step` below `line` (walked: the path down to it, for messages); NULLTAG with
// *error set when there is none. When several lines have the id and the step does not say which,
// the first is taken and a line is added to *notes that says how many there are.
tag_t line_of_step(tag_t line, const Step& step, const std::string& walked, std::string* error,
                   std::string* notes) {
    int attribute = 0;
    int status = BOM_line_look_up_attribute(bomAttr_itemId, &attribute);
    if (status != ITK_ok) {
        *error = "BOM_line_look_up_attribute failed with " + platform_error(status);
        return NULLTAG;
    }
    std::vector<tag_t> below;
    if (!lines_below(line, &below, error)) {
        return NULLTAG;
    }
    std::vector<tag_t> matches;
    for (const tag_t candidate : below) {
        Block<char> item_id;
        status = BOM_line_ask_attribute_string(candidate, attribute, &item_id.p);
        if (status != ITK_ok) {
            *error = "BOM_line_ask_attribute_string failed with " + platform_error(status);
            return NULLTAG;
        }
        if (item_id.p != nullptr && step.id == item_id.p) {
            matches.push_back(candidate);
        }
    }
    const std::string count = std::to_string(matches.size());
    if (matches.empty()) {
        *error = "no line of item " + step.id + " below " + walked;
    } else if (static_cast<size_t>(step.number) > matches.size()) {
        *error = "no line " + step.id + "#" + std::to_string(step.number) + " below " + walked + ": " +
                 (matches.size() == 1 ? "one line has" : count + " lines have") + " item " + step.id;
    } else {
        if (step.number == 0 && matches.size() > 1) {
            *notes += count + " lines of item " + step.id + " below " + walked +
                      " (packed lines included); the first is taken: give " + step.id + "#1 to " + step.id +
                      "#" + count + " to choose\n";
        }
        return matches[step.number == 0 ? 0 : static_cast<size_t>(step.number - 1)];
    }
    return NULLTAG;
}

// The line at the end of `path` below the top line (a first id equal to the top line's own item
// id is the top line itself). NULLTAG with *error set when it is not there; *notes as above.
tag_t line_at(tag_t top, const std::string& top_item, const std::vector<std::string>& path,
              std::string* error, std::string* notes) {
    size_t first = !path.empty() && path.front() == top_item ? 1 : 0;
    tag_t line = top;
    std::string walked = top_item;
    for (size_t i = first; i < path.size(); ++i) {
        Step step;
        if (!parse_step(path[i], &step)) {
            *error = "'" + path[i] + "' in a path is neither ID nor ID#N with N from 1";
            return NULLTAG;
        }
        line = line_of_step(line, step, walked, error, notes);
        if (line == NULLTAG) {
            return NULLTAG;
        }
        walked += "/" + path[i];
    }
    return line;
}

// The options of -explain, and those that the platform's batch main and its login read.
const char* const kValueOptions[] = {"-item=",  "-rev=", "-rule=", "-path=", "-box=", "-near=",
                                     "-delta=", "-u=",   "-p=",    "-pf=",   "-g=",   "-site="};
const char* const kFlagOptions[] = {"-explain", "-json"};

// The first argument that is no option of the utility's, or null.
const char* unknown_option(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg == nullptr) {
            continue;
        }
        bool known = false;
        for (const char* flag : kFlagOptions) {
            known = known || std::strcmp(arg, flag) == 0;
        }
        for (const char* option : kValueOptions) {
            known = known || std::strncmp(arg, option, std::strlen(option)) == 0;
        }
        if (!known) {
            return arg;
        }
    }
    return nullptr;
}

}  // namespace

bool explain_requested(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i] != nullptr && std::strcmp(argv[i], "-explain") == 0) {
            return true;
        }
    }
    return false;
}

bool read_explain_request(int argc, char* argv[], ExplainRequest* request, std::string* error) {
    const char* unknown = unknown_option(argc, argv);
    if (unknown != nullptr) {
        *error = std::string("unknown option '") + unknown +
                 "' (-explain takes -item= -rev= -rule= -path= -box= -near= -delta= -json and the login's "
                 "-u= -p= -pf= -g=)";
        return false;
    }
    auto argument = [argc, argv](const char* keyword) { return cli_value(argc, argv, keyword); };
    const char* item = argument("-item=");
    const char* revision = argument("-rev=");
    if (item == nullptr || item[0] == '\0' || revision == nullptr || revision[0] == '\0') {
        *error = "-explain needs -item=ID and -rev=REV (the item revision whose structure holds the line)";
        return false;
    }
    request->item = item;
    request->revision = revision;
    const char* rule = argument("-rule=");
    request->rule = rule != nullptr ? rule : "";
    const char* path = argument("-path=");
    if (path != nullptr && path[0] != '\0') {
        request->path = split(path, '/');
    }
    const char* box = argument("-box=");
    if (box != nullptr) {
        const std::vector<std::string> values = split(box, ',');
        request->has_box = values.size() == 6;
        for (size_t i = 0; i < values.size() && request->has_box; ++i) {
            request->has_box = parse_number(values[i], &request->box[i]);
        }
        if (!request->has_box) {
            *error =
                "-box= needs six finite numbers X1,Y1,Z1,X2,Y2,Z2 (metres), not '" + std::string(box) + "'";
            return false;
        }
    }
    const char* near = argument("-near=");
    if (near != nullptr) {
        for (const std::string& p : split(near, ',')) {
            if (p.empty()) {
                *error = "-near= needs paths of item ids (ID/ID/...), separated by commas";
                return false;
            }
            request->near.push_back(split(p, '/'));
        }
    }
    const char* delta = argument("-delta=");
    if (delta != nullptr) {
        request->has_delta = parse_number(delta, &request->delta_mm);
        if (!request->has_delta) {
            *error = "-delta= needs a finite number of millimetres, not '" + std::string(delta) + "'";
            return false;
        }
    }
    if (request->has_box && !request->near.empty()) {
        *error = "give -box= or -near=, not both";
        return false;
    }
    if ((request->has_box || !request->near.empty()) != request->has_delta) {
        *error = request->has_delta ? "-delta= needs -box= or -near=" : "-box= and -near= need -delta=MM";
        return false;
    }
    request->json = false;
    for (int i = 1; i < argc; ++i) {
        request->json = request->json || (argv[i] != nullptr && std::strcmp(argv[i], "-json") == 0);
    }
    return true;
}

int run_explain(const ExplainRequest& request, ExplainFunction explain, std::ostream& out,
                std::ostream& err) {
    const std::string what = request.item + "/" + request.revision;
    tag_t revision = NULLTAG;
    int status = ITEM_find_rev(request.item.c_str(), request.revision.c_str(), &revision);
    if (status != ITK_ok || revision == NULLTAG) {
        err << "kep_check: "
            << (status != ITK_ok ? "ITEM_find_rev failed with " + platform_error(status)
                                 : "no revision " + request.revision + " of item " + request.item)
            << '\n';
        return 1;
    }
    tag_t rule = NULLTAG;
    if (!request.rule.empty()) {
        status = CFM_find(request.rule.c_str(), &rule);
        if (status != ITK_ok || rule == NULLTAG) {
            err << "kep_check: "
                << (status != ITK_ok ? "CFM_find failed with " + platform_error(status)
                                     : "no revision rule named '" + request.rule + "'")
                << '\n';
            return 1;
        }
    }

    int result = 1;
    std::string problem;
    {
        Window window;
        status = BOM_create_window(&window.tag_);
        if (status != ITK_ok) {
            window.tag_ = NULLTAG;
            problem = "BOM_create_window failed with " + platform_error(status);
        } else if (rule != NULLTAG && (status = BOM_set_window_config_rule(window.tag_, rule)) != ITK_ok) {
            problem = "BOM_set_window_config_rule failed with " + platform_error(status);
        } else {
            tag_t top = NULLTAG;
            status = BOM_set_window_top_line(window.tag_, NULLTAG, revision, NULLTAG, &top);
            if (status != ITK_ok || top == NULLTAG) {
                problem = status != ITK_ok ? "BOM_set_window_top_line failed with " + platform_error(status)
                                           : "the window on " + what + " has no top line";
            } else {
                std::string notes;
                const tag_t line = line_at(top, request.item, request.path, &problem, &notes);
                std::vector<tag_t> near;
                for (size_t i = 0; i < request.near.size() && problem.empty(); ++i) {
                    near.push_back(line_at(top, request.item, request.near[i], &problem, &notes));
                }
                for (size_t start = 0; start < notes.size();) {
                    const size_t end = notes.find('\n', start);
                    err << "kep_check: note: " << notes.substr(start, end - start) << '\n';
                    start = end + 1;
                }
                if (problem.empty() && line != NULLTAG) {
                    kep_explain_query_t query;
                    std::memset(&query, 0, sizeof query);
                    query.kind = request.has_box ? KEP_EXPLAIN_QUERY_BOX
                                 : !near.empty() ? KEP_EXPLAIN_QUERY_NEAR
                                                 : KEP_EXPLAIN_QUERY_NONE;
                    std::memcpy(query.box, request.box, sizeof query.box);
                    query.near_lines = near.empty() ? nullptr : near.data();
                    query.near_count = static_cast<int>(near.size());
                    query.delta_mm = request.delta_mm;
                    query.window = window.tag_;
                    Block<char> text;
                    status =
                        explain(line, &query, request.json ? KEP_EXPLAIN_JSON : KEP_EXPLAIN_TEXT, &text.p);
                    if (text.p != nullptr) {
                        out << text.p << (request.json ? "\n" : "");
                    }
                    if (status != ITK_ok) {
                        problem = "the explanation ended with " + platform_error(status);
                    } else {
                        result = 0;
                    }
                }
            }
        }
        if (!problem.empty()) {
            err << "kep_check: " << problem << '\n';
            result = 1;
        }
        const std::string close_error = window.close();
        if (!close_error.empty()) {
            err << "kep_check: " << close_error << '\n';
            result = 1;
        }
    }
    out.flush();
    return result;
}

}  // namespace kep_check
