# The real-platform build against a folder laid out as a platform installation: include/<folders>
# with every public platform header folder of the stand-in (its control interface left out),
# lib/ with the platform's library names, each a link to PLATFORM_LIB (the stand-in's objects
# linked again as libtc.so).
#   - The preset `platform` refuses a library folder whose libraries are the stand-in itself.
#   - Headers as a later release has them (the six declarations it dropped taken out) and with a
#     warning of their own: configuring (plainly, with CMake's default generator, as a site might)
#     finds each declaration missing, the build declares them itself, includes the platform as
#     system headers and builds every target of the mode. Neither library nor kep_check links the
#     stand-in (readelf -d). The build installs as a site installs it (kep_check in bin/, which
#     runs and logs in), and a consumer of the package builds against the installation named by
#     TC_ROOT and runs with the platform's libraries on its library path.
#   - The same headers as an older release has them: configuring finds the older forms.
include(${CMAKE_CURRENT_LIST_DIR}/deploy_common.cmake)
set(root ${WORK_DIR}/tc_root)
set(older_include ${WORK_DIR}/older/include)
file(REMOVE_RECURSE ${WORK_DIR})

set(dropped PREF_ask_search_scope PREF_set_search_scope TCTYPE_ask_name TCTYPE_register_properties
            TCTYPE_add_runtime_property PROP_ask_owning_object)
file(GLOB folders LIST_DIRECTORIES true ${SOURCE_DIR}/itk/host/standin/include/*)
foreach(folder ${folders})
  get_filename_component(name ${folder} NAME)
  if(IS_DIRECTORY ${folder} AND NOT name STREQUAL "standin")
    file(COPY ${folder} DESTINATION ${root}/include)
    file(COPY ${folder} DESTINATION ${older_include})
  endif()
endforeach()
file(GLOB_RECURSE headers ${root}/include/*.h)
foreach(header ${headers})
  file(READ ${header} text)
  foreach(op ${dropped})
    string(REGEX REPLACE "TC_API int ${op}\\([^;]*\\);\n" "" text "${text}")
  endforeach()
  file(WRITE ${header} "${text}")
endforeach()
foreach(include ${root}/include ${older_include})
  file(READ ${include}/tc/tc.h text)
  string(REGEX REPLACE "#endif[ \n]*$" "static inline int platform_header_warning(void) { int unused = 0; return 0; }\n#endif\n" text "${text}")
  file(WRITE ${include}/tc/tc.h "${text}")
endforeach()

set(platform_libs tc tccore bom ae property base_utils ict pom)
file(COPY ${STANDIN_LIB} DESTINATION ${WORK_DIR}/standin_root/lib)
get_filename_component(standin_name ${STANDIN_LIB} NAME)
foreach(lib ${platform_libs})
  file(CREATE_LINK ${standin_name} ${WORK_DIR}/standin_root/lib/lib${lib}.so SYMBOLIC)
endforeach()
file(COPY ${PLATFORM_LIB} DESTINATION ${root}/lib)
foreach(lib ${platform_libs})
  if(NOT EXISTS ${root}/lib/lib${lib}.so)
    file(CREATE_LINK libtc.so ${root}/lib/lib${lib}.so SYMBOLIC)
  endif()
endforeach()

set(platform_args ${DEPLOY_TOOLCHAIN} -DKEP_SANITIZE=${SANITIZE})
execute_process(COMMAND ${CMAKE_COMMAND} --preset platform -B ${WORK_DIR}/standin_build ${platform_args}
                        -DKEP_PLATFORM_INCLUDE_DIR=${root}/include -DKEP_PLATFORM_LIB_DIR=${WORK_DIR}/standin_root/lib
                WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc EQUAL 0 OR NOT err MATCHES "is the stand-in platform or links it")
  message(FATAL_ERROR "the preset platform against the stand-in's library: expected a refusal, got (${rc}):\n${out}${err}")
endif()

# The settings of the preset `platform`, given plainly: no generator named, none in the environment.
deploy_run(out ${CMAKE_COMMAND} -E env --unset=CMAKE_GENERATOR TC_ROOT=${root}
           ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build ${DEPLOY_COMPILERS} -DKEP_SANITIZE=${SANITIZE}
           -DCMAKE_BUILD_TYPE=Release -DKEP_REAL_PLATFORM=ON -DKEP_BUILD_TESTS=OFF)
foreach(op ${dropped})
  deploy_expect_match("${out}" "Platform headers lack ${op}:" "configuring against later-release headers")
endforeach()
deploy_run(out ${CMAKE_COMMAND} --build ${WORK_DIR}/build -j 2)
file(READ ${WORK_DIR}/build/compile_commands.json commands)
deploy_expect_match("${commands}" "-isystem ${root}/include" "the compile commands")
if(NOT EXISTS ${WORK_DIR}/build/bin/libkep.so.${VERSION} OR NOT EXISTS ${WORK_DIR}/build/bin/libkep_support.so.${VERSION})
  message(FATAL_ERROR "${WORK_DIR}/build/bin: the two libraries were not built")
endif()
deploy_run(out ${CMAKE_COMMAND} --install ${WORK_DIR}/build --prefix ${WORK_DIR}/prefix)
deploy_check_installed(${WORK_DIR}/prefix)
foreach(file lib/libkep.so.${VERSION} lib/libkep_support.so.${VERSION} bin/kep_check)
  deploy_run(dynamic readelf -d ${WORK_DIR}/prefix/${file})
  string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*" needed "${dynamic}")
  if(needed MATCHES "standin" OR NOT needed MATCHES "\\[libtc\\.so\\]")
    message(FATAL_ERROR "${WORK_DIR}/prefix/${file}: needs ${needed}; expected libtc.so and never the stand-in")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${root}/lib
                        ${WORK_DIR}/prefix/bin/kep_check -u=admin -p=secret -g=dba
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 1 OR NOT out MATCHES "TC_customization_libraries")
  message(FATAL_ERROR "the installed kep_check on an empty site: expected its report and status 1, got (${rc}):\n${out}${err}")
endif()
deploy_consume(${WORK_DIR}/prefix ${WORK_DIR}/consumer TC_ROOT=${root} LD_LIBRARY_PATH=${root}/lib)

deploy_run(out ${CMAKE_COMMAND} --preset platform -B ${WORK_DIR}/older_build ${platform_args}
           -DKEP_PLATFORM_INCLUDE_DIR=${older_include} -DKEP_PLATFORM_LIB_DIR=${root}/lib)
foreach(op ${dropped})
  deploy_expect_match("${out}" "Platform declares ${op} in the older form" "configuring against older-release headers")
endforeach()
