# The platform of a real-platform build (KEP_REAL_PLATFORM): the interface target kep_platform
# over the installation's headers and libraries.
#
# The folders come from cache variables or, when those are empty, from the environment (each
# configure; docs/building.md):
# KEP_PLATFORM_INCLUDE_DIR and KEP_PLATFORM_LIB_DIR, else <KEP_PLATFORM_ROOT>/include and
# <KEP_PLATFORM_ROOT>/lib, where KEP_PLATFORM_ROOT defaults to $TC_ROOT.
#
# The headers are system headers (-isystem; MSVC: /external:I, cmake/KepWarnings.cmake): warnings
# in them never stop the build, while our own sources keep warnings as errors. The platform's
# deprecation notices at our call sites never stop it either (MSVC: C4996 is off): the sources
# keep the forms that every supported release accepts.

set(KEP_PLATFORM_ROOT "" CACHE PATH "Root of the platform installation (empty: $TC_ROOT)")
set(KEP_PLATFORM_LIBRARIES tc tccore bom ae property base_utils ict pom
    CACHE STRING "The platform's libraries the extension links (names without lib and .so)")

# Folders derived from the environment are taken afresh on each configure (another TC_ROOT is
# followed); a later configure without the environment (a rebuild that reconfigures) keeps the
# last ones.
set(kep_platform_root "${KEP_PLATFORM_ROOT}")
if(NOT kep_platform_root)
  set(kep_platform_root "$ENV{TC_ROOT}")
endif()
foreach(kind INCLUDE LIB)
  set(var KEP_PLATFORM_${kind}_DIR)
  string(TOLOWER ${kind} sub)
  if(NOT ${var} AND DEFINED ENV{${var}})
    set(${var} "$ENV{${var}}")
  elseif(NOT ${var} AND kep_platform_root)
    set(${var} "${kep_platform_root}/${sub}")
  elseif(NOT ${var})
    set(${var} "${KEP_PLATFORM_LAST_${kind}_DIR}")
  endif()
  set(KEP_PLATFORM_LAST_${kind}_DIR "${${var}}" CACHE INTERNAL "")
  if(NOT ${var})
    message(FATAL_ERROR "KEP_REAL_PLATFORM: the platform's ${sub} folder is not known. Set TC_ROOT in the "
                        "environment or KEP_PLATFORM_ROOT to the installation, or set ${var}.")
  endif()
endforeach()
message(STATUS "Platform headers: ${KEP_PLATFORM_INCLUDE_DIR}; libraries: ${KEP_PLATFORM_LIB_DIR}")

if(NOT EXISTS ${KEP_PLATFORM_INCLUDE_DIR}/tc/tc_startup.h)
  message(FATAL_ERROR "KEP_PLATFORM_INCLUDE_DIR '${KEP_PLATFORM_INCLUDE_DIR}' has no tc/tc_startup.h: "
                      "expected the include folder of a platform installation")
endif()

# A library built for a site never links the stand-in platform. A shared library records its own
# name (its soname) and the names of the libraries it links, so a platform library that is the
# stand-in (a copy or a link of it under a platform library's name) or links it holds the
# stand-in's file name. Each file is read once; the answer is kept until the file changes.
function(kep_refuse_standin lib path)
  set(standin ${CMAKE_SHARED_LIBRARY_PREFIX}standin${CMAKE_SHARED_LIBRARY_SUFFIX})
  file(REAL_PATH ${path} real)
  file(TIMESTAMP ${real} time "%Y%m%d%H%M%S" UTC)
  if("${KEP_PLATFORM_NOT_STANDIN_${lib}}" STREQUAL "${real} ${time}")
    return()
  endif()
  string(REPLACE "." "\\." pattern "^${standin}")
  get_filename_component(name ${real} NAME)
  file(STRINGS ${real} named REGEX "${pattern}" LIMIT_COUNT 1)
  if(named OR name MATCHES "${pattern}")
    message(FATAL_ERROR "KEP_PLATFORM_LIB_DIR '${KEP_PLATFORM_LIB_DIR}': ${path} (${real}) is the stand-in "
                        "platform or links it (it names ${standin}). A library built for a site must never "
                        "link the stand-in: point TC_ROOT, KEP_PLATFORM_ROOT or KEP_PLATFORM_LIB_DIR at the "
                        "platform installation.")
  endif()
  set(KEP_PLATFORM_NOT_STANDIN_${lib} "${real} ${time}" CACHE INTERNAL "")
endfunction()

set(kep_platform_libs)
if(NOT "${KEP_PLATFORM_FOUND_LIB_DIR}" STREQUAL "${KEP_PLATFORM_LIB_DIR}")
  foreach(lib ${KEP_PLATFORM_LIBRARIES})
    unset(KEP_PLATFORM_LIB_${lib} CACHE)
  endforeach()
  set(KEP_PLATFORM_FOUND_LIB_DIR "${KEP_PLATFORM_LIB_DIR}" CACHE INTERNAL "")
endif()
foreach(lib ${KEP_PLATFORM_LIBRARIES})
  # On Windows the import libraries may be named with or without "lib" (tc.lib or libtc.lib).
  find_library(KEP_PLATFORM_LIB_${lib} NAMES ${lib} lib${lib} PATHS ${KEP_PLATFORM_LIB_DIR} NO_DEFAULT_PATH)
  if(NOT KEP_PLATFORM_LIB_${lib})
    message(FATAL_ERROR "KEP_PLATFORM_LIB_DIR '${KEP_PLATFORM_LIB_DIR}' has no library ${lib} (lib${lib}.so; on Windows ${lib}.lib or lib${lib}.lib): expected the "
                        "library folder of a platform installation with the libraries ${KEP_PLATFORM_LIBRARIES}")
  endif()
  list(APPEND kep_platform_libs ${KEP_PLATFORM_LIB_${lib}})
  kep_refuse_standin(${lib} ${KEP_PLATFORM_LIB_${lib}})
endforeach()

add_library(kep_platform INTERFACE)
target_include_directories(kep_platform SYSTEM INTERFACE ${KEP_PLATFORM_INCLUDE_DIR})
target_compile_definitions(kep_platform INTERFACE KEP_REAL_PLATFORM IPLIB=none)
target_link_libraries(kep_platform INTERFACE ${kep_platform_libs})
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  target_compile_options(kep_platform INTERFACE -Wno-error=deprecated-declarations)
elseif(MSVC)
  # MSVC cannot keep one warning a warning under /WX: the deprecation notice (C4996) is off.
  target_compile_options(kep_platform INTERFACE /wd4996)
endif()

include(${CMAKE_CURRENT_LIST_DIR}/KepPlatformChecks.cmake)
