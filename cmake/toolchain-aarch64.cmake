# Cross build for aarch64 Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu) and the target's libraries from Debian's
# multiarch packages (scripts/setup cross); tests run under qemu-aarch64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Multiarch puts the target's libraries in /usr/lib/aarch64-linux-gnu, and
# the cross compiler keeps its own under /usr/aarch64-linux-gnu.  Programs
# found are the build machine's; libraries, headers and packages the
# target's.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH "/usr/aarch64-linux-gnu;/")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")

# qemu without -L: the binaries name the loader /lib/ld-linux-aarch64.so.1, which
# the target's multiarch libc installs, so the loader and the libraries
# it loads are of one build (the cross toolchain's copy under
# /usr/aarch64-linux-gnu is an older one).
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
