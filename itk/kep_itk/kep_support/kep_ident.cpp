/*
 * SCCS ident lines of kep_support: `what libkep_support.so` (or a grep for "@(#)") shows which
 * module, version and build a site is running. The version comes from the project version, the
 * stamp from the build that linked the library. The Windows build carries none.
 */
#include "kep_build_stamp.h"
#include "kep_support.h"
#include "kep_version.h"

#if !defined(_WIN32)

extern "C" {
const char* const gvModule = "@(#) KEPModule: kep_support";
const char* const gvVersion = "@(#) KEPVersion: " KEP_VERSION;
const char* const gvBuild = "@(#) KEPDate: " KEP_BUILD_STAMP;
}

#endif
