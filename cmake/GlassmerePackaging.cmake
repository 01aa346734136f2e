# SPDX-License-Identifier: GPL-3.0-or-later
# Desktop integration and the Debian package.
#
# The program, "skin", "app_zh.qm" and the skin images are installed by the top
# CMakeLists.txt into libexec/glassmere/ with bin/glassmere linked to it;
# glassmere-cli installs itself into bin/. This file adds what a desktop needs to
# list, find and show the program, and the CPack settings for `cpack -G DEB`.
include(GNUInstallDirs)

# One id (GLASSMERE_APP_ID, set in CMakeLists.txt) names the .desktop file, the
# icon and the AppStream component: desktops and software centres join the three
# by it, and Wayland compositors find the window's icon through
# QGuiApplication::desktopFileName().
set(_desktop_dir "${CMAKE_CURRENT_SOURCE_DIR}/resources/desktop")

install(FILES "${_desktop_dir}/${GLASSMERE_APP_ID}.desktop"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${_desktop_dir}/${GLASSMERE_APP_ID}.metainfo.xml"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

# The icon set is drawn under the program's own name; the theme wants the app id.
set(GLASSMERE_ICON_SIZES 16 24 32 48 64 128 256)
foreach(size IN LISTS GLASSMERE_ICON_SIZES)
    install(FILES "${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/${size}x${size}/glassmere.png"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps"
        RENAME "${GLASSMERE_APP_ID}.png")
endforeach()
install(FILES "${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/glassmere.svg"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps"
    RENAME "${GLASSMERE_APP_ID}.svg")

# --- the documents: copyright, changelog and manual pages, compressed as
# Debian compresses them (gzip -9n: no file name, no time stamp)
set(GLASSMERE_DOC_DIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/glassmere")
set(_packed "${CMAKE_CURRENT_BINARY_DIR}/packed")
set(_packed_files)
foreach(document IN ITEMS packaging/changelog docs/glassmere.1 docs/glassmere-cli.1)
    get_filename_component(_name "${document}" NAME)
    add_custom_command(OUTPUT "${_packed}/${_name}.gz"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${_packed}"
        COMMAND gzip -9nc "${CMAKE_CURRENT_SOURCE_DIR}/${document}" > "${_packed}/${_name}.gz"
        DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${document}"
        VERBATIM)
    list(APPEND _packed_files "${_packed}/${_name}.gz")
endforeach()
add_custom_target(glassmere_documents ALL DEPENDS ${_packed_files})
install(FILES packaging/copyright "${_packed}/changelog.gz" DESTINATION "${GLASSMERE_DOC_DIR}")
install(FILES "${_packed}/glassmere.1.gz" "${_packed}/glassmere-cli.1.gz"
    DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

# --- the Debian package: cpack -G DEB in the build folder (scripts/package.sh
# builds it with Debian's compiler and linker flags and runs lintian on it)
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "glassmere")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "The Glassmere developers")
set(CPACK_PACKAGE_CONTACT "The Glassmere developers <${GLASSMERE_SUPPORT_ADDRESS}>")
set(CPACK_PACKAGE_HOMEPAGE_URL "${GLASSMERE_HOME_PAGE}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "mirror reflections for pictures")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
# Debug information stays in the build tree; the package carries programs
# stripped as Debian strips them, the .comment and .note sections included.
set(CPACK_STRIP_FILES OFF)
set(CPACK_PRE_BUILD_SCRIPTS "${CMAKE_CURRENT_LIST_DIR}/GlassmereStrip.cmake")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The summary is the synopsis line; this is the text below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Glassmere lays a mirrored copy of a picture against one of its edges and fades
it into a background colour or into transparency, with a zoomable preview and
saving in many raster formats. A second tab reflects every picture of a folder.
.
glassmere-cli does the same from the command line, for scripts.")
# Library dependencies are read from the programs (libheif1 brings the HEVC
# and AV1 codecs behind HEIC and AVIF, libjxl0.7 JPEG XL); the X11 platform plugin is
# only recommended by libqt6gui6, and without it the window cannot open.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Qt's own texts (buttons, file dialogs) in Chinese beside the window's translation.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
