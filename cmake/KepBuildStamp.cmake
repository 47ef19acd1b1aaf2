# cmake -DOUTPUT=<header> -P KepBuildStamp.cmake: writes the build stamp header of one library.
string(TIMESTAMP stamp "%d.%m.%y %H%M%S")
file(WRITE ${OUTPUT} "/* Written by the build each time the library's objects change. */\n"
                     "#define KEP_BUILD_STAMP \"${stamp}\"\n")
