# Declarations that later platform releases dropped from their public headers.
#
# The extension calls six operations in the form the older releases declare. For each one the
# installed headers are compiled against (through kep_platform.h, as the extension includes them)
# and one of three answers is taken:
#   - the headers declare the older form: nothing to do;
#   - the headers do not declare the operation (its types are still there): the build defines
#     KEP_PLATFORM_LACKS_<operation> and kep_platform.h declares the older form itself, which
#     the platform's libraries still resolve;
#   - the headers declare it in another form, or lack a type of its form: configuring stops and
#     names the operation, the header and the form the extension needs.
# docs/building.md lists the operations.
include(CheckCXXSourceCompiles)

set(KEP_PLATFORM_LACKS)
# The answers are cached; another include folder asks again.
if(NOT "${KEP_PLATFORM_CHECKED_INCLUDE_DIR}" STREQUAL "${KEP_PLATFORM_INCLUDE_DIR}")
  foreach(op PREF_ask_search_scope PREF_set_search_scope TCTYPE_ask_name TCTYPE_register_properties
             TCTYPE_add_runtime_property PROP_ask_owning_object)
    unset(KEP_PLATFORM_OLDER_${op} CACHE)
    unset(KEP_PLATFORM_OTHER_${op} CACHE)
    unset(KEP_PLATFORM_TYPES_${op} CACHE)
  endforeach()
  set(KEP_PLATFORM_CHECKED_INCLUDE_DIR "${KEP_PLATFORM_INCLUDE_DIR}" CACHE INTERNAL "")
endif()

# kep_check_platform_declaration(<operation> <header> <pointer declaration of the older form, as f>)
function(kep_check_platform_declaration op header form)
  set(CMAKE_REQUIRED_INCLUDES ${KEP_PLATFORM_INCLUDE_DIR} ${PROJECT_SOURCE_DIR}/itk/kep_itk/platform)
  set(CMAKE_REQUIRED_DEFINITIONS -DKEP_REAL_PLATFORM -DIPLIB=none)
  set(CMAKE_REQUIRED_QUIET ON)
  set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
  set(prelude "#include \"kep_platform.h\"\n")
  check_cxx_source_compiles("${prelude}int main() { ${form} = &${op}; return f == 0; }" KEP_PLATFORM_OLDER_${op})
  if(KEP_PLATFORM_OLDER_${op})
    message(STATUS "Platform declares ${op} in the older form")
    return()
  endif()
  check_cxx_source_compiles("${prelude}int main() { return &${op} == 0; }" KEP_PLATFORM_OTHER_${op})
  check_cxx_source_compiles("${prelude}int main() { ${form} = 0; return f == 0; }" KEP_PLATFORM_TYPES_${op})
  if(KEP_PLATFORM_OTHER_${op} OR NOT KEP_PLATFORM_TYPES_${op})
    message(FATAL_ERROR "The platform headers in '${KEP_PLATFORM_INCLUDE_DIR}' declare ${op} (${header}) in a "
                        "form the extension does not use, or lack a type of its form; the extension needs "
                        "'${form}' with f pointing to ${op}. See docs/building.md (declarations that "
                        "changed between releases).")
  endif()
  message(STATUS "Platform headers lack ${op}: kep_platform.h declares the older form")
  set(KEP_PLATFORM_LACKS ${KEP_PLATFORM_LACKS} ${op} PARENT_SCOPE)
endfunction()

kep_check_platform_declaration(PREF_ask_search_scope tc/preferences.h
                               "int (*f)(TC_preference_search_scope_t*)")
kep_check_platform_declaration(PREF_set_search_scope tc/preferences.h
                               "int (*f)(TC_preference_search_scope_t)")
kep_check_platform_declaration(TCTYPE_ask_name tccore/tctype.h "int (*f)(tag_t, char*)")
kep_check_platform_declaration(TCTYPE_register_properties tccore/tctype.h
                               "int (*f)(USER_prop_init_entry_t*, int)")
kep_check_platform_declaration(TCTYPE_add_runtime_property tccore/tctype.h
                               "int (*f)(tag_t, const char*, PROP_value_type_t, int, tag_t*)")
kep_check_platform_declaration(PROP_ask_owning_object property/prop.h "int (*f)(tag_t, tag_t*)")

foreach(op ${KEP_PLATFORM_LACKS})
  target_compile_definitions(kep_platform INTERFACE KEP_PLATFORM_LACKS_${op})
endforeach()
