# SPDX-License-Identifier: GPL-3.0-or-later
# Run by CPack on the staged tree before it packs it: every ELF file is
# stripped as Debian's dh_strip strips a program, symbols and the .comment
# and .note sections removed (the build id's note stays).
find_program(GLASSMERE_STRIP NAMES strip REQUIRED)
file(GLOB_RECURSE _staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file IN LISTS _staged)
    if(IS_SYMLINK "${file}")
        continue()
    endif()
    file(READ "${file}" _magic LIMIT 4 HEX)
    if(_magic STREQUAL "7f454c46")
        execute_process(COMMAND "${GLASSMERE_STRIP}" --remove-section=.comment
                                --remove-section=.note "${file}"
                        RESULT_VARIABLE _stripped)
        if(NOT _stripped EQUAL 0)
            message(FATAL_ERROR "strip failed on ${file}")
        endif()
    endif()
endforeach()
