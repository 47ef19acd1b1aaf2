# Warning flags shared by every target of the project.
add_library(kep_warnings INTERFACE)
if(MSVC)
  target_compile_options(kep_warnings INTERFACE /W4)
  if(KEP_WARNINGS_AS_ERRORS)
    target_compile_options(kep_warnings INTERFACE /WX)
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
