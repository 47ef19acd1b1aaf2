/*
 * The export macros of the two extension libraries.
 *
 * Both libraries are built with hidden visibility, and the linker keeps the exports to the list
 * of each library (cmake/exports/); what that list names carries an export macro. KEP_EXPORT marks
 * kep_support's interface: exported when kep_support is built (KEP_SUPPORT_BUILD), imported by whatever uses
 * it (on Windows dllexport and dllimport). KEP_ENTRY_EXPORT marks the entry point of kep, which the platform
 * looks up by name: exported when kep is built (KEP_BUILD); nothing imports it. KEP_SOLARIS_EXPORT marks what
 * the Unix-like builds export in addition (the switch readers, the emitter and the ident lines); the Windows
 * build keeps those internal. KEP_SUPPORT_STATIC (the static twins of the tests) exports nothing.
 */
#ifndef KEP_EXPORT_H
#define KEP_EXPORT_H

#if defined(KEP_SUPPORT_STATIC)
#define KEP_EXPORT
#define KEP_ENTRY_EXPORT
#elif defined(_WIN32)
#if defined(KEP_SUPPORT_BUILD)
#define KEP_EXPORT __declspec(dllexport)
#else
#define KEP_EXPORT __declspec(dllimport)
#endif
#if defined(KEP_BUILD)
#define KEP_ENTRY_EXPORT __declspec(dllexport)
#else
#define KEP_ENTRY_EXPORT
#endif
#elif defined(__SUNPRO_CC) || defined(__SUNPRO_C)
/* Developer Studio's own linker scoping: global, whatever -xldscope says for the rest. */
#define KEP_EXPORT __global
#define KEP_ENTRY_EXPORT __global
#else
#define KEP_EXPORT __attribute__((visibility("default")))
#define KEP_ENTRY_EXPORT __attribute__((visibility("default")))
#endif

#if defined(_WIN32)
#define KEP_SOLARIS_EXPORT
#else
#define KEP_SOLARIS_EXPORT KEP_EXPORT
#endif

#if defined(__GNUC__)
#define KEP_PRINTF_LIKE(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define KEP_PRINTF_LIKE(fmt, first)
#endif

#endif
