# cmake -DOUTPUT=<header> -DSOURCE_DIR=<tree> -DVERSION=<version> [-DGIT=<git>] [-DREVISION=<text>]
#       -P KepBuildStamp.cmake
# Writes the build stamp header of one library: the date and time of the build and the source
# revision it was built from. The revision is REVISION when given, else `git describe --always
# --dirty` of the source tree when the tree is a checkout of its own, else "unknown".
string(TIMESTAMP stamp "%d.%m.%y %H%M%S")

set(revision "${REVISION}")
if(revision STREQUAL "" AND GIT)
  execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} rev-parse --show-toplevel RESULT_VARIABLE rc
                  OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  # A source tree unpacked inside another checkout is not that checkout.
  if(rc EQUAL 0)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
  endif()
  if(rc EQUAL 0 AND top STREQUAL source)
    execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} describe --always --dirty RESULT_VARIABLE rc
                    OUTPUT_VARIABLE revision OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(NOT rc EQUAL 0)
      set(revision "")
    endif()
  endif()
endif()
# The ident line ends at a quote, a backslash or '>' for `what`: keep to plain characters.
string(REGEX REPLACE "[^A-Za-z0-9._+-]" "_" revision "${revision}")
if(revision STREQUAL "")
  set(revision unknown)
endif()

file(WRITE ${OUTPUT} "/* Written by the build each time the library's objects change. */\n"
                     "#define KEP_BUILD_STAMP \"${stamp}\"\n"
                     "#define KEP_BUILD_REVISION \"${revision}\"\n"
                     "/* The version with the revision, as the Windows version resource shows it. */\n"
                     "#define KEP_PRODUCT_VERSION \"${VERSION} build ${revision}\"\n")
