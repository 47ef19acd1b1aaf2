// How the preflight check reads a site (kep_check_read.h).
#include "kep_check_read.h"

#include <cctype>

namespace kep_check {
namespace detail {

std::string joined(const std::vector<std::string>& values) {
    std::string text;
    for (size_t i = 0; i < values.size(); ++i) {
        text += (i == 0 ? "" : ", ") + values[i];
    }
    return text;
}

void add(Feature* feature, Level level, const std::string& text) {
    feature->findings.push_back({level, text});
}

bool blank_ends(const std::string& value) {
    return !value.empty() && (std::isspace(static_cast<unsigned char>(value.front())) != 0 ||
                              std::isspace(static_cast<unsigned char>(value.back())) != 0);
}

// A value as the site holds it, quoted when it is empty or has a blank at either end, so that a
// stray blank shows.
std::string shown(const std::string& value) {
    return value.empty() || blank_ends(value) ? "\"" + value + "\"" : value;
}

std::string shown_list(const std::vector<std::string>& values) {
    std::vector<std::string> texts;
    for (const std::string& value : values) {
        texts.push_back(shown(value));
    }
    return joined(texts);
}

Single single(SiteReader& reader, Feature* feature, const char* key) {
    Single single;
    std::vector<std::string> values;
    std::string error;
    if (!reader.values(key, &values, &error)) {
        add(feature, Level::Missing, error);
        return single;
    }
    single.read = true;
    single.defined = !values.empty();
    if (single.defined) {
        single.value = values[0];
    }
    if (values.size() > 1) {
        add(feature, Level::Note,
            std::string(key) + " holds " + std::to_string(values.size()) + " values (" + shown_list(values) +
                "): the extension reads the first only, " + shown(values[0]));
    }
    return single;
}

Key report_unset(Feature* feature, const char* key, const Single& single, const std::string& effect) {
    if (single.read) {
        add(feature, Level::Missing,
            std::string(key) +
                (single.defined ? " is empty (its first value, the one the extension reads): "
                                : " is not set: ") +
                effect);
    }
    return Key::Unset;
}

std::string blank_hint(const std::string& value) {
    return blank_ends(value) ? " (mind the blank at its start or end)" : "";
}

// A key naming a dataset type. `unset_effect`: what users see when it is not set; `unknown_effect`:
// when it names a type that no dataset can have.
Key type_key(SiteReader& reader, Feature* feature, const char* key, const std::string& unset_effect,
             const std::string& unknown_effect) {
    const Single value = single(reader, feature, key);
    if (value.value.empty()) {
        return report_unset(feature, key, value, unset_effect);
    }
    const std::string named = std::string(key) + " = " + shown(value.value);
    switch (reader.type_kind(value.value)) {
        case TypeKind::Unknown:
            add(feature, Level::Missing,
                named + ", a type the platform does not know" + blank_hint(value.value) +
                    ": no dataset is of that type, so " + unknown_effect);
            return Key::Unknown;
        case TypeKind::NotDataset:
            add(feature, Level::Missing,
                named + ", a type that is not a dataset type: no dataset is of that type, so " +
                    unknown_effect);
            return Key::Unknown;
        case TypeKind::Dataset:
        case TypeKind::Type:
            break;
    }
    add(feature, Level::Ok, named);
    return Key::Known;
}

// A key naming a relation type. The extension lists nothing under a relation name the platform
// does not know, so that a misspelt name narrows a lookup instead of widening it to every relation.
Key relation_key(SiteReader& reader, Feature* feature, const char* key, const std::string& unset_effect,
                 const std::string& unknown_effect) {
    const Single value = single(reader, feature, key);
    if (value.value.empty()) {
        return report_unset(feature, key, value, unset_effect);
    }
    const std::string named = std::string(key) + " = " + shown(value.value);
    std::string error;
    if (reader.relation_known(value.value, &error)) {
        add(feature, Level::Ok, named);
        return Key::Known;
    }
    add(feature, Level::Missing,
        named +
            (error.empty() ? ", a relation type the platform does not know" + blank_hint(value.value)
                           : ", which could not be looked up (" + error + ")") +
            ": the extension lists nothing under it, so " + unknown_effect);
    return Key::Unknown;
}

// A dependency: the feature does not work as it should while `other` does not.
void needs(Feature* feature, const Feature& other, const std::string& effect) {
    if (!other.usable()) {
        add(feature, Level::Missing, "needs " + other.name + ": " + effect);
    }
}

}  // namespace detail
}  // namespace kep_check
