/*
 * SCCS ident lines of the extension library, in the form kep_support has them: `what libkep.so`
 * (or a grep for "@(#)") shows the module, version, date and source revision of the build a site
 * is running. They stay inside the library (hidden visibility), so the library still exports its
 * entry point only.
 *
 * The four lines lie in one block, in this order, each ended by a zero byte; the block starts
 * with one, so no text that the linker puts before it runs into the first line.
 */
#include "kep_build_stamp.h"
#include "kep_version.h"

#if !defined(_WIN32)

#if defined(__GNUC__)
#define KEP_IDENT_KEEP __attribute__((used))
#else
#define KEP_IDENT_KEEP
#endif

#define KEP_IDENT_MODULE "@(#) KEPModule: kep"
#define KEP_IDENT_VERSION "@(#) KEPVersion: " KEP_VERSION
#define KEP_IDENT_DATE "@(#) KEPDate: " KEP_BUILD_STAMP
#define KEP_IDENT_BUILD "@(#) KEPBuild: " KEP_BUILD_REVISION

extern "C" {
KEP_IDENT_KEEP extern const char kep_ident[] =
    "\0" KEP_IDENT_MODULE "\0" KEP_IDENT_VERSION "\0" KEP_IDENT_DATE "\0" KEP_IDENT_BUILD;
}

#endif
