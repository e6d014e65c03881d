# Cross build for aarch64 Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu) and the aarch64-linux-gnu libraries of Debian's multiarch
# packages; tests and the program run under qemu-aarch64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Multiarch puts the libraries in /usr/lib/aarch64-linux-gnu and the cross
# compiler's own files under /usr/aarch64-linux-gnu: search both, and never the
# build machine's programs' folders for libraries and headers.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH "/usr/aarch64-linux-gnu;/")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")

# No -L: the binaries' loader is the one the multiarch libc installs at
# its usual path, which qemu finds as any program would.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
