# What each of the two shared libraries exports, governed by one list per library
# (cmake/exports/<library>.exports), whatever the compiler does with visibility.
#
# From the list the build writes, into <build>/exports/:
#   <library>.map      a GNU ld version script: the names global, everything else local
#                      (Linux and the other ELF systems with GNU ld, the cross builds);
#   <library>.mapfile  a Solaris linker mapfile (version 2) of the same scope, linked with -M
#                      (Solaris: Oracle Developer Studio, or GCC with the Solaris linker);
#   <library>.def      a module-definition file of the Windows names, linked as a source of the
#                      DLL (MSVC and mingw-w64).
# All three are written on every system (the export test reads them); the linker of the system at
# hand gets its own. Names marked "unix" in the list are left out of the .def: Windows keeps them
# internal.
#
# KEP_DEFAULT_VISIBILITY=ON compiles both libraries with every symbol default-visible, as CMake
# before 3.31 compiles them with Developer Studio (CXX_VISIBILITY_PRESET does not reach that
# compiler); the linker's list alone then keeps the exports to the designed ones. CI builds so once.
option(KEP_DEFAULT_VISIBILITY "Compile the two libraries without hidden visibility (the export lists alone limit the exports)" OFF)

set(KEP_EXPORTS_DIR ${PROJECT_BINARY_DIR}/exports)

# kep_read_export_list(<list file> <all names var> <Windows names var>)
function(kep_read_export_list file all_var windows_var)
  file(STRINGS ${file} lines)
  set(all)
  set(windows)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    endif()
    if(NOT line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)( +unix)?$")
      message(FATAL_ERROR "${file}: '${line}' is not a name, optionally followed by 'unix'")
    endif()
    list(APPEND all ${CMAKE_MATCH_1})
    if(NOT CMAKE_MATCH_2)
      list(APPEND windows ${CMAKE_MATCH_1})
    endif()
  endforeach()
  set(${all_var} ${all} PARENT_SCOPE)
  set(${windows_var} ${windows} PARENT_SCOPE)
endfunction()

# kep_library_exports(<shared library target> <list file> <object library targets...>)
# Writes the three files of the library, links the one of this system, and sets the visibility of
# the objects: hidden (Developer Studio: -xldscope=hidden) unless KEP_DEFAULT_VISIBILITY.
function(kep_library_exports library list)
  kep_read_export_list(${list} all windows)
  set(base ${KEP_EXPORTS_DIR}/${library})

  set(map "{\n  global:\n")
  set(mapfile "$mapfile_version 2\nSYMBOL_SCOPE {\n  global:\n")
  foreach(name IN LISTS all)
    string(APPEND map "    ${name};\n")
    string(APPEND mapfile "    ${name};\n")
  endforeach()
  string(APPEND map "  local:\n    *;\n};\n")
  string(APPEND mapfile "  local:\n    *;\n};\n")
  set(def "LIBRARY ${library}\nEXPORTS\n")
  foreach(name IN LISTS windows)
    string(APPEND def "  ${name}\n")
  endforeach()
  set(header "# Written by the build from ${list}; do not edit.\n")
  file(CONFIGURE OUTPUT ${base}.map CONTENT "${header}${map}" @ONLY)
  file(CONFIGURE OUTPUT ${base}.mapfile CONTENT "${header}${mapfile}" @ONLY)
  file(CONFIGURE OUTPUT ${base}.def CONTENT "; Written by the build from ${list}; do not edit.\n${def}" @ONLY)
  set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list})

  if(WIN32)
    target_sources(${library} PRIVATE ${base}.def)
  elseif(CMAKE_SYSTEM_NAME STREQUAL "SunOS")
    target_link_options(${library} PRIVATE "LINKER:-M,${base}.mapfile")
    set_property(TARGET ${library} APPEND PROPERTY LINK_DEPENDS ${base}.mapfile)
  elseif(NOT APPLE)
    target_link_options(${library} PRIVATE "LINKER:--version-script=${base}.map")
    set_property(TARGET ${library} APPEND PROPERTY LINK_DEPENDS ${base}.map)
  endif()

  foreach(objects IN LISTS ARGN)
    if(KEP_DEFAULT_VISIBILITY)
      set_target_properties(${objects} PROPERTIES CXX_VISIBILITY_PRESET default VISIBILITY_INLINES_HIDDEN OFF)
    elseif(CMAKE_CXX_COMPILER_ID STREQUAL "SunPro")
      # CMake before 3.31 does not turn CXX_VISIBILITY_PRESET into Studio's flag.
      target_compile_options(${objects} PRIVATE -xldscope=hidden)
    endif()
  endforeach()
endfunction()
