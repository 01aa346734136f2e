# SPDX-License-Identifier: GPL-3.0-or-later
# glassmere-decoder: the process in which every picture is decoded, so that a
# reader that crashes, hangs or allocates without end on a damaged file takes
# down only that process. The core library runs it; it sits beside the program.
include(GNUInstallDirs)

# It links the decoding objects, not the core library, so that the core library
# can depend on it: whatever links the core (the program, glassmere-cli, every
# test and benchmark) gets a decoder built with it. The fuzz build instruments
# those objects for the fuzz target, so the decoder compiles its own plain copy
# there: AddressSanitizer's shadow memory does not fit under its address-space cap.
# The lock the decoder puts itself under (decoder_sandbox.cpp) is a library
# of its own, so that its test can lock a child in with the same function.
add_library(glassmere_sandbox STATIC imaging/decoder/decoder_sandbox.cpp
    imaging/decoder/decoder_sandbox.h)
target_include_directories(glassmere_sandbox PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}")
target_link_libraries(glassmere_sandbox PUBLIC Qt6::Core PRIVATE PkgConfig::libseccomp)
set_target_properties(glassmere_sandbox PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
if(GLASSMERE_FUZZ)
    add_executable(glassmere-decoder imaging/decoder/decoder_main.cpp
        imaging/decoder/allocation_watch.cpp ${GLASSMERE_DECODING_SOURCES}
        ${GLASSMERE_PIXELS_SOURCES})
    target_include_directories(glassmere-decoder PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}")
    target_link_libraries(glassmere-decoder PRIVATE Qt6::Gui FreeImage::FreeImagePlus
        PkgConfig::libdeflate ZLIB::ZLIB glassmere_sandbox PkgConfig::libheif PkgConfig::libjxl)
else()
    add_executable(glassmere-decoder imaging/decoder/decoder_main.cpp
        imaging/decoder/allocation_watch.cpp)
    target_link_libraries(glassmere-decoder PRIVATE glassmere_decoding glassmere_sandbox)
endif()
set_target_properties(glassmere-decoder PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
add_dependencies(glassmere_core glassmere-decoder)

# The program looks for the decoder beside the running executable. Tests and
# benchmarks run from their own folders, so the build tree puts a link to it
# there too; no build path is compiled into the program.
foreach(_folder tests bench)
    add_custom_command(TARGET glassmere-decoder POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/${_folder}"
        COMMAND ${CMAKE_COMMAND} -E create_symlink "$<TARGET_FILE:glassmere-decoder>"
                "${CMAKE_BINARY_DIR}/${_folder}/glassmere-decoder"
        VERBATIM)
endforeach()

# Installed beside the program in libexec/glassmere; glassmere-cli, installed
# in bin/, finds it through this relative path from its own folder.
set(GLASSMERE_DECODER_DIR "${CMAKE_INSTALL_LIBEXECDIR}/glassmere")
install(TARGETS glassmere-decoder RUNTIME DESTINATION "${GLASSMERE_DECODER_DIR}")
file(RELATIVE_PATH _decoder_from_bin
    "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBEXECDIR}/glassmere")
target_compile_definitions(glassmere_core PRIVATE
    GLASSMERE_DECODER_FROM_BIN="${_decoder_from_bin}")
