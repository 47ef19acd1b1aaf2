// The query of an explanation: the line's box run through the search's own overlap test against
// the query box or each selected line, with the distance at which the search would find it; the
// call that made the walk fail; the level of a line's path that the search does not walk; and the
// reads of the texts of an object that the accounts show.
#include <cmath>

#include "kep_mem.h"
#include "lookup/kep_memo.h"
#include "registration/kep_explain_account.h"

KEP_EXPLAIN_NAMESPACE_BEGIN

// A text property of an object; "" when it has none or the read fails (the failure is cleared).
// `kept`: through the call memo, for a text the call asks again.
Str ask_text(tag_t object, const char* property, bool kept) {
    kep::Text value;
    const int status = object == NULLTAG ? 1
                       : kept            ? kep::ask_value_string(object, property, value)
                                         : AOM_ask_value_string(object, property, value.out());
    if (status != 0) {
        EMH_clear_errors();
        return "";
    }
    return value ? value.get() : "";
}

Str ask_name(tag_t object) {
    Str name = ask_text(object, "object_name");
    return name.empty() ? ask_text(object, bomAttr_itemId) : name;
}

namespace {

// Whether `line` is one of the lines packed into `into` (the platform's answer; a failure is no).
bool packed_into(tag_t into, tag_t line) {
    int count = 0;
    kep::MemPtr<tag_t> packed;
    if (BOM_line_ask_packed_lines(into, &count, packed.out()) != 0) {
        EMH_clear_errors();
        return false;
    }
    for (int i = 0; i < count && packed; ++i) {
        if (packed.get()[i] == line) {
            return true;
        }
    }
    return false;
}

}  // namespace

// A line the walk from `top` went through without meeting it: the first level of its path that the
// search does not walk, and why. The walk takes every child line and the lines packed into child
// lines; a line packed into the top line or into a packed line it does not take, nor what is below.
void tell_not_walked(Explanation& e, tag_t top) {
    if (e.walk_status != 0 || top == NULLTAG || e.line == top) {
        return;
    }
    size_t first = 1;
    if (e.path.front().line != top) {
        // The parent chain ends at a line that is not the top line: bl_parent of a line packed
        // into the top line is null. The top line is shown above it.
        const tag_t end = e.path.front().line;
        Level above;
        above.line = top;
        above.item_id = ask_text(top, bomAttr_itemId);
        above.occurrence_name = ask_text(top, bomAttr_occName);
        e.path.insert(e.path.begin(), above);
        e.not_walked =
            packed_into(top, end)
                ? "@" + tag_text(end) +
                      " is packed into the top line, and the search walks no line "
                      "packed into the top line, nor the lines below one"
                : "@" + tag_text(end) + " is no line below the top line @" + tag_text(top) + " of the window";
    } else {
        while (first < e.path.size()) {
            auto it = e.placements.find(e.path[first].line);
            if (it == e.placements.end() || !it->second.met) {
                break;
            }
            ++first;
        }
        if (first == e.path.size()) {
            return;
        }
        e.not_walked = "@" + tag_text(e.path[first].line) +
                       " is packed into a packed line, and the search walks the lines packed into child "
                       "lines only, not those packed into a packed line, nor the lines below one";
    }
    e.packed = e.packed || e.path[first].line == e.line;
    e.box.reason = kep::reason_lead(kep::Reason::NotWalked) + e.not_walked;
}

const kep_object3d_t* object_in_list(const void* nodes, tag_t line) {
    for (const kep_node_t* n = static_cast<const Nodes*>(nodes)->head; n != nullptr; n = n->next) {
        if (n->tag == line) {
            return n->object;
        }
    }
    return nullptr;
}

void run_query(Explanation& e, ObjectOf object_of, const void* objects) {
    const kep_explain_query_t& q = *e.query;
    const double delta = q.delta_mm * kMillimetresToBoxUnits;
    if (!e.not_walked.empty()) {
        e.not_found_why = "the search does not walk this line: " + e.not_walked;
        return;
    }
    if (e.status != 0) {
        e.not_found_why =
            "no verdict: the search's call " + e.failed + " failed with status " + to_text(e.status);
        return;
    }
    if (!std::isfinite(delta)) {
        e.not_found_why = "the distance is not a finite number: the service makes no search";
        return;
    }
    if (e.object == nullptr) {
        e.not_found_why = "the line has no box, so no search can find it";
        return;
    }
    if (q.kind == KEP_EXPLAIN_QUERY_BOX) {
        bool finite = true;
        for (int i = 0; i < 6; ++i) {
            finite = finite && std::isfinite(q.box[i]);
        }
        if (!finite) {
            e.not_found_why = "a value of the query box is not a finite number: the service makes no search";
            return;
        }
        kep_object3d_t query_object;
        kep_query_object(q.box, &query_object);
        Verdict v;
        v.against = "query box";
        v.tested = true;
        e.found = kep::overlap_report(query_object, delta, *e.object, &v.report);
        if (!e.found) {
            kep::overlap_needed_delta(query_object, *e.object, q.delta_mm, kMillimetresToBoxUnits, &v.needed);
        }
        e.verdicts.push_back(v);
        return;
    }
    if (q.near_count < 1 || q.near_lines == nullptr) {
        e.not_found_why = "no line is selected: the service makes no search";
        return;
    }
    for (int s = 0; s < q.near_count; ++s) {
        Verdict v;
        v.against = "@" + tag_text(q.near_lines[s]);
        const kep_object3d_t* a = object_of(objects, q.near_lines[s]);
        if (a == nullptr) {
            v.note = "not tested: that line has no box in this structure, so it finds nothing";
        } else if (q.near_lines[s] == e.line) {
            v.note = "not tested: a selected line is never its own neighbour";
        } else {
            v.tested = true;
            if (kep::overlap_report(*a, delta, *e.object, &v.report)) {
                e.found = true;
            } else {
                kep::overlap_needed_delta(*a, *e.object, q.delta_mm, kMillimetresToBoxUnits, &v.needed);
            }
        }
        e.verdicts.push_back(v);
    }
}

// The operation of the call that made a walk fail with `status`. After a failed call the guard rule
// makes no further traced call, so the calls that fail with that status last, one after another,
// are that call and the traced calls of extension functions around it: the first of them is the
// call. Failures before it were answered as if the question had not been asked.
Str failed_operation(const Vec<std::pair<const char*, int>>& failed_calls, int status) {
    size_t first = failed_calls.size();
    while (first > 0 && failed_calls[first - 1].second == status) {
        --first;
    }
    if (first == failed_calls.size()) {
        return "kep_get_child_lines";  // no traced call failed: the walk's own status
    }
    Str text = failed_calls[first].first != nullptr ? failed_calls[first].first : "";
    const size_t end = text.find_first_of(" (");
    return end == Str::npos ? text : text.substr(0, end);
}

KEP_EXPLAIN_NAMESPACE_END
