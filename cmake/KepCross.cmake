# What a cross build (cmake/toolchains/*.cmake) takes from the build machine instead of the
# target's own packages:
#   - the header-only libraries (nlohmann_json, CLI11, RapidJSON) as they are, from a copy of their headers
#     (the build machine's /usr/include must not come before the target's C library headers);
#   - GoogleTest, built for the target from Debian's source package (/usr/src/googletest);
#   - on Windows, the compiler's runtime DLLs beside the programs.
set(KEP_CROSS_HEADERS_FROM /usr/include CACHE PATH "Where the header-only libraries' headers are")
set(KEP_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources, built for the target")

set(kep_cross_dir ${PROJECT_BINARY_DIR}/cross-deps)
file(COPY ${KEP_CROSS_HEADERS_FROM}/nlohmann ${KEP_CROSS_HEADERS_FROM}/CLI ${KEP_CROSS_HEADERS_FROM}/rapidjson
     DESTINATION ${kep_cross_dir}/include)

# kep_cross_package(<package> <target> <version>): a config file that names the copied headers.
function(kep_cross_package package target version)
  set(dir ${kep_cross_dir}/${package})
  file(WRITE ${dir}/${package}Config.cmake
       "if(NOT TARGET ${target})\n"
       "  add_library(${target} INTERFACE IMPORTED)\n"
       "  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES \"${kep_cross_dir}/include\")\n"
       "endif()\n")
  file(WRITE ${dir}/${package}ConfigVersion.cmake
       "set(PACKAGE_VERSION ${version})\n"
       "if(PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION)\n"
       "  set(PACKAGE_VERSION_COMPATIBLE FALSE)\n"
       "else()\n"
       "  set(PACKAGE_VERSION_COMPATIBLE TRUE)\n"
       "endif()\n")
  set(${package}_DIR ${dir} CACHE PATH "" FORCE)
endfunction()
kep_cross_package(nlohmann_json nlohmann_json::nlohmann_json 3.11.2)
kep_cross_package(CLI11 CLI11::CLI11 2.1.2)
# RapidJSON is found by its header (itk/host/kep_host/CMakeLists.txt).
set(KEP_RAPIDJSON_INCLUDE_DIR ${kep_cross_dir}/include CACHE PATH "" FORCE)

if(KEP_BUILD_TESTS AND NOT KEP_REAL_PLATFORM)
  if(NOT EXISTS ${KEP_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in '${KEP_GTEST_SOURCE_DIR}' (Debian package googletest)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${KEP_GTEST_SOURCE_DIR} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

if(KEP_CROSS_RUNTIME_DLLS)
  file(COPY ${KEP_CROSS_RUNTIME_DLLS} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
endif()
