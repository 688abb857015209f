# What a Windows user downloads, made by every build of the Windows preset: included by
# cmake/windows.cmake once the programs are defined.
#   build-windows/brumlis-<version>-windows-x64.zip  one folder Brumlis-<version> to unpack
#   build-windows/brumlis-<version>-setup.exe        the installer (dist/windows/brumlis.nsi)
# Both are made from the folder dist/windows/stage.cmake lays out in build-windows/dist/.
find_program(BRUMLIS_PYTHON3 python3)
if(NOT BRUMLIS_PYTHON3)
    message(FATAL_ERROR "python3 not found: the Windows zip is made with it "
        "(tools/install-deps windows installs it)")
endif()
find_program(BRUMLIS_MAKENSIS makensis)
if(NOT BRUMLIS_MAKENSIS)
    message(FATAL_ERROR "makensis not found: the Windows installer is made with NSIS "
        "(tools/install-deps windows installs the package nsis)")
endif()

set(distDir ${PROJECT_BINARY_DIR}/dist)
set(stageDir ${distDir}/Brumlis-${PROJECT_VERSION})
set(windowsDist ${PROJECT_SOURCE_DIR}/dist/windows)
set(BRUMLIS_ZIP ${PROJECT_BINARY_DIR}/brumlis-${PROJECT_VERSION}-windows-x64.zip)
set(BRUMLIS_SETUP ${PROJECT_BINARY_DIR}/brumlis-${PROJECT_VERSION}-setup.exe)
# Every file of the zip gets this time, so that the same files make the same zip.
set(BRUMLIS_ZIP_TIME "2026-01-01 00:00:00" CACHE STRING
    "The time of every file in the Windows zip")

# A word list or sound added to data/ is seen at the next build.
file(GLOB_RECURSE dataFiles CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/data/text/*
    ${PROJECT_SOURCE_DIR}/data/sound/*)

add_custom_command(OUTPUT ${distDir}/files.txt ${distDir}/install.nsh ${distDir}/uninstall.nsh
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DSTAGE=${stageDir}
            -DGUI=$<TARGET_FILE:brumlis> -DCLI=$<TARGET_FILE:brumlis-cli>
            -DVERSION=${PROJECT_VERSION} -P ${windowsDist}/stage.cmake
    DEPENDS brumlis brumlis-cli ${windowsDist}/stage.cmake ${windowsDist}/README.txt.in
            ${PROJECT_SOURCE_DIR}/LICENSE ${dataFiles}
    COMMENT "Laying out Brumlis-${PROJECT_VERSION} for Windows")

# Python's zipfile marks a name with å, ä or ö as UTF-8 (Debian's zip does not, and
# Explorer then reads it in the OEM code page), and writes no times but the one given:
# libarchive's (cmake -E tar) writes each file's access and change times, so two builds
# of the same files would differ.
add_custom_command(OUTPUT ${BRUMLIS_ZIP}
    COMMAND ${BRUMLIS_PYTHON3} ${windowsDist}/make-zip.py ${distDir}/files.txt ${BRUMLIS_ZIP}
            ${BRUMLIS_ZIP_TIME}
    WORKING_DIRECTORY ${distDir}
    DEPENDS ${distDir}/files.txt ${windowsDist}/make-zip.py
    COMMENT "Packing ${BRUMLIS_ZIP}"
    VERBATIM)

add_custom_command(OUTPUT ${BRUMLIS_SETUP}
    COMMAND ${BRUMLIS_MAKENSIS} -V2 -INPUTCHARSET UTF8 -DVERSION=${PROJECT_VERSION}
            -DSTAGE=${stageDir} -DOUTFILE=${BRUMLIS_SETUP} -DINCLUDES=${distDir}
            ${windowsDist}/brumlis.nsi
    DEPENDS ${distDir}/install.nsh ${distDir}/uninstall.nsh ${windowsDist}/brumlis.nsi
    COMMENT "Making the installer ${BRUMLIS_SETUP}")

add_custom_target(brumlis_windows_dist ALL DEPENDS ${BRUMLIS_ZIP} ${BRUMLIS_SETUP})
