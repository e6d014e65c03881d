# Cross build for aarch64 Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu) and the target's libraries from Debian's
# multiarch packages (scripts/setup cross); tests run under qemu-aarch64.
set(LOOPMASS_TRIPLET aarch64-linux-gnu)
set(LOOPMASS_PROCESSOR aarch64)
set(LOOPMASS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
