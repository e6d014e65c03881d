# Cross build for armhf Linux with Debian's cross compiler
# (g++-arm-linux-gnueabihf) and the target's libraries from Debian's
# multiarch packages (scripts/setup cross); tests run under qemu-arm.
set(LOOPMASS_TRIPLET arm-linux-gnueabihf)
set(LOOPMASS_PROCESSOR armv7l)
set(LOOPMASS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

# GCC notes on every std::vector iterator that its argument passing
# changed in GCC 7.1; all of the program is built by one compiler.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
