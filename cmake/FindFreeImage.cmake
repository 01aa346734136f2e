# SPDX-License-Identifier: GPL-3.0-or-later
# Finds FreeImage and its C++ wrapper FreeImagePlus.
#
# Debian ships neither a pkg-config file nor a CMake config for them, so this
# module looks for the headers and libraries and wraps them in imported targets:
#   FreeImage::FreeImage      the C library
#   FreeImage::FreeImagePlus  the C++ wrapper; links FreeImage::FreeImage after it,
#                             because libfreeimageplus.so does not declare that need.

find_path(FreeImage_INCLUDE_DIR NAMES FreeImage.h)
find_path(FreeImagePlus_INCLUDE_DIR NAMES FreeImagePlus.h)
find_library(FreeImage_LIBRARY NAMES freeimage FreeImage)
find_library(FreeImagePlus_LIBRARY NAMES freeimageplus FreeImagePlus)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(FreeImage
    REQUIRED_VARS FreeImage_LIBRARY FreeImagePlus_LIBRARY FreeImage_INCLUDE_DIR FreeImagePlus_INCLUDE_DIR)

if(FreeImage_FOUND AND NOT TARGET FreeImage::FreeImage)
    add_library(FreeImage::FreeImage UNKNOWN IMPORTED)
    set_target_properties(FreeImage::FreeImage PROPERTIES
        IMPORTED_LOCATION "${FreeImage_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${FreeImage_INCLUDE_DIR}")
    add_library(FreeImage::FreeImagePlus UNKNOWN IMPORTED)
    set_target_properties(FreeImage::FreeImagePlus PROPERTIES
        IMPORTED_LOCATION "${FreeImagePlus_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${FreeImagePlus_INCLUDE_DIR}"
        INTERFACE_LINK_LIBRARIES FreeImage::FreeImage)
endif()
mark_as_advanced(FreeImage_INCLUDE_DIR FreeImagePlus_INCLUDE_DIR FreeImage_LIBRARY FreeImagePlus_LIBRARY)
