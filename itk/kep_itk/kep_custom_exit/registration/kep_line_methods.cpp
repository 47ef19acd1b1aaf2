/*
 * Overrides of the BOM line properties bl_jt_dataset_tag, bl_plmxml_abs_xform and
 * bl_plmxml_occ_xform: their registration and the six wrappers the platform calls.
 *
 * Where the platform has its own method for a property, a post-action is added behind it, which
 * may replace the value the platform computed; where it has none, the extension's method is
 * registered and alone gives the value. Each property is looked at on its own. The wrappers only
 * unpack the platform's call and hand the line and the value slot to the value functions of
 * modon/, which decide whether the value is replaced, cleared or kept. Each read is one call for
 * the memo of platform answers (lookup/kep_memo.h).
 */
#include <stdarg.h>

#include "base/kep_observer.h"
#include "kep_trace.h"
#include "lookup/kep_memo.h"
#include "modon/kep_modon.h"
#include "registration/kep_registration.h"

extern "C" {
int kep_bl_ask_jt_ds_tag_pm(METHOD_message_t* message, va_list args);
int kep_bl_ask_jt_ds_tag_m(METHOD_message_t* message, va_list args);
int kep_bl_ask_plmxml_abs_xform_pm(METHOD_message_t* message, va_list args);
int kep_bl_ask_plmxml_abs_xform_m(METHOD_message_t* message, va_list args);
int kep_bl_ask_plmxml_occ_xform_pm(METHOD_message_t* message, va_list args);
int kep_bl_ask_plmxml_occ_xform_m(METHOD_message_t* message, va_list args);
}

namespace {

// One property to take over, with the texts of its registration.
struct LineProperty {
    const char* property;
    const char* message;
    METHOD_function_t post_action;
    METHOD_function_t method;
    const char* lookup_text;
    const char* action_text;
    const char* method_text;
    const char* action_announcement;
    const char* method_announcement;
};

const LineProperty kLineProperties[] = {
    {bomAttr_JTDatasetTag, PROP_ask_value_tag_msg, kep_bl_ask_jt_ds_tag_pm, kep_bl_ask_jt_ds_tag_m,
     "METHOD_find_prop_method (bomClass_line,bomAttr_JTDatasetTag,PROP_ask_value_tag_msg, &method_id)",
     "METHOD_add_action( method_id, METHOD_post_action_type, kep_bl_ask_jt_ds_tag_pm, 0 )",
     "METHOD_register_prop_method(bomClass_line, bomAttr_JTDatasetTag, PROP_ask_value_tag_msg, "
     "kep_bl_ask_jt_ds_tag_m,0, &method_id)",
     "using METHOD_add_action for bomline_ask_jt_dataset_tag\n",
     "using METHOD_register_prop_method for bomline_ask_jt_dataset_tag\n"},
    {bomAttr_StandardAbsTransform, PROP_ask_value_string_msg, kep_bl_ask_plmxml_abs_xform_pm,
     kep_bl_ask_plmxml_abs_xform_m,
     "METHOD_find_prop_method (bomClass_line,bomAttr_StandardAbsTransform,PROP_ask_value_string_msg, "
     "&method_id)",
     "METHOD_add_action( method_id, METHOD_post_action_type, kep_bl_ask_plmxml_abs_xform_pm, 0 )",
     "METHOD_register_prop_method(bomClass_line, bomAttr_StandardAbsTransform, PROP_ask_value_string_msg, "
     "kep_bl_ask_plmxml_abs_xform_m,0, &method_id)",
     "using METHOD_add_action for bomline_ask_plmxml_abs_xform_string\n",
     "using METHOD_register_prop_method for bomline_ask_plmxml_abs_xform_string\n"},
    {bomAttr_StandardOccTransform, PROP_ask_value_string_msg, kep_bl_ask_plmxml_occ_xform_pm,
     kep_bl_ask_plmxml_occ_xform_m,
     "METHOD_find_prop_method (bomClass_line,bomAttr_StandardOccTransform,PROP_ask_value_string_msg, "
     "&method_id)",
     "METHOD_add_action( method_id, METHOD_post_action_type, kep_bl_ask_plmxml_occ_xform_pm, 0 )",
     "METHOD_register_prop_method(bomClass_line, bomAttr_StandardOccTransform, PROP_ask_value_string_msg, "
     "kep_bl_ask_plmxml_occ_xform_m,0, &method_id)",
     "using METHOD_add_action for bomline_ask_plmxml_occ_xform_string\n",
     "using METHOD_register_prop_method for bomline_ask_plmxml_occ_xform_string\n"},
};

// The asked line; a message without one names no line.
tag_t asked_line(const METHOD_message_t* message) {
    return message != nullptr ? message->object_tag : NULLTAG;
}

// The argument list of a property read holds the property tag (not needed) and the value slot.
template <class Slot>
Slot* value_slot(va_list args) {
    (void)va_arg(args, tag_t);
    return va_arg(args, Slot*);
}

int jt_ds_tag(const char* name, bool own_method, METHOD_message_t* message, va_list args) {
    kep::CallScope scope;
    kep::FunctionTrace trace(name);
    tag_t* const value = value_slot<tag_t>(args);
    if (own_method && value != nullptr) {
        *value = NULLTAG;
    }
    const tag_t object_tag = asked_line(message);
    return kep::traced("kep_bl_ask_jt_ds_tag(object_tag,value)",
                       [&] { return kep_bl_ask_jt_ds_tag(object_tag, value); });
}

int abs_xform(const char* name, bool own_method, METHOD_message_t* message, va_list args) {
    kep::CallScope scope;
    kep::FunctionTrace trace(name);
    char** const value = value_slot<char*>(args);
    if (own_method && value != nullptr) {
        *value = nullptr;
    }
    const tag_t object_tag = asked_line(message);
    return kep::traced("kep_bl_ask_plmxml_abs_xform(object_tag, value)",
                       [&] { return kep_bl_ask_plmxml_abs_xform(object_tag, value); });
}

int occ_xform(const char* name, bool own_method, METHOD_message_t* message, va_list args) {
    kep::CallScope scope;
    kep::FunctionTrace trace(name);
    char** const value = value_slot<char*>(args);
    if (own_method && value != nullptr) {
        *value = nullptr;
    }
    const tag_t object_tag = asked_line(message);
    kep::observe_occurrence_method(object_tag, own_method);
    return kep::traced("kep_bl_ask_plmxml_occ_xform(object_tag, value)",
                       [&] { return kep_bl_ask_plmxml_occ_xform(object_tag, value); });
}

}  // namespace

