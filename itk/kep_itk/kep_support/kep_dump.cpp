/*
 * Property dumps for ad-hoc diagnosis from extension code: an object's PUID and chosen display
 * values (kep_print_properties), and every property with a non-empty display value
 * (kep_list_properties_with_value). Both trace their platform calls like the extension does and
 * release every text the platform hands out.
 */
#include <cstdio>

#include "kep_mem.h"
#include "kep_support.h"
#include "kep_trace.h"

namespace {

const char* text_or_empty(const char* text) noexcept { return text != nullptr ? text : ""; }

// Writes one "label=[value]" line (or "label=[ERROR]" when value_ok is false) to the sinks that
// the two flags choose.
void write_value_line(const char* label, bool value_ok, const char* value, int print_flag,
                      int log_flag) noexcept {
    if (value_ok) {
        if (print_flag != 0) {
            std::printf("  %s=[%s]\n", label, text_or_empty(value));
        }
        if (log_flag != 0) {
            kep_log("%s=[%s]\n", label, text_or_empty(value));
        }
    } else {
        if (print_flag != 0) {
            std::printf("  %s=[ERROR]\n", label);
        }
        if (log_flag != 0) {
            kep_log("%s=[ERROR]\n", label);
        }
    }
}

}  // namespace

extern "C" {

int kep_print_properties(tag_t tag, char** property_names, int print_flag, int log_flag) {
    kep::FunctionTrace trace("kep_print_properties");
    if (print_flag != 0) {
        std::fputs("[\n", stdout);
    }
    if (log_flag != 0) {
        kep_log("[\n");
        kep_indent();
    }
    if (tag == NULLTAG) {
        if (print_flag != 0) {
            std::fputs("  tag is NULL\n", stdout);
        }
        if (log_flag != 0) {
            kep_log("tag is NULL\n");
        }
    } else {
        // Every query is made, whatever the earlier ones gave: a failure is shown in place.
        {
            kep::MemPtr<char> property_value;
            const int status = kep::traced("POM_tag_to_string (tag, &property_value)",
                                           [&] { return POM_tag_to_string(tag, property_value.out()); });
            write_value_line("PUID", status == 0, property_value.get(), print_flag, log_flag);
        }
        // A missing name array is read as an empty one: the PUID alone is asked.
        for (char** name = property_names; name != nullptr && *name != nullptr; ++name) {
            const char* property_name = *name;
            kep::MemPtr<char> property_value;
            const int status = kep::traced("AOM_UIF_ask_value (tag, property_name, &property_value)", [&] {
                return AOM_UIF_ask_value(tag, property_name, property_value.out());
            });
            write_value_line(property_name, status == 0, property_value.get(), print_flag, log_flag);
        }
    }
    if (print_flag != 0) {
        std::fputs("]\n", stdout);
    }
    if (log_flag != 0) {
        kep_outdent();
        kep_log("]\n");
    }
    return 0;
}

void kep_list_properties_with_value(const char* label, tag_t object) {
    kep::Step step;
    int n_props = 0;
    kep::MemPtr<char*> prop_names;  // one block holding the array of names
    step.call("AOM_ask_prop_names(object, &n_props, &prop_names)",
              [&] { return AOM_ask_prop_names(object, &n_props, prop_names.out()); });
    if (!step.ok() || !prop_names) {
        n_props = 0;
    }
    for (int ii = 0; ii < n_props && step.ok(); ++ii) {
        const char* property_name = prop_names[ii];
        kep::MemPtr<char> disp_name;
        kep::MemPtr<char> value;
        step.call("AOM_UIF_ask_name(object, prop_names[ii], &disp_name)",
                  [&] { return AOM_UIF_ask_name(object, property_name, disp_name.out()); });
        step.call("AOM_UIF_ask_value(object, prop_names[ii], &value)",
                  [&] { return AOM_UIF_ask_value(object, property_name, value.out()); });
        if (step.ok() && value && value[0] != '\0') {
            kep_log("%s [%s(%s)]: [%s]\n", text_or_empty(label), text_or_empty(disp_name.get()),
                    text_or_empty(property_name), value.get());
        }
    }
}

}  // extern "C"
