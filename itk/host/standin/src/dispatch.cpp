// Properties: the dispatch of a property read through its method chain, the stored values behind
// it and the platform's own line methods. The operations that define and register properties
// are in registry.cpp.
#include <property/prop.h>
#include <tccore/method.h>
#include <tccore/tctype.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <sstream>

#include "state.h"

namespace standin::detail {

// --- types ----------------------------------------------------------------------------------------

int type_index_of(tag_t object) {
    const Site& st = site();
    const TagRec& r = st.rec(object);
    switch (r.kind) {
        case Kind::Object:
            return static_cast<int>(st.objects[r.index].type);
        case Kind::Line:
            return kBOMLine;
        case Kind::Window:
            return kBOMWindow;
        default:
            return -1;
    }
}

const RuntimeProperty* find_runtime(int type, uint32_t prop) {
    const Site& st = site();
    for (int t = type; t >= 0; t = st.types[static_cast<size_t>(t)].parent) {
        for (const RuntimeProperty& r : st.types[static_cast<size_t>(t)].runtime) {
            if (r.name == prop) {
                return &r;
            }
        }
    }
    return nullptr;
}

// Whether a property of that name is defined on the type (or inherited): the class's own
// attributes, the attributes the site's objects of the type carry, and run-time properties.
bool type_defines(int type, uint32_t prop) {
    const Site& st = site();
    if (find_runtime(type, prop) != nullptr) {
        return true;
    }
    for (int t = type; t >= 0; t = st.types[static_cast<size_t>(t)].parent) {
        const Type& ty = st.types[static_cast<size_t>(t)];
        if (ty.attributes.count(prop) != 0) {
            return true;
        }
        if (ty.parent < 0) {
            switch (ty.cls) {
                case kBOMLine:
                    return std::find(st.p_line.begin(), st.p_line.end(), prop) != st.p_line.end();
                case kBOMWindow:
                    return false;
                default:
                    return prop == st.p_object_name || prop == st.p_object_type ||
                           (ty.cls == kItemRevision && prop == st.p_item_id);
            }
        }
    }
    return false;
}

namespace {

int line_attribute(uint32_t prop) {
    const Site& st = site();
    for (size_t i = 0; i < st.p_line.size(); ++i) {
        if (st.p_line[i] == prop) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

char* copy_interned(uint32_t id) { return id == kNone ? nullptr : copy_text(site().strings.str(id)); }

int wrong_type(Op op, tag_t object, uint32_t prop, Msg held, Msg asked) {
    return fail(op, kErrWrongValueType,
                "property \"" + std::string(site().strings.str(prop)) + "\" of " + describe(object) +
                    " holds " + value_kind_name(held) + ", not " + value_kind_name(asked));
}

int no_property(Op op, tag_t object, const std::string& prop) {
    return fail(op, kErrNoSuchProperty, describe(object) + " has no property \"" + prop + "\"");
}

int fill_from_value(Op op, tag_t object, uint32_t prop, const Value& v, Msg msg, Slot* slot) {
    if (v.kind != msg) {
        return wrong_type(op, object, prop, v.kind, msg);
    }
    switch (msg) {
        case Msg::String:
            slot->text = copy_interned(v.text);
            break;
        case Msg::Strings: {
            const Range<uint32_t> texts = site().texts_of(v);
            slot->count = static_cast<int>(texts.size());
            if (!texts.empty()) {
                slot->texts = static_cast<char**>(alloc_block(texts.size() * sizeof(char*)));
                for (size_t i = 0; i < texts.size(); ++i) {
                    slot->texts[i] = copy_interned(texts[i]);
                }
            }
            break;
        }
        case Msg::Double:
            slot->number = v.number;
            break;
        case Msg::Tag:
            slot->tag = NULLTAG;  // the site stores no tag values
            break;
        case Msg::Logical:
            slot->flag = v.flag;
            break;
    }
    return ITK_ok;
}

// The value behind a property when no method chain answers: the stored attribute, the line's own
// attributes, or the empty value of a run-time property.
int plain_read(Op op, tag_t object, int type, uint32_t prop, Msg msg, Slot* slot) {
    const Site& st = site();
    const TagRec& r = st.rec(object);
    if (r.kind == Kind::Line) {
        const Line& line = st.lines[r.index];
        const int a = line_attribute(prop);
        if (a >= 0) {
            const bool tag_valued = a == 0 || a == 1 || a == 6;
            const Msg held = tag_valued ? Msg::Tag : Msg::String;
            if (msg != held) {
                return wrong_type(op, object, prop, held, msg);
            }
            switch (a) {
                case 0:
                    slot->tag = line.revision;
                    break;
                case 1:
                    slot->tag = line.parent;
                    break;
                case 2: {
                    const Object& rev = st.objects[st.rec(line.revision).index];
                    for (const Attribute& attribute : st.attributes_of(rev)) {
                        if (attribute.name == st.p_item_id) {
                            slot->text = copy_interned(attribute.value.text);
                        }
                    }
                    break;
                }
                case 3:
                    slot->text = copy_interned(line.occurrence_name);
                    break;
                default:
                    break;  // a line property the platform has no method for: no value
            }
            return ITK_ok;
        }
    } else if (r.kind == Kind::Object) {
        const Object& o = st.objects[r.index];
        if (prop == st.p_object_type) {
            if (msg != Msg::String) {
                return wrong_type(op, object, prop, Msg::String, msg);
            }
            slot->text = copy_interned(st.types[o.type].name);
            return ITK_ok;
        }
        for (const Attribute& attribute : st.attributes_of(o)) {
            if (attribute.name == prop) {
                return fill_from_value(op, object, prop, attribute.value, msg, slot);
            }
        }
    }
    if (find_runtime(type, prop) != nullptr) {
        return ITK_ok;  // a run-time property without a method has no value
    }
    return no_property(op, object, std::string(st.strings.str(prop)));
}

int own_value(tag_t object, uint32_t prop, Slot* slot) {
    const Site& st = site();
    const Line& line = st.lines[st.rec(object).index];
    switch (line_attribute(prop)) {
        case 4:
            slot->text = copy_interned(line.transform);
            break;
        case 5:
            slot->text = copy_text(abs_transform_text(line));
            break;
        case 6:
            slot->tag = line.jt;
            break;
        default:
            break;
    }
    return ITK_ok;
}

int invoke(METHOD_function_t fn, METHOD_message_t* m, TC_argument_list_t* args, tag_t prop_tag, Msg msg,
           Slot* slot) {
    m->user_args = args;
    switch (msg) {
        case Msg::String:
            return call_method(fn, m, prop_tag, &slot->text);
        case Msg::Strings:
            return call_method(fn, m, prop_tag, &slot->count, &slot->texts);
        case Msg::Double:
            return call_method(fn, m, prop_tag, &slot->number);
        case Msg::Tag:
            return call_method(fn, m, prop_tag, &slot->tag);
        case Msg::Logical:
            return call_method(fn, m, prop_tag, &slot->flag);
    }
    return ITK_ok;
}

// Runs a chain: pre-actions, the registered method or else the platform's own, post-actions;
// stops at the first non-zero status. Everything needed is copied first: the methods may read
// other properties (and so re-enter here) or register further methods.
int run_chain(tag_t object, uint32_t prop, Msg msg, long index, Slot* slot) {
    const MethodRecord chain = state().methods[static_cast<size_t>(index)];
    const tag_t prop_tag = property_tag(object, prop);
    METHOD_message_t m{};
    m.object = prop_tag;  // property messages are sent to the property; the object is object_tag
    m.method.id = encode_method(static_cast<uint32_t>(index));
    m.object_tag = object;
    m.prop_name = site().strings.c_str(prop);
    int status = ITK_ok;
    for (const Action& a : chain.pre) {
        if (status == ITK_ok) {
            status = invoke(a.fn, &m, a.args, prop_tag, msg, slot);
        }
    }
    if (status == ITK_ok) {
        if (chain.base != nullptr) {
            status = invoke(chain.base, &m, chain.base_args, prop_tag, msg, slot);
        } else if (chain.own) {
            status = own_value(object, prop, slot);
        }
    }
    for (const Action& a : chain.post) {
        if (status == ITK_ok) {
            status = invoke(a.fn, &m, a.args, prop_tag, msg, slot);
        }
    }
    return status;
}

// --- transforms -------------------------------------------------------------------------------------

using Matrix = std::array<double, 16>;  // row-major

// Reads the text form (16 numbers, column by column); false when fewer than 16 numbers convert.
bool parse_transform(const std::string& text, Matrix* m) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    double v[16];
    for (double& x : v) {
        if (!(in >> x)) {
            return false;
        }
    }
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r) {
            (*m)[static_cast<size_t>(4 * r + c)] = v[4 * c + r];
        }
    }
    return true;
}

Matrix identity() {
    Matrix m{};
    m[0] = m[5] = m[10] = m[15] = 1.0;
    return m;
}

Matrix multiply(const Matrix& a, const Matrix& b) {
    Matrix r{};
    for (size_t i = 0; i < 4; ++i) {
        for (size_t j = 0; j < 4; ++j) {
            double sum = 0.0;
            for (size_t k = 0; k < 4; ++k) {
                sum += a[4 * i + k] * b[4 * k + j];
            }
            r[4 * i + j] = sum;
        }
    }
    return r;
}

// The type index of a tag that can have properties (an object, a line or a window); a failure for
// any other tag.
int holder_type(Op op, tag_t object, int* type) {
    if (site().rec(object).kind == Kind::None) {
        return fail(op, kErrUnknownTag, describe(object) + " names nothing");
    }
    *type = type_index_of(object);
    if (*type < 0) {
        return fail(op, kErrWrongKind, describe(object) + " is no object, line or window");
    }
    return ITK_ok;
}

}  // namespace

