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
endif()
