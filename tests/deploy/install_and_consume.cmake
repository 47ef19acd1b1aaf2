# `cmake --install` of this build into a fresh prefix, then:
#   - the installed libraries have their versioned names, their soname and no run path but $ORIGIN
#     (none into the build tree), and both carry the ident lines of this version;
#   - a consumer project (consumer/) finds the package with find_package(kep), links
#     kep::kep_support from the prefix, and its trace reaches standard error with ZODORE_DEBUG=ON;
#   - kep-host --version shows the same version.
include(${CMAKE_CURRENT_LIST_DIR}/deploy_common.cmake)
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
deploy_run(out ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

string(REGEX MATCH "^[0-9]+" major ${VERSION})
foreach(lib kep kep_support)
  set(real ${prefix}/lib/lib${lib}.so.${VERSION})
  foreach(link lib${lib}.so.${major} lib${lib}.so)
    if(NOT IS_SYMLINK ${prefix}/lib/${link})
      message(FATAL_ERROR "${prefix}/lib/${link}: expected a link to lib${lib}.so.${VERSION}")
    endif()
  endforeach()
  deploy_run(dynamic readelf -d ${real})
  deploy_expect_match("${dynamic}" "Library soname: \\[lib${lib}\\.so\\.${major}\\]" "${real}")
  string(REGEX MATCHALL "Library (runpath|rpath): \\[[^]]*\\]" paths "${dynamic}")
  foreach(path ${paths})
    if(NOT path MATCHES "\\[\\$ORIGIN\\]$")
      message(FATAL_ERROR "${real}: ${path}; expected no run path but $ORIGIN")
    endif()
  endforeach()
  file(STRINGS ${real} ident REGEX "^@\\(#\\) KEP")
  set(expected "@(#) KEPModule: ${lib}" "@(#) KEPVersion: ${VERSION}")
  list(FILTER ident EXCLUDE REGEX "^@\\(#\\) KEPDate: [0-9][0-9]\\.[0-9][0-9]\\.[0-9][0-9] [0-9][0-9][0-9][0-9][0-9][0-9]$")
  if(NOT ident STREQUAL expected)
    message(FATAL_ERROR "${real}: ident lines '${ident}' besides the date line; expected '${expected}'")
  endif()
endforeach()
foreach(file include/kep_support.h lib/cmake/kep/kepConfig.cmake lib/cmake/kep/kepConfigVersion.cmake)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "${prefix}/${file} was not installed")
  endif()
endforeach()

deploy_run(out ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/consumer -B ${WORK_DIR}/consumer ${DEPLOY_TOOLCHAIN} ${DEPLOY_FLAGS}
           -DCMAKE_PREFIX_PATH=${prefix})
deploy_run(out ${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
deploy_run(ldd ldd ${WORK_DIR}/consumer/kep_consumer)
deploy_expect_match("${ldd}" "libkep_support\\.so\\.${major} => ${prefix}/lib/" "the consumer's libraries")
deploy_run(out ${CMAKE_COMMAND} -E env ZODORE_DEBUG=ON ${WORK_DIR}/consumer/kep_consumer)
deploy_expect_match("${out}" "^@\\(#\\) KEPVersion: ${VERSION}\n$" "the consumer's standard output")
set(trace ">>> consumer start\n    inside, 100% sure\n<<< consumer end\n")
if(NOT out_ERR STREQUAL trace)
  message(FATAL_ERROR "the consumer's trace:\n${out_ERR}\nexpected:\n${trace}")
endif()

deploy_run(out ${KEP_HOST} --version)
deploy_expect_match("${out}" "^kep-host ${VERSION}\n$" "kep-host --version")
