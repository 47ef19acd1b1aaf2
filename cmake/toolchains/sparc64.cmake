# SPARC V9 64-bit (big-endian, strict alignment) from Linux: the sparc64-linux-gnu cross compiler
# builds the programs; qemu-sparc64 (user mode) runs them with Debian's SPARC C library as the
# sysroot. Debian packages: g++-sparc64-linux-gnu, qemu-user (`make test-sparc64` installs them).
# The operating system under qemu is Linux, not Solaris (docs/building.md).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR sparc64)

set(CMAKE_C_COMPILER sparc64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER sparc64-linux-gnu-g++)

set(KEP_SPARC64_SYSROOT /usr/sparc64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${KEP_SPARC64_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-sparc64 -L ${KEP_SPARC64_SYSROOT})
