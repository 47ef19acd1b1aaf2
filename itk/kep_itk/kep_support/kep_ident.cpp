/*
 * SCCS ident lines of kep_support: `what libkep_support.so` (or a grep for "@(#)") shows which
 * module, version and build a site is running. The version comes from the project version, the
 * date and the source revision from the build that linked the library. The Windows build carries
 * none.
 *
 * The four lines lie in one block, in this order, each ended by a zero byte; the block starts
 * with one, so no text that the linker puts before it runs into the first line.
 */
#include "kep_build_stamp.h"
#include "kep_support.h"
#include "kep_version.h"

#if !defined(_WIN32)

#define KEP_IDENT_MODULE "@(#) KEPModule: kep_support"
#define KEP_IDENT_VERSION "@(#) KEPVersion: " KEP_VERSION
#define KEP_IDENT_DATE "@(#) KEPDate: " KEP_BUILD_STAMP
#define KEP_IDENT_BUILD "@(#) KEPBuild: " KEP_BUILD_REVISION

extern "C" {
// Not exported (hidden visibility). Declared extern, not static: a debug build would otherwise
// copy the whole text into the debug information, and `strings` would show every line twice.
extern const char kep_support_ident[] =
    "\0" KEP_IDENT_MODULE "\0" KEP_IDENT_VERSION "\0" KEP_IDENT_DATE "\0" KEP_IDENT_BUILD;

const char* const gvModule = kep_support_ident + 1;
const char* const gvVersion = kep_support_ident + 1 + sizeof(KEP_IDENT_MODULE);
const char* const gvBuild = kep_support_ident + 1 + sizeof(KEP_IDENT_MODULE) + sizeof(KEP_IDENT_VERSION);
}

#endif
