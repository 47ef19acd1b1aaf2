/*
 * Internal hooks of kep_support, not exported from the shared library: tests link the static
 * twin and use these to start each case from the state of a freshly loaded library.
 */
#ifndef KEP_SUPPORT_INTERNAL_H
#define KEP_SUPPORT_INTERNAL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Forgets the cached switches and sets the indentation level to 0. */
void kep_support_reset_state(void);
/* The current indentation level. */
int kep_support_indent_level(void);

#ifdef __cplusplus
}
#endif

#endif