// The product of the stored transforms from the top line down to this line. A line without a
// stored transform, or with one that does not hold 16 numbers, counts as the identity.
std::string abs_transform_text(const Line& line) {
    const Site& st = site();
    std::vector<const Line*> chain;
    for (const Line* l = &line;;) {
        chain.push_back(l);
        if (l->parent == NULLTAG) {
            break;
        }
        l = &st.lines[st.rec(l->parent).index];
    }
    Matrix m = identity();
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        Matrix own = identity();
        if ((*it)->transform != kNone &&
            !parse_transform(std::string(st.strings.str((*it)->transform)), &own)) {
            own = identity();
        }
        m = multiply(m, own);
    }
    std::string text;
    char number[64];
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r) {
            std::snprintf(number, sizeof number, "%.16g", m[static_cast<size_t>(4 * r + c)]);
            if (!text.empty()) {
                text += ' ';
            }
            text += number;
        }
    }
    return text;
}

int call_method(METHOD_function_t f, METHOD_message_t* message, ...) {
    va_list args;
    va_start(args, message);
    const int status = f(message, args);
    va_end(args);
    return status;
}

tag_t property_tag(tag_t object, uint32_t prop) {
    State& s = state();
    const uint64_t key = (static_cast<uint64_t>(object) << 32) | prop;
    const tag_t known = s.property_tags.find(key, NULLTAG);  // a property tag is never NULLTAG
    if (known != NULLTAG) {
        return known;
    }
    Site& st = site();
    const auto tag = static_cast<tag_t>(st.tags.size());
    st.tags.push_back({Kind::Property, static_cast<uint32_t>(s.property_owners.size())});
    s.property_owners.emplace_back(object, prop);
    s.property_tags.insert(key, tag);
    return tag;
}

