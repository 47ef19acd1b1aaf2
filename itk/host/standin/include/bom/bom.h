/* BOM windows and lines. */
#ifndef STANDIN_BOM_BOM_H
#define STANDIN_BOM_BOM_H
#include <bom/bom_attr.h>
#include <tc/tc.h>
TC_EXTERN_C_BEGIN
TC_API int BOM_ask_window_top_line(tag_t window, tag_t* top_bom_line);
TC_API int BOM_line_ask_child_lines(tag_t bom_line, int* count, tag_t** children);
TC_API int BOM_line_ask_packed_lines(tag_t bom_line, int* count, tag_t** packed);
TC_API int BOM_line_look_up_attribute(const char* attribute_name, int* attribute);
TC_API int BOM_line_ask_attribute_tag(tag_t bom_line, int attribute, tag_t* value);
TC_API int BOM_line_ask_attribute_string(tag_t bom_line, int attribute, char** value);
TC_API int BOM_create_window(tag_t* window);
TC_API int BOM_set_window_config_rule(tag_t window, tag_t config_rule);
TC_API int BOM_set_window_top_line(tag_t window, tag_t item, tag_t item_revision, tag_t bv,
                                   tag_t* top_bom_line);
TC_API int BOM_close_window(tag_t window);
TC_EXTERN_C_END
#endif
