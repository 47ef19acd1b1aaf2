# The project version, written once in project(), and the build stamps of the two libraries.
#
# kep_version.h (generated at configure time) carries the version for every source that shows it:
# the ident lines of both libraries and `kep-host --version`.
#
# The build stamp ("dd.mm.yy hhmmss") and the source revision of a library are taken when the
# library is built: a small header is written again whenever one of the library's other objects
# has been compiled again, and only the library's ident source includes it. An unchanged library
# keeps its stamp, so a build with nothing to do stays a build with nothing to do.
# SOURCE_DATE_EPOCH, when set, fixes the stamp (reproducible builds); KEP_BUILD_REVISION, when
# set, fixes the revision (a build from an unpacked source archive, which has no git history).

set(KEP_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/kep_version.h.in ${KEP_GENERATED_DIR}/kep_version.h @ONLY)

add_library(kep_version INTERFACE)
target_include_directories(kep_version INTERFACE $<BUILD_INTERFACE:${KEP_GENERATED_DIR}>)

set(KEP_BUILD_STAMP_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/KepBuildStamp.cmake)
set(KEP_BUILD_REVISION "" CACHE STRING "Source revision in the ident lines (empty: git describe of the tree)")
find_package(Git QUIET)

# kep_add_ident(<target> <objects target> <ident source>)
# Defines the object library <target> compiled from <ident source>, which includes
# kep_build_stamp.h; the stamp is written again each time an object of <objects target> changes.
#
# The stamp's command depends on the files of another target. Ninja sees every file of the build
# at once; the Makefile and Visual Studio generators only know those of the target at hand, so
# <target> also depends on <objects target> as a whole: its objects are built first.
function(kep_add_ident target objects source)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target})
  add_custom_command(
    OUTPUT ${dir}/kep_build_stamp.h
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${dir}/kep_build_stamp.h -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
            -DVERSION=${PROJECT_VERSION}
            -DGIT=${GIT_EXECUTABLE} -DREVISION=${KEP_BUILD_REVISION} -P ${KEP_BUILD_STAMP_SCRIPT}
    DEPENDS $<TARGET_OBJECTS:${objects}> ${KEP_BUILD_STAMP_SCRIPT}
    COMMENT "Build stamp of ${objects}"
    VERBATIM)
  add_library(${target} OBJECT ${source} ${dir}/kep_build_stamp.h)
  add_dependencies(${target} ${objects})
  target_include_directories(${target} PRIVATE ${dir})
  target_link_libraries(${target} PRIVATE kep_version)
endfunction()

# kep_version_resource(<library> <ident target> <description>)
# Windows: gives the DLL its version resource (kep_version.rc.in), compiled with the build stamp of
# <ident target> (kep_add_ident). Elsewhere nothing: the ident lines carry the same.
function(kep_version_resource library ident description)
  if(NOT WIN32)
    return()
  endif()
  set(KEP_RC_MODULE ${library})
  set(KEP_RC_DESCRIPTION "${description}")
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${ident})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/kep_version.rc.in ${dir}/${library}_version.rc @ONLY)
  target_sources(${library} PRIVATE ${dir}/${library}_version.rc)
  set_source_files_properties(${dir}/${library}_version.rc PROPERTIES OBJECT_DEPENDS ${dir}/kep_build_stamp.h)
  target_include_directories(${library} PRIVATE ${dir} ${KEP_GENERATED_DIR})
endfunction()
