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

namespace {
const char ident_block[] = "\0" KEP_IDENT_MODULE "\0" KEP_IDENT_VERSION "\0" KEP_IDENT_DATE "\0" KEP_IDENT_BUILD;
}  // namespace

extern "C" {
const char* const gvModule = ident_block + 1;
const char* const gvVersion = ident_block + 1 + sizeof(KEP_IDENT_MODULE);
const char* const gvBuild = ident_block + 1 + sizeof(KEP_IDENT_MODULE) + sizeof(KEP_IDENT_VERSION);
}

#endif
