# `cmake --install` of this build into a fresh prefix, then:
#   - the installed libraries have their versioned names, their soname and no run path but $ORIGIN
#     (none into the build tree; libkep_support.so finds the stand-in beside it), and both carry
#     the ident lines of this version;
#   - a consumer project finds the package with find_package(kep) and logs through it
#     (deploy_consume);
#   - kep-host --version shows the same version.
include(${CMAKE_CURRENT_LIST_DIR}/deploy_common.cmake)
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
deploy_run(out ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

deploy_check_installed(${prefix})
deploy_consume(${prefix} ${WORK_DIR}/consumer)

deploy_run(out ${KEP_HOST} --version)
deploy_expect_match("${out}" "^kep-host ${VERSION}\n$" "kep-host --version")
