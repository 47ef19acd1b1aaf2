// `ask ID PROPERTY`: reads one property of one object as a client would, through the platform's
// method chain, so the extension's methods and post-actions answer where they are registered.
//
// A client reads a property with the read of its value type, so the host first decides the type:
//   1. the properties whose type the platform or the extension defines, by name (the line
//      properties, and the run-time property var2_is_v0, a logical);
//   2. otherwise the attribute of that name in the object's entry of the site file: a number is a
//      double, true/false a logical, a list a string list, a text or null a string;
//   3. otherwise a string (the stand-in then answers whether the object has the property).
// The value is shown as JSON: a text or null, the id of a tag (null for the null tag), true/false,
// a number, or a list of texts. When the read fails the value is null.
#include <base_utils/Mem.h>
#include <standin/control.h>
#include <tccore/aom_prop.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <memory>

#include "kep_host.h"

namespace kep_host {

namespace {

enum class Kind { String, Strings, Double, Tag, Logical };

struct AskOptions {
    std::string id;
    std::string property;
    tag_t object = NULLTAG;
};

Kind defined_kind(const std::string& property, bool* known) {
    static const std::map<std::string, Kind> kinds = {
        {"bl_revision", Kind::Tag},
        {"bl_parent", Kind::Tag},
        {"bl_jt_dataset_tag", Kind::Tag},
        {"bl_item_item_id", Kind::String},
        {"bl_occurrence_name", Kind::String},
        {"bl_plmxml_occ_xform", Kind::String},
        {"bl_plmxml_abs_xform", Kind::String},
        {"object_name", Kind::String},
        {"var2_is_v0", Kind::Logical},
    };
    auto it = kinds.find(property);
    *known = it != kinds.end();
    return *known ? it->second : Kind::String;
}

// The kind of the attribute as the site stores it; a string when the object has no such attribute.
Kind attribute_kind(tag_t object, const std::string& property) {
    const std::string kind = standin::attribute_kind(object, property);
    if (kind == "double") {
        return Kind::Double;
    }
    if (kind == "logical") {
        return Kind::Logical;
    }
    return kind == "strings" ? Kind::Strings : Kind::String;
}

Kind property_kind(tag_t object, const std::string& property) {
    bool known = false;
    Kind kind = defined_kind(property, &known);
    return known ? kind : attribute_kind(object, property);
}

// Owns one platform block (a string handed out by a read).
struct MemFree {
    void operator()(void* p) const { MEM_free(p); }
};
using PlatformText = std::unique_ptr<char, MemFree>;

int ask_value(tag_t object, const std::string& property, Kind kind, nlohmann::ordered_json* value) {
    *value = nullptr;
    int status = 0;
    switch (kind) {
        case Kind::String: {
            char* raw = nullptr;
            status = standin::ask_string(object, property, &raw);
            PlatformText text(raw);
            if (status == 0 && text) {
                *value = text.get();
            }
            break;
        }
        case Kind::Tag: {
            tag_t tag = NULLTAG;
            status = standin::ask_tag(object, property, &tag);
            if (status == 0) {
                *value = tag_to_json(tag);
            }
            break;
        }
        case Kind::Logical: {
            bool flag = false;
            status = standin::ask_logical(object, property, &flag);
            if (status == 0) {
                *value = flag;
            }
            break;
        }
        case Kind::Double: {
            double number = 0.0;
            status = AOM_ask_value_double(object, property.c_str(), &number);
            if (status == 0) {
                *value = number;  // a non-finite number shows as null
            }
            break;
        }
        case Kind::Strings: {
            int count = 0;
            char** raw = nullptr;
            status = AOM_ask_value_strings(object, property.c_str(), &count, &raw);
            nlohmann::ordered_json list = nlohmann::ordered_json::array();
            for (int i = 0; raw != nullptr && i < count; ++i) {
                PlatformText text(raw[i]);
                list.push_back(text ? nlohmann::ordered_json(text.get()) : nlohmann::ordered_json());
            }
            MEM_free(raw);
            if (status == 0) {
                *value = std::move(list);
            }
            break;
        }
    }
    return status;
}

}  // namespace

Command add_ask_command(CLI::App& app) {
    auto* sub = app.add_subcommand("ask", "read one property of one object as a client would");
    auto options = std::make_shared<AskOptions>();
    sub->add_option("ID", options->id, "id of the object in the site")->required();
    sub->add_option("PROPERTY", options->property, "name of the property")->required();
    Command command;
    command.prepare = [options](Host& host) { options->object = require_tag(host, "ask", options->id); };
    command.run = [options](Host& host) {
        nlohmann::ordered_json value;
        int status = ask_value(options->object, options->property,
                               property_kind(options->object, options->property), &value);
        if (status != 0) {
            // The reason, as the platform put it on its error stack.
            const std::vector<standin::ErrorEntry> errors = standin::errors();
            std::string line = "kep-host: ask: reading '" + options->property + "' of '" + options->id +
                               "' failed with status " + std::to_string(status);
            if (!errors.empty()) {
                line += ": " + errors.back().text;
            }
            std::replace(line.begin(), line.end(), '\n', ' ');
            std::cerr << line << '\n';
        }
        nlohmann::ordered_json result;
        result["status"] = status;
        result["value"] = std::move(value);
        return finish(host, std::move(result), status);
    };
    return command;
}

}  // namespace kep_host
