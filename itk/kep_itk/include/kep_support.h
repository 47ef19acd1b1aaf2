/*
 * kep_support: the diagnostics library of the extension.
 *
 * Turns printf-style messages into indented trace text and writes it to the console (standard
 * error, when ZODORE_DEBUG is "ON") and to the platform's system log (each message prefixed
 * "[KEP] ", when ZODORE_SYSLOG is "ON"); the statement trace lines of kep_log_itkexe only when
 * ZODORE_ITKLOG is "ON" as well. Each switch is read once per process, at its first need.
 * Nothing is added to a message: no line end, no time stamp. The indentation level is one
 * process-wide value, changed in steps of 4, and may become negative.
 *
 * Every writing operation returns 0; none reports a failure. Messages longer than 10,239
 * characters are cut to fit the message buffer. A formatted message is never used as a format
 * again, so a "%" that arrives through an argument is written as it is. When neither output
 * switch is on, messages are not formatted at all.
 *
 * Threads: the indentation level, the message buffer and the cached switches are shared by the
 * whole process and guarded by one lock. Each writing operation is formatted and written whole
 * (an entry line's marker and message included), and each switch is read exactly once even when
 * threads race for it. The level stays process-wide, so the call trees of concurrent threads
 * interleave. Single-threaded output is the same as without the lock.
 */
#ifndef KEP_SUPPORT_H
#define KEP_SUPPORT_H

#include <stdarg.h>

#include "kep_export.h"
#include "kep_platform.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Entry marker ">>> " and the message at the current level, then level +4. */
KEP_EXPORT int kep_start(const char* format, ...) KEP_PRINTF_LIKE(1, 2);
/* Level -4, then exit marker "<<< " and the message. */
KEP_EXPORT int kep_end(const char* format, ...) KEP_PRINTF_LIKE(1, 2);
/* The message at the current level. kep_log_to carries error reports by convention. */
KEP_EXPORT int kep_log(const char* format, ...) KEP_PRINTF_LIKE(1, 2);
KEP_EXPORT int kep_log_to(const char* format, ...) KEP_PRINTF_LIKE(1, 2);
/* As kep_log, but only while the trace switch is on; returns before formatting when it is off. */
KEP_EXPORT int kep_log_itkexe(const char* format, ...) KEP_PRINTF_LIKE(1, 2);
/* Level +4 or -4; write nothing. */
KEP_EXPORT int kep_indent(void);
KEP_EXPORT int kep_outdent(void);
/* 1 when the console switch or the system-log switch is on, else 0. */
KEP_EXPORT int kep_logging_on(void);
/* Writes the platform's pending errors (never clears them); always 0. */
KEP_EXPORT int kep_log_error_stack(void);

/* Dumps the PUID and the display values of the named properties (array ended by a null entry)
 * to standard output (print_flag) and the log (log_flag); always 0. */
KEP_EXPORT int kep_print_properties(tag_t tag, char** property_names, int print_flag, int log_flag);
/* Logs every property of object with a non-empty display value, one line each. */
KEP_EXPORT void kep_list_properties_with_value(const char* label, tag_t object);

/* The switches, read once and cached (1 on, 0 off). */
KEP_SOLARIS_EXPORT int kep_get_log_console_on(void);
KEP_SOLARIS_EXPORT int kep_get_log_syslog_on(void);
KEP_SOLARIS_EXPORT int kep_get_log_itkexe_on(void);
/* The emitter behind every writing operation: the message at the current level when indent_flag
 * is set, else at column 0. args may be null: the format is then written without arguments, where
 * "%%" stands for "%" and any other conversion is written as it stands. Always 0. */
KEP_SOLARIS_EXPORT int kep_log_impl(int indent_flag, const char* format, va_list* args);

#if !defined(_WIN32)
/* SCCS ident lines of the library: module, version and build date. The line with the source
 * revision follows the date line in the library, with no pointer of its own. */
KEP_SOLARIS_EXPORT extern const char* const gvModule;
KEP_SOLARIS_EXPORT extern const char* const gvVersion;
KEP_SOLARIS_EXPORT extern const char* const gvBuild;
#endif

#ifdef __cplusplus
}
#endif

#endif
