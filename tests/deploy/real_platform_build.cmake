# The real-platform build (preset `platform`) against a folder laid out as a platform installation:
# include/<folders> with every public platform header folder of the stand-in (its control
# interface left out), lib/ with the stand-in's library under the platform's library names.
#   - Headers as a later release has them (the six declarations it dropped taken out) and with a
#     warning of their own: configuring finds each declaration missing, the build declares them
#     itself, includes the platform as system headers and builds every target of the mode. The
#     build installs as a site installs it, and a consumer of the package builds against the
#     installation named by TC_ROOT and runs with the platform's libraries on its library path.
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

file(COPY ${STANDIN_LIB} DESTINATION ${root}/lib)
get_filename_component(standin_name ${STANDIN_LIB} NAME)
foreach(lib tc tccore bom ae property base_utils ict pom)
  file(CREATE_LINK ${standin_name} ${root}/lib/lib${lib}.so SYMBOLIC)
endforeach()

set(platform_args ${DEPLOY_TOOLCHAIN} -DKEP_SANITIZE=${SANITIZE})
deploy_run(out ${CMAKE_COMMAND} -E env TC_ROOT=${root} ${CMAKE_COMMAND} --preset platform -B ${WORK_DIR}/build
           ${platform_args})
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
deploy_consume(${WORK_DIR}/prefix ${WORK_DIR}/consumer TC_ROOT=${root} LD_LIBRARY_PATH=${root}/lib)

deploy_run(out ${CMAKE_COMMAND} --preset platform -B ${WORK_DIR}/older_build ${platform_args}
           -DKEP_PLATFORM_INCLUDE_DIR=${older_include} -DKEP_PLATFORM_LIB_DIR=${root}/lib)
foreach(op ${dropped})
  deploy_expect_match("${out}" "Platform declares ${op} in the older form" "configuring against older-release headers")
endforeach()
