// SPDX-License-Identifier: GPL-3.0-or-later
// --version, as GNU tools give it: the version, the licence, then the
// libraries glassmere-cli and its decoder run on.

#include "app/cli/cli_options.h"

#include "product.h"

#include <FreeImage.h>
#include <QStringList>
#include <QtGlobal>
#include <hwy/highway.h>
#include <jxl/version.h>
#include <libdeflate.h>
#include <libheif/heif.h>
#include <zlib.h>

namespace {

// The codecs libheif reads HEIC and AVIF pictures and writes AVIF results with,
// by their own names ("dav1d v6.6.0").
QStringList heifCodecs()
{
    QStringList names;
    heif_init(nullptr);
    const heif_decoder_descriptor* decoders[8];
    const int decoderCount = heif_get_decoder_descriptors(heif_compression_undefined, decoders, 8);
    for (int i = 0; i < decoderCount; ++i)
        names << QString::fromUtf8(heif_decoder_descriptor_get_name(decoders[i]));
    const heif_encoder_descriptor* encoders[8];
    const int encoderCount =
        heif_get_encoder_descriptors(heif_compression_AV1, nullptr, encoders, 8);
    for (int i = 0; i < encoderCount; ++i)
        names << QString::fromUtf8(heif_encoder_descriptor_get_name(encoders[i]));
    heif_deinit();
    return names;
}

} // namespace

QString versionText()
{
    // Run-time versions where a library tells its own; libdeflate's, libjxl's
    // (linked into the decoder) and Highway's as they were built against.
    const QString libraries =
        QStringLiteral(
            "FreeImage %1, libdeflate %2, libheif %3, libjxl %4.%5.%6, Highway %7.%8.%9, "
            "Qt %10, zlib %11")
            .arg(QString::fromLatin1(FreeImage_GetVersion()),
                 QStringLiteral(LIBDEFLATE_VERSION_STRING), QString::fromLatin1(heif_get_version()))
            .arg(JPEGXL_MAJOR_VERSION)
            .arg(JPEGXL_MINOR_VERSION)
            .arg(JPEGXL_PATCH_VERSION)
            .arg(HWY_MAJOR)
            .arg(HWY_MINOR)
            .arg(HWY_PATCH)
            .arg(QString::fromLatin1(qVersion()), QString::fromLatin1(zlibVersion()));
    return QStringLiteral("glassmere-cli %1\n"
                          "Copyright (C) 2026 The Glassmere developers\n"
                          "License GPL-3.0-or-later: GNU GPL version 3 or later "
                          "<https://gnu.org/licenses/gpl.html>.\n"
                          "This is free software: you are free to change and redistribute it.\n"
                          "There is NO WARRANTY, to the extent permitted by law.\n"
                          "\n"
                          "Libraries: %2\n"
                          "libheif's codecs: %3\n")
        .arg(QStringLiteral(GLASSMERE_VERSION), libraries, heifCodecs().join(QStringLiteral("; ")));
}
