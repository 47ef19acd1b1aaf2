/*
 * SCCS ident lines of kep_support: `what libkep_support.so` (or a grep for "@(#)") shows which
 * module, version and build a site is running. The Windows build carries none.
 */
#include "kep_support.h"

#if !defined(_WIN32)

#ifndef KEP_BUILD_STAMP
#define KEP_BUILD_STAMP "00.00.00 000000"
#endif

extern "C" {
const char* const gvModule = "@(#) KEPModule: kep_support";
const char* const gvVersion = "@(#) KEPVersion: 4.7.0";
const char* const gvBuild = "@(#) KEPDate: " KEP_BUILD_STAMP;
}

#endif
