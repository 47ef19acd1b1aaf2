// The one State instance, tracked memory, the error stack, call counting and the fault injector.
#include "state.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace standin::detail {

namespace {

const char* const kOpNames[kOpCount] = {
    "MEM_alloc",
    "MEM_free",
    "EMH_ask_errors",
    "EMH_clear_errors",
    "AOM_ask_value_string",
    "AOM_ask_value_strings",
    "AOM_ask_value_double",
    "AOM_ask_value_logical",
    "AOM_ask_value_tag",
    "AOM_ask_prop_names",
    "AOM_UIF_ask_name",
    "AOM_UIF_ask_value",
    "POM_tag_to_string",
    "AE_ask_all_dataset_named_refs",
    "AE_ask_dataset",
    "BOM_ask_window_top_line",
    "BOM_line_ask_child_lines",
    "BOM_line_ask_packed_lines",
    "BOM_line_look_up_attribute",
    "BOM_line_ask_attribute_tag",
    "BOM_line_ask_attribute_string",
    "GRM_find_relation_type",
    "GRM_list_secondary_objects_only",
    "PREF_ask_search_scope",
    "PREF_set_search_scope",
    "PREF_ask_value_count",
    "PREF_ask_char_value",
    "PREF_ask_char_values",
    "TCTYPE_ask_object_type",
    "TCTYPE_ask_name",
    "TCTYPE_register_properties",
    "TCTYPE_add_runtime_property",
    "PROP_ask_owning_object",
    "METHOD_find_prop_method",
    "METHOD_register_prop_method",
    "METHOD_add_action",
    "CUSTOM_register_exit",
    "USERSERVICE_register_method",
    "USERARG_get_tag_argument",
    "USERARG_get_double_argument",
    "USERARG_get_double_array_argument",
    "USERARG_get_tag_array_argument",
    "USERSERVICE_return_tag_array",
    "ITK_ask_version",
    "TC_getenv",
    "TC_write_syslog",
    "ITK_initialize_text_services",
    "ITK_init_module",
    "ITK_auto_login",
    "ITK_exit_module",
    "ITK_ask_cli_argument",
    "ITEM_find_rev",
    "CFM_find",
    "BOM_create_window",
    "BOM_set_window_config_rule",
    "BOM_set_window_top_line",
    "BOM_close_window",
};

}  // namespace

const char* op_name(Op op) { return kOpNames[static_cast<size_t>(op)]; }

bool op_failable(Op op) {
    return op != Op::MEM_alloc && op != Op::MEM_free && op != Op::TC_getenv && op != Op::TC_write_syslog &&
           op != Op::ITK_ask_cli_argument;
}

