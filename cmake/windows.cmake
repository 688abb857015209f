# The Windows build, included by the top CMakeLists.txt: the portable libraries, their
# tests, and tests/windows, which checks what the port takes for granted of the platform.

# Win32 calls are the wide ones (CreateFile is CreateFileW): the narrow ones take the ANSI
# code page, which cannot hold every name. windows.h without the min and max macros that
# break std::min, and the API of Windows 10.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00
    WINVER=0x0A00)

add_subdirectory(src)
# The zip and the installer.
include(cmake/windows-dist.cmake)

if(NOT BRUMLIS_BUILD_TESTS)
    return()
endif()
enable_testing()

# GoogleTest compiled by the same compiler from Debian's sources of it (package googletest):
# Linux's libgtest cannot be linked into a Windows program. Only what a test links is built.
set(BRUMLIS_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH
    "GoogleTest's sources, compiled for Windows")
if(NOT EXISTS ${BRUMLIS_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources in ${BRUMLIS_GOOGLETEST_SOURCE}: "
        "tools/install-deps windows installs them")
endif()
set(INSTALL_GTEST OFF)
set(BUILD_GMOCK ON)
add_subdirectory(${BRUMLIS_GOOGLETEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest
    EXCLUDE_FROM_ALL SYSTEM)
# It names its targets as find_package(GTest) does on Linux (GTest::gtest_main), so a test
# folder links the same in both builds. Its code is not ours to keep free of warnings.
set_target_properties(gtest gtest_main gmock gmock_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)

# A test program is asked for its tests when ctest starts, not after it is linked: asking
# runs it under Wine, which building then would need, and a build of all tests would start
# Wine once a program.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

add_subdirectory(tests)
