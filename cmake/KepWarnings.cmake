# Warning flags shared by every target of the project.
add_library(kep_warnings INTERFACE)
if(MSVC)
  target_compile_options(kep_warnings INTERFACE /W4)
  # The C library's portable calls (getenv, strncpy, ...) stay; no "_s" forms of Microsoft's own.
  target_compile_definitions(kep_warnings INTERFACE _CRT_SECURE_NO_WARNINGS)
  if(KEP_WARNINGS_AS_ERRORS)
    target_compile_options(kep_warnings INTERFACE /WX)
  endif()
elseif(CMAKE_CXX_COMPILER_ID STREQUAL "SunPro")
  # Oracle Developer Studio on Solaris (docs/building.md).
  target_compile_options(kep_warnings INTERFACE +w)
  if(KEP_WARNINGS_AS_ERRORS)
    target_compile_options(kep_warnings INTERFACE -errwarn=%all)
  endif()
else()
  target_compile_options(kep_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                                -Wno-sign-conversion)
  if(KEP_WARNINGS_AS_ERRORS)
    target_compile_options(kep_warnings INTERFACE -Werror)
  endif()
  # mingw-w64's va_list carries an ABI attribute that GCC reports as dropped wherever a function
  # type taking a va_list is a template argument (std::vector of exit functions): nothing is lost.
  if(MINGW)
    target_compile_options(kep_warnings INTERFACE -Wno-ignored-attributes)
  endif()
endif()
