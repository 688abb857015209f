# Cross-builds for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix), and
# runs what it builds under Wine (tools/wine-run). The POSIX flavour of the compiler is the
# one with std::thread, std::mutex and std::condition_variable; the win32 one has none of
# them in GCC 12.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BRUMLIS_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BRUMLIS_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRUMLIS_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${BRUMLIS_MINGW_TRIPLET}-windres)

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

# Libraries, headers and CMake packages come from the MinGW tree only: Linux's GTest or
# Qt config files found under /usr would be taken for Windows ones and fail at link time.
set(CMAKE_FIND_ROOT_PATH /usr/${BRUMLIS_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The same for pkg-config, which would otherwise hand out Linux's flags.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${BRUMLIS_MINGW_TRIPLET}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# libstdc++, libgcc and winpthreads linked in, so that an exe imports only Windows' own DLLs
# and runs from any folder without MinGW's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)

# ctest and gtest_discover_tests start every Windows program through Wine, in a prefix of
# this build folder's own, and bounded in time.
get_filename_component(brumlis_tools ${CMAKE_CURRENT_LIST_DIR}/../tools ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${brumlis_tools}/wine-run --prefix ${CMAKE_BINARY_DIR}/wine-prefix)
