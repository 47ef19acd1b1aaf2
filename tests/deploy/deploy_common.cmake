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
set(DEPLOY_COMPILERS -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_C_COMPILER=${CC})
set(DEPLOY_TOOLCHAIN -G ${GENERATOR} ${DEPLOY_COMPILERS})
set(DEPLOY_DIR ${CMAKE_CURRENT_LIST_DIR})
string(REGEX MATCH "^[0-9]+" DEPLOY_MAJOR ${VERSION})

# The two installed libraries: versioned file with its soname and plain-name links, no run path
# but $ORIGIN, the ident lines of this version; the header and the package files.
function(deploy_check_installed prefix)
  foreach(lib kep kep_support)
    set(real ${prefix}/lib/lib${lib}.so.${VERSION})
    foreach(link lib${lib}.so.${DEPLOY_MAJOR} lib${lib}.so)
      if(NOT IS_SYMLINK ${prefix}/lib/${link})
        message(FATAL_ERROR "${prefix}/lib/${link}: expected a link to lib${lib}.so.${VERSION}")
      endif()
    endforeach()
    deploy_run(dynamic readelf -d ${real})
    deploy_expect_match("${dynamic}" "Library soname: \\[lib${lib}\\.so\\.${DEPLOY_MAJOR}\\]" "${real}")
    string(REGEX MATCHALL "Library (runpath|rpath): \\[[^]]*\\]" paths "${dynamic}")
    foreach(path ${paths})
      if(NOT path MATCHES "\\[\\$ORIGIN\\]$")
        message(FATAL_ERROR "${real}: ${path}; expected no run path but $ORIGIN")
      endif()
    endforeach()
    # Found as `strings` finds them: four whole lines (no other text runs into one), in this order.
    file(STRINGS ${real} ident REGEX "@\\(#\\) KEP")
    string(REPLACE "." "\\." version ${VERSION})
    set(date "[0-9][0-9]\\.[0-9][0-9]\\.[0-9][0-9] [0-9][0-9][0-9][0-9][0-9][0-9]")
    if(NOT ident MATCHES "^@\\(#\\) KEPModule: ${lib};@\\(#\\) KEPVersion: ${version};@\\(#\\) KEPDate: ${date};@\\(#\\) KEPBuild: [-A-Za-z0-9._+]+$")
      message(FATAL_ERROR "${real}: ident lines '${ident}'; expected KEPModule: ${lib}, KEPVersion: ${VERSION}, "
                          "KEPDate (dd.mm.yy hhmmss), KEPBuild (the source revision)")
    endif()
  endforeach()
  foreach(file include/kep_support.h lib/cmake/kep/kepConfig.cmake lib/cmake/kep/kepConfigVersion.cmake)
    if(NOT EXISTS ${prefix}/${file})
      message(FATAL_ERROR "${prefix}/${file} was not installed")
    endif()
  endforeach()
endfunction()

# deploy_consume(<prefix> <build folder> [VAR=value...]): builds consumer/ against the installed
# package (find_package(kep), kep::kep_support) and runs it with ZODORE_DEBUG=ON, the given
# environment applying to both; it must use kep_support from the prefix and write its trace.
function(deploy_consume prefix dir)
  set(env ${CMAKE_COMMAND} -E env ${ARGN})
  deploy_run(out ${env} ${CMAKE_COMMAND} -S ${DEPLOY_DIR}/consumer -B ${dir} ${DEPLOY_TOOLCHAIN} ${DEPLOY_FLAGS}
             -DCMAKE_PREFIX_PATH=${prefix})
  deploy_run(out ${CMAKE_COMMAND} --build ${dir})
  deploy_run(ldd ${env} ldd ${dir}/kep_consumer)
  deploy_expect_match("${ldd}" "libkep_support\\.so\\.${DEPLOY_MAJOR} => ${prefix}/lib/" "the consumer's libraries")
  deploy_run(out ${env} ZODORE_DEBUG=ON ${dir}/kep_consumer)
  deploy_expect_match("${out}" "^@\\(#\\) KEPVersion: ${VERSION}\n$" "the consumer's standard output")
  set(trace ">>> consumer start\n    inside, 100% sure\n<<< consumer end\n")
  if(NOT out_ERR STREQUAL trace)
    message(FATAL_ERROR "the consumer's trace:\n${out_ERR}\nexpected:\n${trace}")
  endif()
endfunction()
