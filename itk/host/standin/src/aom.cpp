// Object properties as clients and the extension read them (AOM_*), their display forms and
// POM_tag_to_string.
#include <pom/pom/pom.h>
#include <tccore/aom_prop.h>

#include <cmath>
#include <cstring>

#include "state.h"

using namespace standin;
using namespace standin::detail;

namespace {

template <class Store>
int read(Op op, tag_t object, const char* prop_name, Msg msg, Store store) {
    return run_op(op, object, NULLTAG, [&] {
        Slot slot;
        const int status = read_property(op, object, prop_name, msg, &slot);
        store(status == ITK_ok ? slot : Slot{});
        return status;
    });
}

// Shortest text that reads back as the same double.
std::string display_double(double v) {
    char text[64];
    for (int precision = 15; precision <= 17; ++precision) {
        std::snprintf(text, sizeof text, "%.*g", precision, v);
        if (std::strtod(text, nullptr) == v || std::isnan(v)) {
            break;
        }
    }
    return text;
}

// A tag as a person would see it: the object's name, else its id.
std::string display_tag(tag_t tag) {
    const Site& st = site();
    const TagRec& r = st.rec(tag);
    if (r.kind == Kind::Object) {
        const Object& o = st.objects[r.index];
        for (const Attribute& a : st.attributes_of(o)) {
            if (a.name == st.p_object_name && a.value.text != kNone) {
                return std::string(st.strings.str(a.value.text));
            }
        }
        return std::string(st.strings.str(o.id));
    }
    const std::string text = describe(tag);
    const size_t open = text.find(" (");
    return tag == NULLTAG              ? std::string()
           : open == std::string::npos ? text
                                       : text.substr(open + 2, text.size() - open - 3);
}

// "var2_bb_x1" -> "Var2 Bb X1".
std::string display_name(const std::string& prop) {
    std::string text;
    bool start = true;
    for (char c : prop) {
        if (c == '_') {
            text += ' ';
            start = true;
        } else {
            text += start && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
            start = false;
        }
    }
    return text;
}

// Every property name of an object, in listing order.
std::vector<uint32_t> prop_names_of(tag_t object) {
    const Site& st = site();
    const TagRec& r = st.rec(object);
    std::vector<uint32_t> names;
    if (r.kind == Kind::Object) {
        const Object& o = st.objects[r.index];
        names.push_back(st.p_object_name);
        names.push_back(st.p_object_type);
        for (const Attribute& a : st.attributes_of(o)) {
            if (a.name != st.p_object_name) {
                names.push_back(a.name);
            }
        }
    } else if (r.kind == Kind::Line) {
        names.assign(st.p_line.begin(), st.p_line.end());
    }
    std::vector<int> chain;
    for (int t = type_index_of(object); t >= 0; t = st.types[static_cast<size_t>(t)].parent) {
        chain.insert(chain.begin(), t);
    }
    for (int t : chain) {
        for (const RuntimeProperty& rp : st.types[static_cast<size_t>(t)].runtime) {
            names.push_back(rp.name);
        }
    }
    return names;
}

int check_object(Op op, tag_t object) {
    const TagRec& r = site().rec(object);
    if (r.kind == Kind::None) {
        return fail(op, kErrUnknownTag, describe(object) + " names nothing");
    }
    if (type_index_of(object) < 0) {
        return fail(op, kErrWrongKind, describe(object) + " is no object, line or window");
    }
    return ITK_ok;
}

// PUID-like text: 14 characters; the first six carry the tag itself (so texts are unique), the
// rest are mixed from it.
std::string puid(tag_t tag) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_$";
    uint64_t spread = static_cast<uint64_t>(tag) * 0x9E3779B97F4A7C15ULL;
    spread ^= spread >> 29;
    const uint64_t low = static_cast<uint32_t>(tag * 2654435761u);  // a bijection of the tag
    std::string text;
    for (int i = 0; i < 6; ++i) {
        text += alphabet[(low >> (6 * i)) & 63];
    }
    for (int i = 0; i < 8; ++i) {
        text += alphabet[(spread >> (6 * i)) & 63];
    }
    return text;
}

}  // namespace

