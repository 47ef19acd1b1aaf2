# The update of docs/deploying.md (section 12) while a process holds the old library loaded:
#   - release a is installed into releases/a, and `current` links to it; a process (deploy_holder,
#     under EMULATOR when given) loads current/lib/libkep.so and calls its entry point;
#   - while it runs, release b is installed into releases/b and `current` is switched to it in one
#     rename (update_step.cmake);
#   - the process calls the entry point of the library it loaded again (the platform refuses the
#     second registration with a status) and ends normally; release
#     a's files are unchanged; `current` now leads to release b.
# Arguments: SOURCE_DIR, BUILD_DIR, WORK_DIR, HOLDER, VERSION, and EMULATOR (a list) when cross.
include(${CMAKE_CURRENT_LIST_DIR}/deploy_common.cmake)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/releases)
deploy_run(out ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/releases/a)
file(CREATE_LINK releases/a ${WORK_DIR}/current SYMBOLIC)
set(old_file ${WORK_DIR}/releases/a/lib/libkep.so.${VERSION})
file(SHA256 ${old_file} old_hash)
file(TIMESTAMP ${old_file} old_time "%Y%m%d%H%M%S" UTC)

execute_process(COMMAND ${EMULATOR} ${HOLDER} ${WORK_DIR}/current/lib/libkep.so ${WORK_DIR}/ready ${WORK_DIR}/go
                COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${BUILD_DIR} -DWORK_DIR=${WORK_DIR}
                        -P ${CMAKE_CURRENT_LIST_DIR}/update_step.cmake
                RESULTS_VARIABLE results OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT results STREQUAL "0;0")
  message(FATAL_ERROR "the process holding the old library, and the update: exit statuses ${results}\n${out}\n${err}")
endif()
deploy_expect_match("${err}" "releases/a/lib/libkep\\.so\\.${VERSION}: entry point returned 0 before the update and [0-9]+ after"
                    "the process holding release a")
file(SHA256 ${old_file} hash)
file(TIMESTAMP ${old_file} time "%Y%m%d%H%M%S" UTC)
if(NOT hash STREQUAL old_hash OR NOT time STREQUAL old_time)
  message(FATAL_ERROR "${old_file} changed during the update")
endif()
file(REAL_PATH ${WORK_DIR}/current/lib/libkep.so new_file)
deploy_expect_match("${new_file}" "/releases/b/lib/libkep\\.so\\.${VERSION}$" "current after the update")
