# The install of a cross build (Windows x64, SPARC 64-bit), checked on the target: `cmake --install`
# into a fresh prefix, then a consumer project configured with the same toolchain finds the package
# with find_package(kep), links kep_support (on Windows through its import library) and runs under
# the build's emulator, writing its trace through the installed library; kep-host --version shows
# the same version. On SPARC the installed ELF files are checked as natively (readelf reads any
# ELF). Arguments as for install_and_consume.cmake, and TOOLCHAIN, EMULATOR (a list) and
# RUNTIME_DIR (where the compiler's runtime DLLs are, Windows only).
include(${CMAKE_CURRENT_LIST_DIR}/deploy_common.cmake)
set(prefix ${WORK_DIR}/prefix)
set(consumer ${WORK_DIR}/consumer)
file(REMOVE_RECURSE ${WORK_DIR})
deploy_run(out ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

if(TOOLCHAIN MATCHES "windows")
  set(installed bin/kep.dll bin/kep_support.dll bin/standin.dll lib/kep.dll.a lib/kep_support.dll.a
                include/kep_support.h lib/cmake/kep/kepConfig.cmake lib/cmake/kep/kepConfigVersion.cmake)
  foreach(file ${installed})
    if(NOT EXISTS ${prefix}/${file})
      message(FATAL_ERROR "${prefix}/${file} was not installed")
    endif()
  endforeach()
  # The DLLs are found on the program's path, as on a server; the compiler's runtime beside them.
  set(ENV{WINEPATH} "${prefix}/bin;${RUNTIME_DIR}")
  set(expected_out "kep_support.dll\r?\n")
else()
  deploy_check_installed(${prefix})
  set(expected_out "@\\(#\\) KEPVersion: ${VERSION}\n")
endif()

deploy_run(out ${CMAKE_COMMAND} -S ${DEPLOY_DIR}/consumer -B ${consumer} -G ${GENERATOR}
           -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_BUILD_TYPE=Release -Dkep_DIR=${prefix}/lib/cmake/kep)
deploy_run(out ${CMAKE_COMMAND} --build ${consumer})
file(GLOB program ${consumer}/kep_consumer ${consumer}/kep_consumer.exe)
deploy_run(out ${CMAKE_COMMAND} -E env ZODORE_DEBUG=ON ${EMULATOR} ${program})
deploy_expect_match("${out}" "^${expected_out}$" "the consumer's standard output")
string(REPLACE "\r\n" "\n" trace "${out_ERR}")
if(NOT trace STREQUAL ">>> consumer start\n    inside, 100% sure\n<<< consumer end\n")
  message(FATAL_ERROR "the consumer's trace:\n${out_ERR}")
endif()

deploy_run(out ${EMULATOR} ${KEP_HOST} --version)
deploy_expect_match("${out}" "^kep-host ${VERSION}\r?\n$" "kep-host --version")
