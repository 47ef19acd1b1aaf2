/*
 * The one export macro of the two extension libraries.
 *
 * Both libraries are built with hidden visibility; only what carries KEP_EXPORT leaves the
 * library. KEP_SOLARIS_EXPORT marks what the Unix-like builds export in addition (the switch
 * readers, the emitter and the ident lines); the Windows build keeps those internal.
 */
#ifndef KEP_EXPORT_H
#define KEP_EXPORT_H

#if defined(KEP_SUPPORT_STATIC)
#define KEP_EXPORT
#elif defined(_WIN32)
#if defined(KEP_SUPPORT_BUILD) || defined(KEP_BUILD)
#define KEP_EXPORT __declspec(dllexport)
#else
#define KEP_EXPORT __declspec(dllimport)
#endif
#else
#define KEP_EXPORT __attribute__((visibility("default")))
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