void release_slot(Msg msg, Slot* slot) {
    if (msg == Msg::String) {
        free_block(slot->text);
    } else if (msg == Msg::Strings && slot->texts != nullptr) {
        for (int i = 0; i < slot->count; ++i) {
            free_block(slot->texts[i]);
        }
        free_block(slot->texts);
    }
    *slot = Slot{};
}

int read_property(Op op, tag_t object, const char* prop_name, Msg msg, Slot* slot) {
    if (prop_name == nullptr) {
        return fail(op, kErrNullArgument, "the property name is null");
    }
    const Site& st = site();
    int type = -1;
    if (const int status = holder_type(op, object, &type)) {
        return status;
    }
    const uint32_t prop = st.strings.find(prop_name);
    if (prop == kNone) {
        return no_property(op, object, prop_name);
    }
    const long chain = find_chain(type, prop, msg);
    const int status = chain >= 0 ? run_chain(object, prop, msg, chain, slot)
                                  : plain_read(op, object, type, prop, msg, slot);
    if (status != ITK_ok) {
        release_slot(msg, slot);
    }
    return status;
}

int natural_msg(Op op, tag_t object, uint32_t prop, Msg* msg) {
    const Site& st = site();
    int type = -1;
    if (const int status = holder_type(op, object, &type)) {
        return status;
    }
    const TagRec& r = st.rec(object);
    if (prop == kNone) {
        return fail(op, kErrNoSuchProperty, describe(object) + " has no such property");
    }
    if (r.kind == Kind::Line) {
        const int a = line_attribute(prop);
        if (a >= 0) {
            *msg = (a == 0 || a == 1 || a == 6) ? Msg::Tag : Msg::String;
            return ITK_ok;
        }
    } else if (r.kind == Kind::Object) {
        if (prop == st.p_object_type) {
            *msg = Msg::String;
            return ITK_ok;
        }
        for (const Attribute& attribute : st.attributes_of(st.objects[r.index])) {
            if (attribute.name == prop) {
                *msg = attribute.value.kind;
                return ITK_ok;
            }
        }
    }
    if (const RuntimeProperty* rp = find_runtime(type, prop)) {
        switch (rp->value_type) {
            case PROP_logical:
                *msg = Msg::Logical;
                return ITK_ok;
            case PROP_double:
            case PROP_float:
            case PROP_int:
            case PROP_short:
                *msg = Msg::Double;
                return ITK_ok;
            case PROP_typed_reference:
            case PROP_untyped_reference:
            case PROP_external_reference:
            case PROP_typed_relation:
            case PROP_untyped_relation:
                *msg = Msg::Tag;
                return ITK_ok;
            case -1:
                // Declared by the site without a type: whatever message a method was registered for.
                for (Msg m : {Msg::String, Msg::Tag, Msg::Logical, Msg::Double, Msg::Strings}) {
                    if (find_chain(type, prop, m) >= 0) {
                        *msg = m;
                        return ITK_ok;
                    }
                }
                *msg = Msg::String;
                return ITK_ok;
            default:
                *msg = Msg::String;
                return ITK_ok;
        }
    }
    return fail(op, kErrNoSuchProperty,
                describe(object) + " has no property \"" + std::string(st.strings.str(prop)) + "\"");
}

