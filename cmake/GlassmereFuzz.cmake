# SPDX-License-Identifier: GPL-3.0-or-later
# fuzz_picture: libFuzzer over decode -> normalise -> render -> preview -> save.
# Configure a separate build with clang:
#   CXX=clang++ cmake -S . -B build-fuzz -DGLASSMERE_FUZZ=ON
# scripts/fuzz.sh does that, makes the seed corpus and runs it.
if(NOT GLASSMERE_FUZZ)
    return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "GLASSMERE_FUZZ needs clang (libFuzzer): configure with CXX=clang++")
endif()

# The core library and the decoding objects are instrumented for coverage and
# AddressSanitizer, so the fuzzer sees its way through the decoding,
# normalising, rendering, preview and saving code. FreeImage and Qt come from the system, uninstrumented: crashes inside
# them are caught, their memory errors only where they pass through
# AddressSanitizer's checked calls (memcpy, memset, ...).
foreach(_library glassmere_core glassmere_decoding glassmere_pixels)
    target_compile_options(${_library} PRIVATE -fsanitize=fuzzer-no-link,address
        -fno-omit-frame-pointer)
endforeach()
target_link_options(glassmere_core INTERFACE -fsanitize=address)

add_executable(fuzz_picture fuzz/fuzz_picture.cpp)
target_link_libraries(fuzz_picture PRIVATE glassmere_core)
target_compile_options(fuzz_picture PRIVATE -fsanitize=fuzzer,address -fno-omit-frame-pointer)
target_link_options(fuzz_picture PRIVATE -fsanitize=fuzzer,address)
set_target_properties(fuzz_picture PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