extern "C" {

int AOM_ask_value_string(tag_t object, const char* prop_name, char** value) {
    if (value == nullptr) {
        return run_op(Op::AOM_ask_value_string, object, NULLTAG, [&] {
            return fail(Op::AOM_ask_value_string, kErrNullArgument, "the value pointer is null");
        });
    }
    return read(Op::AOM_ask_value_string, object, prop_name, Msg::String,
                [&](const Slot& s) { *value = s.text; });
}

int AOM_ask_value_strings(tag_t object, const char* prop_name, int* num, char*** values) {
    if (num == nullptr || values == nullptr) {
        return run_op(Op::AOM_ask_value_strings, object, NULLTAG, [&] {
            return fail(Op::AOM_ask_value_strings, kErrNullArgument, "an output pointer is null");
        });
    }
    return read(Op::AOM_ask_value_strings, object, prop_name, Msg::Strings, [&](const Slot& s) {
        *num = s.count;
        *values = s.texts;
    });
}

int AOM_ask_value_double(tag_t object, const char* prop_name, double* value) {
    if (value == nullptr) {
        return run_op(Op::AOM_ask_value_double, object, NULLTAG, [&] {
            return fail(Op::AOM_ask_value_double, kErrNullArgument, "the value pointer is null");
        });
    }
    return read(Op::AOM_ask_value_double, object, prop_name, Msg::Double,
                [&](const Slot& s) { *value = s.number; });
}

int AOM_ask_value_logical(tag_t object, const char* prop_name, logical* value) {
    if (value == nullptr) {
        return run_op(Op::AOM_ask_value_logical, object, NULLTAG, [&] {
            return fail(Op::AOM_ask_value_logical, kErrNullArgument, "the value pointer is null");
        });
    }
    return read(Op::AOM_ask_value_logical, object, prop_name, Msg::Logical,
                [&](const Slot& s) { *value = s.flag; });
}

int AOM_ask_value_tag(tag_t object, const char* prop_name, tag_t* value) {
    if (value == nullptr) {
        return run_op(Op::AOM_ask_value_tag, object, NULLTAG, [&] {
            return fail(Op::AOM_ask_value_tag, kErrNullArgument, "the value pointer is null");
        });
    }
    return read(Op::AOM_ask_value_tag, object, prop_name, Msg::Tag, [&](const Slot& s) { *value = s.tag; });
}

int AOM_ask_prop_names(tag_t object, int* prop_count, char*** prop_names) {
    const Op op = Op::AOM_ask_prop_names;
    return run_op(op, object, NULLTAG, [&] {
        if (prop_count == nullptr || prop_names == nullptr) {
            return fail(op, kErrNullArgument, "an output pointer is null");
        }
        if (int status = check_object(op, object)) {
            return status;
        }
        const std::vector<uint32_t> names = prop_names_of(object);
        *prop_count = static_cast<int>(names.size());
        *prop_names = nullptr;
        if (names.empty()) {
            return ITK_ok;
        }
        // One block: the pointer array, then the texts it points at.
        size_t size = names.size() * sizeof(char*);
        for (uint32_t n : names) {
            size += site().strings.str(n).size() + 1;
        }
        char** block = static_cast<char**>(alloc_block(size));
        char* text = reinterpret_cast<char*>(block + names.size());
        for (size_t i = 0; i < names.size(); ++i) {
            const std::string_view name = site().strings.str(names[i]);
            std::memcpy(text, name.data(), name.size());
            text[name.size()] = '\0';
            block[i] = text;
            text += name.size() + 1;
        }
        *prop_names = block;
        return ITK_ok;
    });
}

int AOM_UIF_ask_name(tag_t object, const char* prop_name, char** disp_name) {
    const Op op = Op::AOM_UIF_ask_name;
    return run_op(op, object, NULLTAG, [&] {
        if (prop_name == nullptr || disp_name == nullptr) {
            return fail(op, kErrNullArgument, "a required argument is null");
        }
        *disp_name = nullptr;
        Msg msg;
        if (int status = natural_msg(op, object, site().strings.find(prop_name), &msg)) {
            return status;
        }
        *disp_name = copy_text(display_name(prop_name));
        return ITK_ok;
    });
}

int AOM_UIF_ask_value(tag_t object, const char* prop_name, char** d_value) {
    const Op op = Op::AOM_UIF_ask_value;
    return run_op(op, object, NULLTAG, [&] {
        if (prop_name == nullptr || d_value == nullptr) {
            return fail(op, kErrNullArgument, "a required argument is null");
        }
        *d_value = nullptr;
        Msg msg;
        if (int status = natural_msg(op, object, site().strings.find(prop_name), &msg)) {
            return status;
        }
        Slot slot;
        if (int status = read_property(op, object, prop_name, msg, &slot)) {
            return status;
        }
        std::string text;
        switch (msg) {
            case Msg::String:
                text = slot.text == nullptr ? "" : slot.text;
                break;
            case Msg::Strings:
                for (int i = 0; i < slot.count; ++i) {
                    text += (i == 0 ? "" : ",") + std::string(slot.texts[i] == nullptr ? "" : slot.texts[i]);
                }
                break;
            case Msg::Double:
                text = display_double(slot.number);
                break;
            case Msg::Tag:
                text = display_tag(slot.tag);
                break;
            case Msg::Logical:
                text = slot.flag ? "True" : "False";
                break;
        }
        release_slot(msg, &slot);
        *d_value = copy_text(text);
        return ITK_ok;
    });
}

int POM_tag_to_string(tag_t tag, char** string) {
    const Op op = Op::POM_tag_to_string;
    return run_op(op, tag, NULLTAG, [&] {
        if (string == nullptr) {
            return fail(op, kErrNullArgument, "the string pointer is null");
        }
        if (site().rec(tag).kind == Kind::None) {
            return fail(op, kErrUnknownTag, describe(tag) + " names nothing");
        }
        *string = copy_text(puid(tag));
        return ITK_ok;
    });
}

}  // extern "C"
