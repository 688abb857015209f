# brumlis-cli generate with the bundled data and a seed prints what was recorded once, on
# Linux: the same sentences on every platform. Run as
#   cmake -DCLI=program -DEMULATOR="wine-run|--prefix|dir" -DDATA=folder -DGOLDEN=folder -P samesentences.cmake
# EMULATOR, |-separated, is what the program is started through (nothing on Linux).
string(REPLACE "|" ";" emulator "${EMULATOR}")
foreach(run plain json)
    set(args --data ${DATA} generate --fro 2026 --antal 20)
    if(run STREQUAL json)
        list(APPEND args --json)
    endif()
    execute_process(COMMAND ${emulator} ${CLI} ${args}
        OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
    # Windows' text streams end lines with CR LF.
    string(REPLACE "\r\n" "\n" out "${out}")
    file(READ ${GOLDEN}/generate-2026-${run}.out wanted)
    if(NOT status EQUAL 0 OR NOT err STREQUAL "")
        message(FATAL_ERROR "${args}: status ${status}, stderr:\n${err}")
    endif()
    if(NOT out STREQUAL wanted)
        message(FATAL_ERROR "${args} printed\n${out}\nnot what was recorded:\n${wanted}")
    endif()
endforeach()
