# WebAssembly with Debian's emscripten (scripts/setup web): its own
# platform file, and nothing found on the build machine but programs.  The
# build machine's pkg-config would otherwise hand the x86-64 libraries'
# flags (libsndfile, Cairo, LV2) to the WebAssembly compiler.
include(/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
set(ENV{PKG_CONFIG_LIBDIR} "${EMSCRIPTEN_SYSROOT}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(CMAKE_FIND_ROOT_PATH "${EMSCRIPTEN_SYSROOT}")
