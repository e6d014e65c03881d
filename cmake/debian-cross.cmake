# What a cross build with Debian's cross compilers and multiarch packages
# needs, for the target that the including toolchain names:
#   LOOPMASS_TRIPLET    the GNU triplet (aarch64-linux-gnu), which names the
#                       compilers and the multiarch folders
#   LOOPMASS_PROCESSOR  CMAKE_SYSTEM_PROCESSOR
#   LOOPMASS_QEMU       the qemu-user program that runs what it builds
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${LOOPMASS_PROCESSOR})
set(CMAKE_C_COMPILER ${LOOPMASS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${LOOPMASS_TRIPLET}-g++)

# Multiarch puts the target's libraries in /usr/lib/TRIPLET, and the cross
# compiler keeps its own under /usr/TRIPLET.  Programs found are the build
# machine's; libraries, headers and packages the target's.
set(CMAKE_LIBRARY_ARCHITECTURE ${LOOPMASS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH "/usr/${LOOPMASS_TRIPLET};/")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${LOOPMASS_TRIPLET}/pkgconfig:/usr/share/pkgconfig")

# qemu without -L: the binaries name the loader under /lib, which the
# target's multiarch libc installs, so the loader and the libraries it
# loads are of one build (the cross toolchain's copy under /usr/TRIPLET is
# an older one, and with it threads hang).
set(CMAKE_CROSSCOMPILING_EMULATOR ${LOOPMASS_QEMU})
