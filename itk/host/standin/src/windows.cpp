// Opening structures from a batch program: items' revisions by id, revision rules by name, and
// BOM windows created, configured, given a top line and closed (tccore/item.h, cfm/cfm.h,
// bom/bom.h).
//
// The stand-in's structures are the site's windows. A window created here shows the structure of
// the first site window whose top line carries the revision asked for: it shares that window's
// lines (a line's window, for window_of_line, stays the site window). A revision no site window
// starts from has no structure here, and setting it as a top line fails. A revision's id is its
// "item_revision_id" attribute when the site gives one, else the part of its site id after the
// last "/" (part2/A has the id A). Revision rules are those named in the site's preference
// STANDIN_revision_rules; a rule changes nothing in what a window shows.
#include <bom/bom.h>
#include <cfm/cfm.h>
#include <tccore/item.h>

#include <cstring>

#include "state.h"

using namespace standin;
using namespace standin::detail;

namespace {

const char kRulesPreference[] = "STANDIN_revision_rules";

std::string text_attribute(const Site& st, const Object& o, uint32_t name) {
    for (const Attribute& a : st.attributes_of(o)) {
        if (a.name == name && a.value.kind == Msg::String && a.value.text != kNone) {
            return std::string(st.strings.str(a.value.text));
        }
    }
    return "";
}

std::string revision_id_of(const Site& st, const Object& o) {
    const uint32_t name = st.strings.find("item_revision_id");
    if (name != kNone) {
        const std::string id = text_attribute(st, o, name);
        if (!id.empty()) {
            return id;
        }
    }
    const std::string site_id(st.strings.str(o.id));
    const size_t slash = site_id.rfind('/');
    return slash == std::string::npos ? std::string() : site_id.substr(slash + 1);
}

int expect_open_window(Op op, tag_t window) {
    const TagRec& r = site().rec(window);
    if (r.kind == Kind::None) {
        return fail(op, kErrUnknownTag, describe(window) + " names nothing (a closed window names nothing)");
    }
    if (r.kind != Kind::Window) {
        return fail(op, kErrWrongKind, describe(window) + " is no BOM window");
    }
    return ITK_ok;
}

}  // namespace

extern "C" {

int ITEM_find_rev(const char* search_id, const char* revision_id, tag_t* revision) {
    const Op op = Op::ITEM_find_rev;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (search_id == nullptr || revision_id == nullptr || revision == nullptr) {
            return fail(op, kErrNullArgument, "a required argument is null");
        }
        *revision = NULLTAG;
        const Site& st = site();
        for (const Object& o : st.objects) {
            if (st.types[o.type].cls != kItemRevision || text_attribute(st, o, st.p_item_id) != search_id ||
                revision_id_of(st, o) != revision_id) {
                continue;
            }
            *revision = o.tag;
            break;
        }
        return ITK_ok;
    });
}

int CFM_find(const char* name, tag_t* rule) {
    const Op op = Op::CFM_find;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (name == nullptr || rule == nullptr) {
            return fail(op, kErrNullArgument, "a required argument is null");
        }
        *rule = NULLTAG;
        Site& st = site();
        auto known = st.preferences.find(kRulesPreference);
        if (known == st.preferences.end()) {
            return ITK_ok;
        }
        bool listed = false;
        for (const std::string& r : known->second) {
            listed = listed || r == name;
        }
        if (!listed) {
            return ITK_ok;
        }
        // Each name has one rule object; its tag is made the first time it is found.
        for (tag_t t = 1; t < st.tags.size(); ++t) {
            if (st.tags[t].kind == Kind::Rule && st.rules[st.tags[t].index] == name) {
                *rule = t;
                return ITK_ok;
            }
        }
        st.rules.push_back(name);
        st.tags.push_back({Kind::Rule, static_cast<uint32_t>(st.rules.size() - 1)});
        *rule = static_cast<tag_t>(st.tags.size() - 1);
        return ITK_ok;
    });
}

int BOM_create_window(tag_t* window) {
    const Op op = Op::BOM_create_window;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (window == nullptr) {
            return fail(op, kErrNullArgument, "the window pointer is null");
        }
        Site& st = site();
        Window w;
        w.tag = static_cast<tag_t>(st.tags.size());
        w.id = st.strings.add("(window " + std::to_string(w.tag) + ")");
        st.windows.push_back(w);
        st.tags.push_back({Kind::Window, static_cast<uint32_t>(st.windows.size() - 1)});
        *window = w.tag;
        return ITK_ok;
    });
}

int BOM_set_window_config_rule(tag_t window, tag_t config_rule) {
    const Op op = Op::BOM_set_window_config_rule;
    return run_op(op, window, config_rule, [&] {
        if (int status = expect_open_window(op, window)) {
            return status;
        }
        if (site().rec(config_rule).kind != Kind::Rule) {
            return fail(op, kErrWrongKind, describe(config_rule) + " is no revision rule");
        }
        return ITK_ok;
    });
}

int BOM_set_window_top_line(tag_t window, tag_t item, tag_t item_revision, tag_t bv, tag_t* top_bom_line) {
    const Op op = Op::BOM_set_window_top_line;
    return run_op(op, window, item_revision, [&] {
        if (top_bom_line == nullptr) {
            return fail(op, kErrNullArgument, "the line pointer is null");
        }
        if (int status = expect_open_window(op, window)) {
            return status;
        }
        if (item != NULLTAG || bv != NULLTAG) {
            return fail(op, kErrBadArgument,
                        "the stand-in opens a revision's default view only (item and view null)");
        }
        Site& st = site();
        const TagRec& r = st.rec(item_revision);
        if (r.kind != Kind::Object || st.types[st.objects[r.index].type].cls != kItemRevision) {
            return fail(op, kErrWrongKind, describe(item_revision) + " is no item revision");
        }
        for (const Window& w : st.windows) {
            if (w.id != kNone && w.top != NULLTAG &&
                st.lines[st.rec(w.top).index].revision == item_revision &&
                st.strings.find(std::string(st.strings.str(w.id))) != kNone) {
                st.windows[st.rec(window).index].top = w.top;
                *top_bom_line = w.top;
                return ITK_ok;
            }
        }
        return fail(op, kErrBadArgument, describe(item_revision) + " starts no structure of the site");
    });
}

int BOM_close_window(tag_t window) {
    const Op op = Op::BOM_close_window;
    return run_op(op, window, NULLTAG, [&] {
        if (int status = expect_open_window(op, window)) {
            return status;
        }
        Site& st = site();
        const uint32_t index = st.rec(window).index;
        st.windows[index].top = NULLTAG;
        st.tags[window].kind = Kind::None;
        return ITK_ok;
    });
}

}  // extern "C"
