/*
 * The platform's C operations, as the extension and its diagnostics library see them.
 *
 * This is the only way into the platform: every source of kep and kep_support includes this
 * header and nothing else of the platform. Built against an installation (KEP_REAL_PLATFORM), it
 * pulls in the installation's ITK headers; otherwise the stand-in's headers, which declare the same
 * operations under the same header names.
 */
#ifndef KEP_PLATFORM_H
#define KEP_PLATFORM_H

#if defined(KEP_REAL_PLATFORM) && !defined(IPLIB)
#define IPLIB none
#endif

#include <ae/dataset.h>
#include <base_utils/Mem.h>
#include <bom/bom.h>
#include <bom/bom_attr.h>
#include <ict/ict_userservice.h>
#include <pom/pom/pom.h>
#include <property/prop.h>
#include <tc/emh.h>
#include <tc/preferences.h>
#include <tc/tc_startup.h>
#include <tc/tc_util.h>
#include <tccore/aom_prop.h>
#include <tccore/custom.h>
#include <tccore/grm.h>
#include <tccore/method.h>
#include <tccore/tctype.h>

#endif
