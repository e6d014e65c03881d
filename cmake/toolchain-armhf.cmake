# Cross build for armhf Linux with Debian's cross compiler
# (g++-arm-linux-gnueabihf) and the arm-linux-gnueabihf libraries of Debian's multiarch
# packages; tests and the program run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# Multiarch puts the libraries in /usr/lib/arm-linux-gnueabihf and the cross
# compiler's own files under /usr/arm-linux-gnueabihf: search both, and never the
# build machine's programs' folders for libraries and headers.
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH "/usr/arm-linux-gnueabihf;/")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig")

# No -L: the binaries' loader is the one the multiarch libc installs at
# its usual path, which qemu finds as any program would.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)

# GCC notes on every std::vector iterator that its argument passing
# changed in GCC 7.1; all of the program is built by one compiler.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
