/*
 * SCCS ident lines of the extension library, in the form kep_support has them: `what libkep.so`
 * (or a grep for "@(#)") shows the module, version and build a site is running. They stay inside
 * the library (hidden visibility), so the library still exports its entry point only.
 */
#include "kep_build_stamp.h"
#include "kep_version.h"

#if !defined(_WIN32)

#if defined(__GNUC__)
#define KEP_IDENT_KEEP __attribute__((used))
#else
#define KEP_IDENT_KEEP
#endif

extern "C" {
KEP_IDENT_KEEP extern const char kep_ident_module[] = "@(#) KEPModule: kep";
KEP_IDENT_KEEP extern const char kep_ident_version[] = "@(#) KEPVersion: " KEP_VERSION;
KEP_IDENT_KEEP extern const char kep_ident_build[] = "@(#) KEPDate: " KEP_BUILD_STAMP;
}

#endif
