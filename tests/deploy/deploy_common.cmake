# Shared by the deployment scripts: run a command, stop the test with its output when it fails.

# deploy_run(<output variable> <command...>): runs the command; its standard output goes to the
# variable, its standard error to <output variable>_ERR.
function(deploy_run out)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " cmd "${ARGN}")
    message(FATAL_ERROR "failed (${rc}): ${cmd}\n--- stdout\n${stdout}\n--- stderr\n${stderr}")
  endif()
  set(${out} "${stdout}" PARENT_SCOPE)
  set(${out}_ERR "${stderr}" PARENT_SCOPE)
endfunction()

function(deploy_expect_match text regex what)
  if(NOT text MATCHES "${regex}")
    message(FATAL_ERROR "${what}: expected a match of '${regex}' in:\n${text}")
  endif()
endfunction()

# The sanitizer build's libraries need the sanitizer runtimes in every program that links them.
set(DEPLOY_FLAGS)
if(SANITIZE)
  set(DEPLOY_FLAGS "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined" "-DCMAKE_C_FLAGS=-fsanitize=address,undefined"
                   "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined"
                   "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined")
endif()
set(DEPLOY_TOOLCHAIN -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_C_COMPILER=${CC})
