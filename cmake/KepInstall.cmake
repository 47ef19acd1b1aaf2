# What `cmake --install <build> --prefix <prefix>` puts where (docs/building.md):
#   lib/libkep.so.<version>, lib/libkep_support.so.<version>, each with its soname link
#     (.so.<major>) and its plain link (.so); run path $ORIGIN only, never the build tree
#   include/kep_support.h, kep_export.h, kep_platform.h: the diagnostics interface of kep_support
#   lib/cmake/kep/: the package; find_package(kep) gives kep::kep_support
#   bin/kep_check (real-platform build only): the preflight check as a batch program of the
#     platform; like the libraries it finds the platform's libraries on the host's library path
# A build against the stand-in also installs the stand-in, so that what links kep_support can run:
#   lib/libstandin.so and the stand-in's platform headers in include/kep-standin/ (its control
#   interface stays out). The package's kep::platform names them; in a real-platform build it
#   names the platform installation instead.
include(CMakePackageConfigHelpers)

set(KEP_PACKAGE_DIR lib/cmake/kep)

# libkep.so finds libkep_support.so beside it; against the stand-in, libkep_support.so finds
# libstandin.so beside it. The platform's own libraries are found the way the server finds them.
set_target_properties(kep PROPERTIES INSTALL_RPATH "$ORIGIN")
if(NOT KEP_REAL_PLATFORM)
  set_target_properties(kep_support PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()

# On Windows the DLLs go to bin/ and their import libraries to lib/.
install(TARGETS kep_support EXPORT kepTargets LIBRARY DESTINATION lib RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
install(TARGETS kep LIBRARY DESTINATION lib RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
install(FILES ${PROJECT_SOURCE_DIR}/itk/kep_itk/include/kep_support.h
              ${PROJECT_SOURCE_DIR}/itk/kep_itk/include/kep_export.h
              ${PROJECT_SOURCE_DIR}/itk/kep_itk/platform/kep_platform.h
        DESTINATION include)

if(KEP_REAL_PLATFORM)
  set(KEP_BUILT_WITH_STANDIN OFF)
  # kep_check uses the extension it explains: the installed one, beside it in ../lib. The
  # platform's own libraries come from the platform's environment, as for its own utilities.
  if(NOT WIN32)
    set_target_properties(kep_check PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
  endif()
  install(TARGETS kep_check RUNTIME DESTINATION bin)
else()
  set(KEP_BUILT_WITH_STANDIN ON)
  install(TARGETS standin LIBRARY DESTINATION lib RUNTIME DESTINATION bin ARCHIVE DESTINATION lib)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/itk/host/standin/include/ DESTINATION include/kep-standin
          PATTERN standin EXCLUDE)
endif()
# What a consumer links: the shared library, or on Windows its import library (the DLL goes to bin/).
if(WIN32)
  set(KEP_STANDIN_LIBRARY ${CMAKE_IMPORT_LIBRARY_PREFIX}standin${CMAKE_IMPORT_LIBRARY_SUFFIX})
else()
  set(KEP_STANDIN_LIBRARY ${CMAKE_SHARED_LIBRARY_PREFIX}standin${CMAKE_SHARED_LIBRARY_SUFFIX})
endif()

install(EXPORT kepTargets NAMESPACE kep:: DESTINATION ${KEP_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/kepConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/package/kepConfig.cmake INSTALL_DESTINATION ${KEP_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/kepConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/kepConfig.cmake ${PROJECT_BINARY_DIR}/package/kepConfigVersion.cmake
        DESTINATION ${KEP_PACKAGE_DIR})