extern "C" {

int kep_register_object_methods(void) {
    kep::FunctionTrace trace("kep_register_object_methods");
    // One identifier serves the three properties in turn; each lookup fills it anew.
    METHOD_id_t method_id;
    method_id.reserved = 0;
    method_id.id = nullptr;
    kep::Step step;
    for (const LineProperty& p : kLineProperties) {
        step.call(p.lookup_text,
                  [&] { return METHOD_find_prop_method(bomClass_line, p.property, p.message, &method_id); });
        if (!step.ok()) {
            break;
        }
        if (method_id.id != nullptr) {
            kep_log("%s", p.action_announcement);
            step.call(p.action_text, [&] {
                return METHOD_add_action(method_id, METHOD_post_action_type, p.post_action, nullptr);
            });
        } else {
            kep_log("%s", p.method_announcement);
            step.call(p.method_text, [&] {
                return METHOD_register_prop_method(bomClass_line, p.property, p.message, p.method, nullptr,
                                                   &method_id);
            });
        }
        if (!step.ok()) {
            break;
        }
    }
    return step.status();
}

int kep_bl_ask_jt_ds_tag_pm(METHOD_message_t* message, va_list args) {
    return jt_ds_tag("kep_bl_ask_jt_ds_tag_pm", false, message, args);
}

int kep_bl_ask_jt_ds_tag_m(METHOD_message_t* message, va_list args) {
    return jt_ds_tag("kep_bl_ask_jt_ds_tag_m", true, message, args);
}

int kep_bl_ask_plmxml_abs_xform_pm(METHOD_message_t* message, va_list args) {
    return abs_xform("kep_bl_ask_plmxml_abs_xform_pm", false, message, args);
}

int kep_bl_ask_plmxml_abs_xform_m(METHOD_message_t* message, va_list args) {
    return abs_xform("kep_bl_ask_plmxml_abs_xform_m", true, message, args);
}

int kep_bl_ask_plmxml_occ_xform_pm(METHOD_message_t* message, va_list args) {
    return occ_xform("kep_bl_ask_plmxml_occ_xform_pm", false, message, args);
}

int kep_bl_ask_plmxml_occ_xform_m(METHOD_message_t* message, va_list args) {
    return occ_xform("kep_bl_ask_plmxml_occ_xform_m", true, message, args);
}

}  // extern "C"
