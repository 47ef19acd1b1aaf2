# Warning flags shared by every target of the project.
#
# The platform's headers never stop a site build (KEP_REAL_PLATFORM): they are system (external)
# headers where the compiler can tell them apart (GCC and Clang: -isystem; MSVC 19.29.30036.3 and
# later: /external:I with /external:W0, cmake/KepPlatform.cmake). Where it cannot (Developer
# Studio, an older MSVC), a build against a platform installation keeps warnings as warnings,
# while our own builds (the stand-in) still make them errors.

# The Visual Studio generator passes external include folders (/external:I) from CMake 3.24 on;
# before, the platform's headers would be compiled as our own, warnings as errors.
if(CMAKE_GENERATOR MATCHES "^Visual Studio" AND CMAKE_VERSION VERSION_LESS 3.24)
  message(FATAL_ERROR "The Visual Studio generator needs CMake 3.24 or later (this is ${CMAKE_VERSION}); "
                      "use a later CMake, or the Ninja generator (cmake --preset platform) from the "
                      "Visual Studio command prompt (docs/building.md).")
endif()

set(kep_warnings_as_errors ${KEP_WARNINGS_AS_ERRORS})
if(KEP_REAL_PLATFORM AND KEP_WARNINGS_AS_ERRORS)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "SunPro")
    set(kep_warnings_as_errors OFF)
    message(STATUS "Developer Studio has no system include folder: warnings stay warnings against the "
                   "platform's headers")
  elseif(MSVC AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 19.29.30036.3)
    set(kep_warnings_as_errors OFF)
    message(STATUS "MSVC ${CMAKE_CXX_COMPILER_VERSION} has no external include folders (19.29.30036.3 "
                   "and later have): warnings stay warnings against the platform's headers")
  endif()
endif()

add_library(kep_warnings INTERFACE)
if(MSVC)
  target_compile_options(kep_warnings INTERFACE /W4)
  # The C library's portable calls (getenv, strncpy, ...) stay; no "_s" forms of Microsoft's own.
  target_compile_definitions(kep_warnings INTERFACE _CRT_SECURE_NO_WARNINGS)
  if(kep_warnings_as_errors)
    target_compile_options(kep_warnings INTERFACE /WX)
  endif()
elseif(CMAKE_CXX_COMPILER_ID STREQUAL "SunPro")
  # Oracle Developer Studio on Solaris (docs/building.md).
  target_compile_options(kep_warnings INTERFACE +w)
  if(kep_warnings_as_errors)
    target_compile_options(kep_warnings INTERFACE -errwarn=%all)
  endif()
else()
  target_compile_options(kep_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                                -Wno-sign-conversion)
  if(kep_warnings_as_errors)
    target_compile_options(kep_warnings INTERFACE -Werror)
  endif()
  # mingw-w64's va_list carries an ABI attribute that GCC reports as dropped wherever a function
  # type taking a va_list is a template argument (std::vector of exit functions): nothing is lost.
  if(MINGW)
    target_compile_options(kep_warnings INTERFACE -Wno-ignored-attributes)
  endif()
endif()