void install_own_methods() {
    const Site& st = site();
    const tag_t line_type = st.types[kBOMLine].tag;
    if (st.line_methods[kOccXform]) {
        state().methods[add_record(line_type, st.p_line[4], Msg::String)].own = true;
    }
    if (st.line_methods[kAbsXform]) {
        state().methods[add_record(line_type, st.p_line[5], Msg::String)].own = true;
    }
    if (st.line_methods[kJtTag]) {
        state().methods[add_record(line_type, st.p_line[6], Msg::Tag)].own = true;
    }
}

int run_pending_registrations() {
    State& s = state();
    int status = ITK_ok;
    while (!s.pending_registrations.empty()) {
        std::vector<TypeRegistration> table;
        table.swap(s.pending_registrations);
        for (const TypeRegistration& entry : table) {
            if (entry.type_name.empty() || entry.fn == nullptr) {
                continue;
            }
            const int type = site().find_type(entry.type_name);
            if (type < 0) {
                const int code = fail(Op::TCTYPE_register_properties, kErrNoSuchType,
                                      "no type \"" + entry.type_name + "\" for its registration function");
                status = status == ITK_ok ? code : status;
                continue;
            }
            const tag_t type_tag = site().types[static_cast<size_t>(type)].tag;
            METHOD_message_t m{};
            m.object = type_tag;
            m.object_tag = type_tag;
            m.user_args = entry.args;
            const int st = call_method(entry.fn, &m, type_tag);
            status = status == ITK_ok ? st : status;
        }
    }
    return status;
}

}  // namespace standin::detail
