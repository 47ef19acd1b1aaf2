// The property method registry and the operations that define and register properties
// (METHOD_*, TCTYPE_*, PROP_ask_owning_object).
#include <property/prop.h>
#include <tccore/method.h>
#include <tccore/tctype.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>

#include "state.h"

namespace standin::detail {

int msg_by_name(const char* name) {
    for (int i = 0; i < kMsgCount; ++i) {
        if (std::strcmp(name, kMsgNames[i]) == 0) {
            return i;
        }
    }
    return -1;
}

void* encode_method(uint32_t index) { return reinterpret_cast<void*>(static_cast<uintptr_t>(index) + 1); }

// The record a METHOD_id_t names, or -1.
long decode_method(const METHOD_id_t& id) {
    const auto raw = reinterpret_cast<uintptr_t>(id.id);
    if (raw == 0 || raw > state().methods.size()) {
        return -1;
    }
    return static_cast<long>(raw - 1);
}

long find_record(tag_t type_tag, uint32_t prop, Msg msg) {
    const State& s = state();
    auto it = s.method_index.find(std::make_tuple(type_tag, prop, static_cast<int>(msg)));
    return it == s.method_index.end() ? -1 : static_cast<long>(it->second);
}

// The nearest chain for the property on the type or one of its ancestors.
long find_chain(int type, uint32_t prop, Msg msg) {
    const Site& st = site();
    if (state().method_index.empty()) {
        return -1;
    }
    for (int t = type; t >= 0; t = st.types[static_cast<size_t>(t)].parent) {
        const long r = find_record(st.types[static_cast<size_t>(t)].tag, prop, msg);
        if (r >= 0) {
            return r;
        }
    }
    return -1;
}

uint32_t add_record(tag_t type_tag, uint32_t prop, Msg msg) {
    State& s = state();
    const auto index = static_cast<uint32_t>(s.methods.size());
    MethodRecord r;
    r.type = type_tag;
    r.prop = prop;
    r.msg = msg;
    s.methods.push_back(std::move(r));
    s.method_index[std::make_tuple(type_tag, prop, static_cast<int>(msg))] = index;
    return index;
}

}  // namespace standin::detail

using namespace standin;
using namespace standin::detail;

extern "C" {

int METHOD_find_prop_method(const char* type_name, const char* property_name, const char* msg_name,
                            METHOD_id_t* method_id) {
    const Op op = Op::METHOD_find_prop_method;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (type_name == nullptr || property_name == nullptr || msg_name == nullptr || method_id == nullptr) {
            return fail(op, kErrNullArgument, "a required argument is null");
        }
        const int type = site().find_type(type_name);
        if (type < 0) {
            return fail(op, kErrNoSuchType, "no type \"" + std::string(type_name) + "\"");
        }
        method_id->reserved = 0;
        method_id->id = nullptr;
        const int msg = msg_by_name(msg_name);
        const uint32_t prop = site().strings.find(property_name);
        if (msg >= 0 && prop != kNone) {
            const long index = find_chain(type, prop, static_cast<Msg>(msg));
            if (index >= 0) {
                method_id->id = encode_method(static_cast<uint32_t>(index));
            }
        }
        return ITK_ok;
    });
}

int METHOD_register_prop_method(const char* type_name, const char* property_name, const char* msg_name,
                                METHOD_function_t base_action, TC_argument_list_t* user_args,
                                METHOD_id_t* method_id) {
    const Op op = Op::METHOD_register_prop_method;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (type_name == nullptr || property_name == nullptr || msg_name == nullptr ||
            base_action == nullptr) {
            return fail(op, kErrNullArgument, "a required argument is null");
        }
        const int type = site().find_type(type_name);
        if (type < 0) {
            return fail(op, kErrNoSuchType, "no type \"" + std::string(type_name) + "\"");
        }
        const int msg = msg_by_name(msg_name);
        if (msg < 0) {
            return fail(op, kErrBadArgument, "\"" + std::string(msg_name) + "\" is no property read message");
        }
        const uint32_t prop = site().strings.find(property_name);
        if (prop == kNone || !type_defines(type, prop)) {
            return fail(op, kErrNoSuchProperty,
                        "type \"" + std::string(type_name) + "\" has no property \"" + property_name + "\"");
        }
        const tag_t type_tag = site().types[static_cast<size_t>(type)].tag;
        long index = find_record(type_tag, prop, static_cast<Msg>(msg));
        if (index >= 0 && state().methods[static_cast<size_t>(index)].base != nullptr) {
            return fail(op, kErrDuplicate,
                        "a method for \"" + std::string(type_name) + "." + property_name +
                            "\" is already registered");
        }
        if (index < 0) {
            index = add_record(type_tag, prop, static_cast<Msg>(msg));
        }
        MethodRecord& r = state().methods[static_cast<size_t>(index)];
        r.base = base_action;
        r.base_args = user_args;
        if (method_id != nullptr) {
            method_id->reserved = 0;
            method_id->id = encode_method(static_cast<uint32_t>(index));
        }
        return ITK_ok;
    });
}

int METHOD_add_action(METHOD_id_t method_id, METHOD_action_type_t action_type,
                      METHOD_function_t action_handler, TC_argument_list_t* user_args) {
    const Op op = Op::METHOD_add_action;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        const long index = decode_method(method_id);
        if (index < 0) {
            return fail(op, kErrNoMethod, "the method identifier names no method");
        }
        if (action_handler == nullptr) {
            return fail(op, kErrNullArgument, "the action handler is null");
        }
        MethodRecord& r = state().methods[static_cast<size_t>(index)];
        if (action_type == METHOD_pre_action_type) {
            r.pre.push_back({action_handler, user_args});
        } else if (action_type == METHOD_post_action_type) {
            r.post.push_back({action_handler, user_args});
        } else {
            return fail(op, kErrBadArgument,
                        "action type " + std::to_string(static_cast<int>(action_type)) +
                            " is neither a pre- nor a post-action");
        }
        return ITK_ok;
    });
}

