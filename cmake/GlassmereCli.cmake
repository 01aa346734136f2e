# SPDX-License-Identifier: GPL-3.0-or-later
# glassmere-cli: the reflection for scripts, one picture or a whole folder.
# It links the core library only, so it needs no display and no widgets.
include(GNUInstallDirs)

qt_add_executable(glassmere-cli
    app/cli/cli_main.cpp
    app/cli/cli_options.h app/cli/cli_options.cpp app/cli/cli_help.cpp
    app/cli/cli_single.h app/cli/cli_single.cpp
    app/cli/cli_batch.h app/cli/cli_batch.cpp
    app/cli/cli_output.h app/cli/cli_output.cpp
    app/cli/cli_version.cpp)
# libdeflate, zlib and libheif for the versions --version names.
target_link_libraries(glassmere-cli PRIVATE glassmere_core Qt6::Core PkgConfig::libdeflate
    ZLIB::ZLIB PkgConfig::libheif)
set_target_properties(glassmere-cli PROPERTIES AUTOUIC OFF AUTORCC OFF)

install(TARGETS glassmere-cli RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
