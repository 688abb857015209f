# Lays out what a Windows user downloads, in STAGE (a folder Brumlis-<version>): the two
# programs, text\ and sound\, LICENSE.txt and README.txt with Windows line ends. Beside it
# it writes what the zip and the installer are made from:
#   files.txt      every staged file, sorted, relative to STAGE's parent (the zip's list)
#   install.nsh    SetOutPath and File lines for the installer
#   uninstall.nsh  Delete lines for exactly those files, then RMDir for each folder (never
#                  /r: a folder the user put something in stays)
# Run as: cmake -DSOURCE_DIR=... -DSTAGE=... -DGUI=... -DCLI=... -DVERSION=... -P stage.cmake
foreach(variable SOURCE_DIR STAGE GUI CLI VERSION)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "stage.cmake: ${variable} is not set")
    endif()
endforeach()

file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
file(COPY ${GUI} ${CLI} DESTINATION ${STAGE})
file(COPY ${SOURCE_DIR}/data/text ${SOURCE_DIR}/data/sound DESTINATION ${STAGE})

# Text with CR LF line ends, whatever the source has.
function(write_crlf from to)
    file(READ ${from} text)
    string(REPLACE "\r\n" "\n" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${to} "${text}")
endfunction()
write_crlf(${SOURCE_DIR}/LICENSE ${STAGE}/LICENSE.txt)
set(PROJECT_VERSION ${VERSION})
configure_file(${CMAKE_CURRENT_LIST_DIR}/README.txt.in ${STAGE}/README.txt.lf @ONLY)
write_crlf(${STAGE}/README.txt.lf ${STAGE}/README.txt)
file(REMOVE ${STAGE}/README.txt.lf)

get_filename_component(top ${STAGE} NAME)
get_filename_component(parent ${STAGE} DIRECTORY)
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${STAGE} ${STAGE}/*)
list(SORT files)

set(zipList "")
set(install "")
set(uninstall "")
set(folders "")
set(lastFolder "-")
set(bytes 0)
foreach(file IN LISTS files)
    # A name NSIS would read as something else: a quote ends its string, $ starts a
    # variable (written $$), and ` ' can quote as well.
    if(file MATCHES "[\"`']")
        message(FATAL_ERROR "stage.cmake: ${file}: a quote in a file name")
    endif()
    string(REPLACE "$" "$$" nsisName "${file}")
    string(REPLACE "/" "\\" windowsName "${nsisName}")
    get_filename_component(folder "${file}" DIRECTORY)
    if(NOT folder STREQUAL lastFolder)
        if(folder STREQUAL "")
            string(APPEND install "SetOutPath \"$INSTDIR\"\n")
        else()
            string(REPLACE "/" "\\" windowsFolder "${folder}")
            string(REPLACE "$" "$$" windowsFolder "${windowsFolder}")
            string(APPEND install "SetOutPath \"$INSTDIR\\${windowsFolder}\"\n")
            list(APPEND folders "${windowsFolder}")
        endif()
        set(lastFolder "${folder}")
    endif()
    string(REPLACE "$" "$$" nsisSource "${STAGE}/${file}")
    string(APPEND install "File \"${nsisSource}\"\n")
    string(APPEND uninstall "Delete \"$INSTDIR\\${windowsName}\"\n")
    string(APPEND zipList "${top}/${file}\n")
    file(SIZE ${STAGE}/${file} size)
    math(EXPR bytes "${bytes} + ${size}")
endforeach()

# The deepest folders first, so that each is empty when its turn comes.
list(REMOVE_DUPLICATES folders)
list(SORT folders)
list(REVERSE folders)
foreach(folder IN LISTS folders)
    string(APPEND uninstall "RMDir \"$INSTDIR\\${folder}\"\n")
endforeach()

math(EXPR kilobytes "(${bytes} + 1023) / 1024")
string(APPEND install "!define BRUMLIS_SIZE_KB ${kilobytes}\n")

file(WRITE ${parent}/files.txt "${zipList}")
file(WRITE ${parent}/install.nsh "${install}")
file(WRITE ${parent}/uninstall.nsh "${uninstall}")
