# The update step of update_while_loaded.cmake, run while the holder runs: waits until the holder
# has loaded release a, installs release b into a folder of its own, switches `current` to it by
# renaming a new link over the old one, and tells the holder to go on.
foreach(i RANGE 3000)
  if(EXISTS ${WORK_DIR}/ready)
    break()
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 0.05)
endforeach()
if(NOT EXISTS ${WORK_DIR}/ready)
  file(TOUCH ${WORK_DIR}/go)
  message(FATAL_ERROR "the holder did not load the library")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/releases/b
                RESULT_VARIABLE rc OUTPUT_QUIET)
file(CREATE_LINK releases/b ${WORK_DIR}/current.new SYMBOLIC)
file(RENAME ${WORK_DIR}/current.new ${WORK_DIR}/current)
file(TOUCH ${WORK_DIR}/go)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install into releases/b failed (${rc})")
endif()