int op_by_name(const std::string& name) {
    for (size_t i = 0; i < kOpCount; ++i) {
        if (name == kOpNames[i]) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

State& state() {
    // Never destroyed: blocks the extension still holds at exit stay reachable, and late calls
    // from other libraries' destructors find a working platform.
    static State* instance = new State;
    return *instance;
}

Site& site() { return *state().site; }

void install(std::unique_ptr<Site> new_site) {
    State& s = state();
    s.blocks.for_each([](void* block) { std::free(block); });
    s.blocks.clear();
#if defined(STANDIN_POOLED_MEMORY)
    s.pool.clear();
#endif
    s.misuse = 0;
    s.errors.clear();
    s.counts.fill(0);
    s.abs_counts.fill(0);
    s.failable = 0;
    s.abs_failable = 0;
    s.log.clear();
    s.log_names.clear();
    s.faults.clear();
    s.syslog.clear();
    s.methods.clear();
    s.method_index.clear();
    s.property_owners.clear();
    s.property_tags.clear();
    s.descriptors.clear();
    s.exits.clear();
    s.pending_registrations.clear();
    s.exit_depth = 0;
    s.services.clear();
    s.service_stack.clear();
    s.loose_return.clear();
    s.site = std::move(new_site);
    install_own_methods();
}

// --- memory ---------------------------------------------------------------------------------------

void* alloc_block(size_t n) {
#if defined(STANDIN_POOLED_MEMORY)
    if (n <= BlockPool::kLargest) {
        return state().pool.allocate(n);
    }
#endif
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    try {
        state().blocks.insert(p);
    } catch (...) {
        std::free(p);  // untracked, it could never be freed
        throw;
    }
    return p;
}

bool free_block(void* p) {
    if (p == nullptr) {
        return true;
    }
    State& s = state();
#if defined(STANDIN_POOLED_MEMORY)
    switch (s.pool.release(p)) {
        case BlockPool::Release::Freed:
            return true;
        case BlockPool::Release::NotABlock:
            ++s.misuse;
            return false;
        case BlockPool::Release::NotPooled:
            break;
    }
#endif
    if (!s.blocks.erase(p)) {
        ++s.misuse;  // freed twice, an interior pointer or never ours: recorded, not acted on
        return false;
    }
    std::free(p);
    return true;
}

char* copy_text(std::string_view text) {
    char* p = static_cast<char*>(alloc_block(text.size() + 1));
    std::memcpy(p, text.data(), text.size());
    p[text.size()] = '\0';
    return p;
}

char* copy_text(const char* text) { return text == nullptr ? nullptr : copy_text(std::string_view(text)); }

// --- errors ---------------------------------------------------------------------------------------

void push_error(int severity, int code, const std::string& text) {
    state().errors.push_back(ErrorEntry{severity, code, text});
}

int fail(Op op, int code, const std::string& text) {
    push_error(3, code, std::string(op_name(op)) + ": " + text);
    return code;
}

std::string describe(tag_t tag) {
    std::string text = "tag " + std::to_string(tag);
    const Site& st = site();
    const TagRec& r = st.rec(tag);
    uint32_t id = kNone;
    switch (r.kind) {
        case Kind::Object:
            id = st.objects[r.index].id;
            break;
        case Kind::Window:
            id = st.windows[r.index].id;
            break;
        case Kind::Line:
            id = st.lines[r.index].id;
            break;
        case Kind::Type:
            id = st.types[r.index].name;
            break;
        case Kind::RelationType:
            id = st.relation_types[r.index].name;
            break;
        default:
            break;
    }
    if (id != kNone) {
        text += " (" + std::string(st.strings.str(id)) + ")";
    }
    return text;
}

// --- calls and faults -----------------------------------------------------------------------------

int begin_op(Op op, tag_t about, tag_t about2) {
    State& s = state();
    const auto i = static_cast<size_t>(op);
    ++s.counts[i];
    ++s.abs_counts[i];
    if (s.logging) {
        s.log.push_back(static_cast<uint16_t>(i));
    }
    // MEM_alloc returns no status but can fail too (it answers null); it is not among the calls
    // that fail_nth_any counts.
    const bool with_status = op_failable(op);
    if (!with_status && op != Op::MEM_alloc) {
        return 0;
    }
    if (with_status) {
        ++s.failable;
        ++s.abs_failable;
    }
    for (const Fault& f : s.faults) {
        bool hit = false;
        switch (f.kind) {
            case Fault::NthOfOp:
                hit = f.op == static_cast<int>(i) && s.abs_counts[i] == f.target;
                break;
            case Fault::EveryOfOp:
                hit = f.op == static_cast<int>(i);
                break;
            case Fault::NthAny:
                hit = with_status && s.abs_failable == f.target;
                break;
            case Fault::Object:
                hit = (f.op < 0 || f.op == static_cast<int>(i)) && f.object != NULLTAG &&
                      (about == f.object || about2 == f.object);
                break;
        }
        if (hit) {
            return with_status ? fail(op, f.code, "injected failure") : f.code;
        }
    }
    return 0;
}

const char* env_value(const Site& st, const char* name) {
    // The site's env holds defaults: the process environment wins over them, as a shell's
    // ZODORE_DEBUG=ON must switch the trace on whatever the site says. What the control
    // interface set (set_env, hide_env) wins over the process, so that a test decides alone.
    const bool forced = st.env_forced.count(name) != 0;
    const char* value = forced ? nullptr : std::getenv(name);
    if (value == nullptr) {
        auto it = st.env.find(name);
        if (it != st.env.end()) {
            value = it->second.c_str();
        } else if (forced && st.env_hidden.count(name) == 0) {
            value = std::getenv(name);  // set_env(name, null) lifted the override
        }
    }
    return value;
}

}  // namespace standin::detail
