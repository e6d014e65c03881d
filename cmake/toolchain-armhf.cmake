# Cross build for armhf Linux with Debian's cross compiler
# (g++-arm-linux-gnueabihf) and the target's libraries from Debian's
# multiarch packages (scripts/setup cross); tests run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)

# Multiarch puts the target's libraries in /usr/lib/arm-linux-gnueabihf, and
# the cross compiler keeps its own under /usr/arm-linux-gnueabihf.  Programs
# found are the build machine's; libraries, headers and packages the
# target's.
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH "/usr/arm-linux-gnueabihf;/")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig")

# qemu without -L: the binaries name the loader /lib/ld-linux-armhf.so.3, which
# the target's multiarch libc installs, so the loader and the libraries
# it loads are of one build (the cross toolchain's copy under
# /usr/arm-linux-gnueabihf is an older one).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)

# GCC notes on every std::vector iterator that its argument passing
# changed in GCC 7.1; all of the program is built by one compiler.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
