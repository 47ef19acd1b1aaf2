// The control interface: loading sites, client reads, observation and fault injection.
#include <standin/control.h>

#include "state.h"

namespace standin::detail {
// The site loader (site_loader.cpp): null and one line in *error when the text is refused.
std::unique_ptr<Site> load_site_text(const std::string& text, const std::string& source, std::string* error);
std::unique_ptr<Site> read_site_file(const std::string& path, std::string* error);
std::unique_ptr<Site> read_site_stream(std::FILE* file, const std::string& source, std::string* error);
}  // namespace standin::detail

namespace standin {

using namespace detail;

namespace {

bool install_loaded(std::unique_ptr<Site> loaded, const std::string& message, std::string* error) {
    const bool ok = loaded != nullptr;
    install(ok ? std::move(loaded) : std::make_unique<Site>());
    if (!ok && error != nullptr) {
        *error = message;
    }
    return ok;
}

}  // namespace

bool load_site(const std::string& json_text, const std::string& source, std::string* error) {
    std::string message;
    std::unique_ptr<Site> loaded = load_site_text(json_text, source, &message);
    return install_loaded(std::move(loaded), message, error);
}

bool load_site_file(const std::string& path, std::string* error) {
    std::string message;
    std::unique_ptr<Site> loaded = read_site_file(path, &message);
    return install_loaded(std::move(loaded), message, error);
}

bool load_site_stream(std::FILE* file, const std::string& source, std::string* error) {
    std::string message;
    std::unique_ptr<Site> loaded = read_site_stream(file, source, &message);
    return install_loaded(std::move(loaded), message, error);
}

void reset() { install(std::make_unique<Site>()); }

tag_t tag_of(const std::string& id) {
    const Site& st = site();
    const uint32_t sid = st.strings.find(id);
    return sid == kNone ? NULLTAG : st.tag_of_id(sid);
}

std::string id_of(tag_t tag) {
    const Site& st = site();
    const TagRec& r = st.rec(tag);
    switch (r.kind) {
        case Kind::Object:
            return std::string(st.strings.str(st.objects[r.index].id));
        case Kind::Window:
            return std::string(st.strings.str(st.windows[r.index].id));
        case Kind::Line:
            return std::string(st.strings.str(st.lines[r.index].id));
        default:
            return "";
    }
}

std::vector<std::pair<std::string, tag_t>> all_ids() {
    const Site& st = site();
    std::vector<std::pair<std::string, tag_t>> out;
    for (tag_t t = 1; t < st.tags.size(); ++t) {
        const Kind k = st.tags[t].kind;
        if (k == Kind::Object || k == Kind::Window || k == Kind::Line) {
            out.emplace_back(id_of(t), t);
        }
    }
    return out;
}

std::string kind_of(tag_t tag) {
    const Site& st = site();
    const TagRec& r = st.rec(tag);
    switch (r.kind) {
        case Kind::Object:
            return kClassNames[st.types[st.objects[r.index].type].cls];
        case Kind::Window:
            return "BOMWindow";
        case Kind::Line:
            return "BOMLine";
        case Kind::Type:
            return "Type";
        case Kind::RelationType:
            return "RelationType";
        case Kind::Property:
            return "Property";
        case Kind::PropertyDescriptor:
            return "PropertyDescriptor";
        case Kind::Rule:
            return "RevisionRule";
        case Kind::None:
            break;
    }
    return "";
}

std::string attribute_kind(tag_t object, const std::string& name) {
    const Site& st = site();
    const TagRec& r = st.rec(object);
    const uint32_t id = st.strings.find(name);
    if (r.kind != Kind::Object || id == kNone) {
        return "";
    }
    for (const Attribute& a : st.attributes_of(st.objects[r.index])) {
        if (a.name == id) {
            switch (a.value.kind) {
                case Msg::Double:
                    return "double";
                case Msg::Logical:
                    return "logical";
                case Msg::Strings:
                    return "strings";
                default:
                    return "string";
            }
        }
    }
    return "";
}

bool stored_line(tag_t line, StoredLine* stored) {
    const Site& st = site();
    const TagRec& r = st.rec(line);
    if (r.kind != Kind::Line || stored == nullptr) {
        return false;
    }
    const Line& l = st.lines[r.index];
    stored->has_transform = l.transform != kNone;
    stored->transform = stored->has_transform ? std::string(st.strings.str(l.transform)) : std::string();
    stored->jt = l.jt;
    return true;
}

tag_t window_of_line(tag_t line) {
    const Site& st = site();
    if (st.rec(line).kind != Kind::Line) {
        return NULLTAG;
    }
    // A packed line's parent is that of the line it is packed into: the climb ends at a top line.
    tag_t top = line;
    for (tag_t parent = st.lines[st.rec(top).index].parent; parent != NULLTAG;
         parent = st.lines[st.rec(top).index].parent) {
        top = parent;
    }
    for (const Window& w : st.windows) {
        if (w.top == top) {
            return w.tag;
        }
    }
    // A line packed into a window's top line (or into such a line) has no parent either: the
    // window is the one whose top line lists it, over packed lists alone.
    for (const Window& w : st.windows) {
        std::vector<tag_t> pending{w.top};
        while (!pending.empty()) {
            const Line& l = st.lines[st.rec(pending.back()).index];
            pending.pop_back();
            for (uint32_t k = 0; k < l.packed_count; ++k) {
                const tag_t packed = st.line_pool[l.packed_offset + k];
                if (packed == top) {
                    return w.tag;
                }
                pending.push_back(packed);
            }
        }
    }
    return NULLTAG;
}

bool env_value(const std::string& name, std::string* value) {
    const char* found = detail::env_value(site(), name.c_str());
    if (found != nullptr && value != nullptr) {
        *value = found;
    }
    return found != nullptr;
}

void set_preference(const std::string& key, const std::vector<std::string>& values) {
    site().preferences[key] = values;
}

void set_env(const std::string& name, const char* value) {
    Site& st = site();
    st.env_hidden.erase(name);
    if (value == nullptr) {
        st.env.erase(name);
    } else {
        st.env[name] = value;
        st.env_forced.insert(name);
    }
}

void hide_env(const std::string& name) {
    Site& st = site();
    st.env.erase(name);
    st.env_hidden.insert(name);
    st.env_forced.insert(name);
}

int search_scope() { return site().search_scope; }

void set_version(int version) { site().version = version; }

bool set_number(tag_t object, const std::string& attribute, double value) {
    Site& st = site();
    const uint32_t name = st.strings.find(attribute);
    if (name == kNone || st.rec(object).kind != Kind::Object) {
        return false;
    }
    const Object& o = st.objects[st.rec(object).index];
    for (uint32_t i = 0; i < o.attribute_count; ++i) {
        Attribute& a = st.attributes[o.attribute_offset + i];
        if (a.name == name && a.value.kind == Msg::Double) {
            a.value.number = value;
            return true;
        }
    }
    return false;
}

namespace {

template <class Store>
int client_read(Op op, tag_t object, const std::string& property, Msg msg, Store store) {
    try {
        Slot slot;
        const int status = read_property(op, object, property.c_str(), msg, &slot);
        store(status == ITK_ok ? slot : Slot{});
        return status;
    } catch (...) {
        return kErrInternal;
    }
}

}  // namespace

int ask_string(tag_t object, const std::string& property, char** value) {
    return client_read(Op::AOM_ask_value_string, object, property, Msg::String,
                       [&](const Slot& s) { *value = s.text; });
}

int ask_tag(tag_t object, const std::string& property, tag_t* value) {
    return client_read(Op::AOM_ask_value_tag, object, property, Msg::Tag,
                       [&](const Slot& s) { *value = s.tag; });
}

int ask_logical(tag_t object, const std::string& property, bool* value) {
    return client_read(Op::AOM_ask_value_logical, object, property, Msg::Logical,
                       [&](const Slot& s) { *value = s.flag; });
}

std::map<std::string, long> call_counts() {
    std::map<std::string, long> out;
    const State& s = state();
    for (size_t i = 0; i < kOpCount; ++i) {
        if (s.counts[i] != 0) {
            out[op_name(static_cast<Op>(i))] = s.counts[i];
        }
    }
    return out;
}

long call_count(const std::string& op) {
    const int i = op_by_name(op);
    return i < 0 ? 0 : state().counts[static_cast<size_t>(i)];
}

void set_call_log(bool on) {
    State& s = state();
    s.logging = on;
    if (!on) {
        s.log.clear();
        s.log.shrink_to_fit();
        s.log_names.clear();
        s.log_names.shrink_to_fit();
    }
}

const std::vector<std::string>& call_log() {
    State& s = state();
    if (s.log_names.size() > s.log.size()) {
        s.log_names.clear();
    }
    for (size_t i = s.log_names.size(); i < s.log.size(); ++i) {
        s.log_names.emplace_back(op_name(static_cast<Op>(s.log[i])));
    }
    return s.log_names;
}

void reset_counters() {
    State& s = state();
    s.counts.fill(0);
    s.failable = 0;
    s.log.clear();
    s.log_names.clear();
}

int live_blocks() {
#if defined(STANDIN_POOLED_MEMORY)
    return static_cast<int>(state().blocks.size() + state().pool.live());
#else
    return static_cast<int>(state().blocks.size());
#endif
}

long misuse_count() { return state().misuse; }

std::string syslog() { return state().syslog; }

void clear_syslog() { state().syslog.clear(); }

std::vector<ErrorEntry> errors() { return state().errors; }

void push_error(int severity, int code, const std::string& text) { detail::push_error(severity, code, text); }

void fail_call(const std::string& op, int n, int code) {
    const int i = op_by_name(op);
    if (i < 0 || n < 0) {
        return;
    }
    Fault f{n == 0 ? Fault::EveryOfOp : Fault::NthOfOp, i, 0, NULLTAG, code};
    f.target = state().abs_counts[static_cast<size_t>(i)] + n;
    state().faults.push_back(f);
}

void fail_nth_any(long k, int code) {
    if (k <= 0) {
        return;
    }
    state().faults.push_back(Fault{Fault::NthAny, -1, state().abs_failable + k, NULLTAG, code});
}

void fail_object(const std::string& op, tag_t object, int code) {
    const int i = op.empty() ? -1 : op_by_name(op);
    if (!op.empty() && i < 0) {
        return;
    }
    state().faults.push_back(Fault{Fault::Object, i, 0, object, code});
}

void clear_faults() { state().faults.clear(); }

std::vector<ArmedFault> armed_faults() {
    const State& s = state();
    std::vector<ArmedFault> armed;
    for (const Fault& f : s.faults) {
        ArmedFault a;
        a.kind = static_cast<int>(f.kind);
        a.op = f.op;
        a.object = f.object;
        a.code = f.code;
        a.ahead = f.kind == Fault::NthOfOp  ? f.target - s.abs_counts[static_cast<size_t>(f.op)]
                  : f.kind == Fault::NthAny ? f.target - s.abs_failable
                                            : f.target;
        armed.push_back(a);
    }
    return armed;
}

void rearm_faults(const std::vector<ArmedFault>& faults) {
    State& s = state();
    s.faults.clear();
    for (const ArmedFault& a : faults) {
        Fault f{static_cast<Fault::Kind>(a.kind), a.op, a.ahead, a.object, a.code};
        if (f.kind == Fault::NthOfOp) {
            f.target += s.abs_counts[static_cast<size_t>(f.op)];
        } else if (f.kind == Fault::NthAny) {
            f.target += s.abs_failable;
        }
        s.faults.push_back(f);
    }
}

bool is_operation(const std::string& op) { return op_by_name(op) >= 0; }

bool is_failable(const std::string& op) {
    const int i = op_by_name(op);
    return i >= 0 && (op_failable(static_cast<Op>(i)) || static_cast<Op>(i) == Op::MEM_alloc);
}

long failable_calls() { return state().failable; }

}  // namespace standin
