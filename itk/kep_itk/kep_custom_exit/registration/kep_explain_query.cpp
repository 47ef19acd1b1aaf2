// The query of an explanation: the line's box run through the search's own overlap test against
// the query box or each selected line, with the distance at which the search would find it; and
// the call that made the walk fail.
#include <cmath>

#include "registration/kep_explain_account.h"

KEP_EXPLAIN_NAMESPACE_BEGIN

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
