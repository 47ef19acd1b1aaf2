// How the preflight check reads a site (kep_check.h): the reader of preferences, relation and
// dataset types, and the findings every feature makes of a key that names a type or a relation.
// Internal to the check.
#ifndef KEP_CHECK_READ_H
#define KEP_CHECK_READ_H

#if defined(KEP_REAL_PLATFORM) && !defined(IPLIB)
#define IPLIB none
#endif

#include "kep_check.h"

// The platform's operations as the extension sees them, with the declarations that later
// releases dropped from their headers (PREF_set_search_scope among them).
#include <kep_platform.h>

#include <string>
#include <vector>

namespace kep_check {
namespace detail {

// At or above this platform version the data model must define var2_is_v0 itself.
const int kVersionThreshold = 80000300;

std::string joined(const std::vector<std::string>& values);

// What a type name names: no type, a type that no dataset can have, a dataset type, or a type of
// which the platform cannot tell whether it is one (when Dataset has no var2_is_v0 getter to ask
// by).
enum class TypeKind { Unknown, NotDataset, Dataset, Type };

// Reads what the extension reads, the way it reads it: preferences under the all-locations
// search scope (the caller's scope is put back when the reader goes), relation types by name.
class SiteReader {
public:
    SiteReader() {
        scope_saved_ = PREF_ask_search_scope(&saved_scope_) == ITK_ok;
        if (!scope_saved_) {
            EMH_clear_errors();
        } else if (PREF_set_search_scope(TC_preference_all) != ITK_ok) {
            EMH_clear_errors();
        }
    }
    ~SiteReader() {
        if (scope_saved_ && PREF_set_search_scope(saved_scope_) != ITK_ok) {
            EMH_clear_errors();
        }
    }
    SiteReader(const SiteReader&) = delete;
    SiteReader& operator=(const SiteReader&) = delete;

    // Every value of a key; false with *error set when the read fails.
    bool values(const char* key, std::vector<std::string>* values, std::string* error) {
        values->clear();
        int count = 0;
        char** texts = nullptr;
        const int status = PREF_ask_char_values(key, &count, &texts);
        if (status != ITK_ok) {
            MEM_free(texts);
            *error = "reading " + std::string(key) + " failed with " + platform_error(status);
            return false;
        }
        for (int i = 0; i < count && texts != nullptr; ++i) {
            values->push_back(texts[i] != nullptr ? texts[i] : "");
        }
        MEM_free(texts);  // one block: the array and its texts
        return true;
    }

    // Whether the platform knows a relation type of that name.
    bool relation_known(const std::string& name, std::string* error) {
        tag_t relation = NULLTAG;
        const int status = GRM_find_relation_type(name.c_str(), &relation);
        if (status != ITK_ok) {
            *error = platform_error(status);
            return false;
        }
        return relation != NULLTAG;
    }

    // Whether the platform knows a type of that name: asking for a method of a type that does not
    // exist fails, asking one of a type that does succeeds (with or without a method).
    bool type_known(const std::string& name) {
        METHOD_id_t method;
        method.reserved = 0;
        method.id = nullptr;
        const int status =
            METHOD_find_prop_method(name.c_str(), "object_name", PROP_ask_value_string_msg, &method);
        if (status != ITK_ok) {
            EMH_clear_errors();
            return false;
        }
        return true;
    }

    // A dataset type is one that the getter of var2_is_v0, registered on Dataset, serves: the
    // platform finds the method for every type below Dataset and for no other.
    TypeKind type_kind(const std::string& name) {
        if (!type_known(name)) {
            return TypeKind::Unknown;
        }
        if (dataset_getter_ < 0) {
            std::string error;
            dataset_getter_ = has_method("Dataset", "var2_is_v0", PROP_ask_value_logical_msg, &error) ? 1 : 0;
        }
        if (dataset_getter_ == 0) {
            return TypeKind::Type;
        }
        METHOD_id_t method;
        method.reserved = 0;
        method.id = nullptr;
        if (METHOD_find_prop_method(name.c_str(), "var2_is_v0", PROP_ask_value_logical_msg, &method) !=
            ITK_ok) {
            EMH_clear_errors();
            return TypeKind::NotDataset;
        }
        return method.id != nullptr ? TypeKind::Dataset : TypeKind::NotDataset;
    }

    // Whether a method is registered for reading a property of a type.
    bool has_method(const char* type, const char* property, const char* message, std::string* error) {
        METHOD_id_t method;
        method.reserved = 0;
        method.id = nullptr;
        const int status = METHOD_find_prop_method(type, property, message, &method);
        if (status != ITK_ok) {
            *error = platform_error(status);
            return false;
        }
        return method.id != nullptr;
    }

private:
    TC_preference_search_scope_t saved_scope_ = TC_preference_all;
    bool scope_saved_ = false;
    int dataset_getter_ = -1;  // whether Dataset has the getter of var2_is_v0; -1 until asked
};

void add(Feature* feature, Level level, const std::string& text);
bool blank_ends(const std::string& value);
// A value as the site holds it, quoted when it is empty or has a blank at either end, so that a
// stray blank shows.
std::string shown(const std::string& value);
std::string shown_list(const std::vector<std::string>& values);

// A single-valued key as the extension reads it: its first value only.
struct Single {
    bool read = false;     // false: the read failed (reported as missing)
    bool defined = false;  // the key has at least one value
    std::string value;     // the first value, "" when there is none
};

Single single(SiteReader& reader, Feature* feature, const char* key);

// How a key that names a type or a relation stands.
enum class Key {
    Unset,    // undefined, empty or unreadable: the extension treats it as missing
    Unknown,  // names nothing the extension can find (no such type or relation, or no dataset type)
    Known,
};

Key report_unset(Feature* feature, const char* key, const Single& single, const std::string& effect);
std::string blank_hint(const std::string& value);

// A key naming a dataset type. `unset_effect`: what users see when it is not set; `unknown_effect`:
// when it names a type that no dataset can have.
Key type_key(SiteReader& reader, Feature* feature, const char* key, const std::string& unset_effect,
             const std::string& unknown_effect);

// A key naming a relation type. The extension lists nothing under a relation name the platform
// does not know, so that a misspelt name narrows a lookup instead of widening it to every relation.
Key relation_key(SiteReader& reader, Feature* feature, const char* key, const std::string& unset_effect,
                 const std::string& unknown_effect);

// A dependency: the feature does not work as it should while `other` does not.
void needs(Feature* feature, const Feature& other, const std::string& effect);

}  // namespace detail
}  // namespace kep_check

#endif
