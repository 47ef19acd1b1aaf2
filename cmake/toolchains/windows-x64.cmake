# Windows x64 from Linux: the mingw-w64 cross compiler (posix threads) builds PE32+ DLLs and
# programs; wine runs them (tests, gtest discovery) through scripts/wine-run.sh.
# Debian packages: g++-mingw-w64-x86-64-posix, wine64 (`make test-windows-x64` installs them).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtime DLLs (libstdc++, libgcc, winpthread) are copied beside the programs
# (cmake/KepCross.cmake); this is where they are.
set(KEP_CROSS_RUNTIME_DLLS /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++-6.dll
                           /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libgcc_s_seh-1.dll
                           /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../../scripts/wine-run.sh)
