# Run by CPack on the staged files of the Debian package: Debian keeps the programs of
# the games section in /usr/games (a plain `cmake --install` keeps them in bin/).
file(GLOB programs "${CPACK_TEMPORARY_DIRECTORY}/usr/bin/*")
if(NOT programs)
    message(FATAL_ERROR "games-layout: no programs in ${CPACK_TEMPORARY_DIRECTORY}/usr/bin")
endif()
file(MAKE_DIRECTORY "${CPACK_TEMPORARY_DIRECTORY}/usr/games")
foreach(program IN LISTS programs)
    get_filename_component(name "${program}" NAME)
    file(RENAME "${program}" "${CPACK_TEMPORARY_DIRECTORY}/usr/games/${name}")
endforeach()
file(REMOVE_RECURSE "${CPACK_TEMPORARY_DIRECTORY}/usr/bin")