int PROP_ask_owning_object(tag_t prop_tag, tag_t* object) {
    const Op op = Op::PROP_ask_owning_object;
    const TagRec r = site().rec(prop_tag);
    const tag_t owner = r.kind == Kind::Property ? state().property_owners[r.index].first : NULLTAG;
    return run_op(op, prop_tag, owner, [&] {
        if (object == nullptr) {
            return fail(op, kErrNullArgument, "the object pointer is null");
        }
        if (r.kind == Kind::None) {
            return fail(op, kErrUnknownTag, describe(prop_tag) + " names nothing");
        }
        if (r.kind != Kind::Property) {
            return fail(op, kErrWrongKind, describe(prop_tag) + " is no property");
        }
        *object = owner;
        return ITK_ok;
    });
}

int TCTYPE_ask_object_type(tag_t object, tag_t* type) {
    const Op op = Op::TCTYPE_ask_object_type;
    return run_op(op, object, NULLTAG, [&] {
        if (type == nullptr) {
            return fail(op, kErrNullArgument, "the type pointer is null");
        }
        if (site().rec(object).kind == Kind::None) {
            return fail(op, kErrUnknownTag, describe(object) + " names nothing");
        }
        const int index = type_index_of(object);
        if (index < 0) {
            return fail(op, kErrWrongKind, describe(object) + " is no object, line or window");
        }
        *type = site().types[static_cast<size_t>(index)].tag;
        return ITK_ok;
    });
}

int TCTYPE_ask_name(tag_t type, char type_name[TCTYPE_name_size_c + 1]) {
    const Op op = Op::TCTYPE_ask_name;
    return run_op(op, type, NULLTAG, [&] {
        if (type_name == nullptr) {
            return fail(op, kErrNullArgument, "the name buffer is null");
        }
        const Site& st = site();
        const TagRec& r = st.rec(type);
        uint32_t name = kNone;
        if (r.kind == Kind::Type) {
            name = st.types[r.index].name;
        } else if (r.kind == Kind::RelationType) {
            name = st.relation_types[r.index].name;
        } else if (r.kind == Kind::None) {
            return fail(op, kErrUnknownTag, describe(type) + " names nothing");
        } else {
            return fail(op, kErrWrongKind, describe(type) + " is no type");
        }
        const std::string_view text = st.strings.str(name);
        const size_t n = std::min<size_t>(text.size(), TCTYPE_name_size_c);
        std::memcpy(type_name, text.data(), n);
        type_name[n] = '\0';
        return ITK_ok;
    });
}

int TCTYPE_register_properties(USER_prop_init_entry_t* entries, int n_entries) {
    const Op op = Op::TCTYPE_register_properties;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (n_entries < 0) {
            return fail(op, kErrBadArgument, "negative entry count");
        }
        if (entries == nullptr && n_entries > 0) {
            return fail(op, kErrNullArgument, "the entry table is null");
        }
        State& s = state();
        for (int i = 0; i < n_entries; ++i) {
            s.pending_registrations.push_back(
                {entries[i].type_name == nullptr ? std::string() : std::string(entries[i].type_name),
                 entries[i].user_method, entries[i].user_args});
        }
        // Inside an exit the functions run when the exit returns; otherwise right now.
        return s.exit_depth > 0 ? ITK_ok : run_pending_registrations();
    });
}

int TCTYPE_add_runtime_property(tag_t type_tag, const char* prop_name, PROP_value_type_t value_type,
                                int max_string_length, tag_t* prop_desc) {
    const Op op = Op::TCTYPE_add_runtime_property;
    return run_op(op, type_tag, NULLTAG, [&] {
        if (prop_name == nullptr) {
            return fail(op, kErrNullArgument, "the property name is null");
        }
        Site& st = site();
        const TagRec r = st.rec(type_tag);
        if (r.kind == Kind::None) {
            return fail(op, kErrUnknownTag, describe(type_tag) + " names nothing");
        }
        if (r.kind != Kind::Type) {
            return fail(op, kErrWrongKind, describe(type_tag) + " is no type");
        }
        if (*prop_name == '\0') {
            return fail(op, kErrBadArgument, "the property name is empty");
        }
        if (static_cast<int>(value_type) < PROP_untyped ||
            static_cast<int>(value_type) > PROP_untyped_relation || max_string_length < 0) {
            return fail(op, kErrBadArgument, "value type or string length out of range");
        }
        const uint32_t prop = st.strings.intern(prop_name);
        if (type_defines(static_cast<int>(r.index), prop)) {
            return fail(op, kErrDuplicate,
                        "type \"" + std::string(st.strings.str(st.types[r.index].name)) +
                            "\" already has a property \"" + prop_name + "\"");
        }
        st.types[r.index].runtime.push_back({prop, static_cast<int>(value_type)});
        State& s = state();
        const auto tag = static_cast<tag_t>(st.tags.size());
        st.tags.push_back({Kind::PropertyDescriptor, static_cast<uint32_t>(s.descriptors.size())});
        s.descriptors.emplace_back(type_tag, prop);
        if (prop_desc != nullptr) {
            *prop_desc = tag;
        }
        return ITK_ok;
    });
}

}  // extern "C"
