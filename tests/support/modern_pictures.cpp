// SPDX-License-Identifier: GPL-3.0-or-later
#include "modern_pictures.h"

#include "testpictures.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <libheif/heif.h>

#include <algorithm>
#include <cstdlib>

QString encodeWithTool(const fipImage& picture, const QString& path, const QString& tool,
                       const QStringList& arguments, const QByteArray& profile)
{
    const QString png = path + QStringLiteral(".source.png");
    fipImage copy(picture);
    if (!profile.isEmpty())
        FreeImage_CreateICCProfile(copy, const_cast<char*>(profile.constData()), profile.size());
    writePicture(copy, png);
    QStringList all = arguments;
    all << png;
    if (tool == QLatin1String("heif-enc"))
        all << QStringLiteral("-o");
    all << path;
    const ProgramRun run = runProgram(tool, all);
    return run.exitCode == 0 ? QString() : QString::fromUtf8(run.describe());
}

void writeTurnedHeic(const fipImage& picture, const QString& path)
{
    const int width = int(picture.getWidth()), height = int(picture.getHeight());
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    heif_encoder_set_lossy_quality(encoder, 95);
    heif_image* image = nullptr;
    heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, width, height, 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned rgb = pixelAt(picture, unsigned(x), unsigned(y));
            std::uint8_t* out = plane + y * stride + 3 * x;
            out[0] = std::uint8_t(rgb >> 16), out[1] = std::uint8_t(rgb >> 8),
            out[2] = std::uint8_t(rgb);
        }
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation_rotate_90_cw;
    heif_image_handle* handle = nullptr;
    heif_context_encode_image(context, image, encoder, options, &handle);
    // Big-endian EXIF whose IFD0 holds orientation 6, behind the 4-byte offset HEIF puts first.
    const QByteArray exif = QByteArray::fromHex("00000000"
                                                "4d4d002a00000008"
                                                "0001"
                                                "011200030000000100060000"
                                                "00000000");
    heif_context_add_exif_metadata(context, handle, exif.constData(), int(exif.size()));
    if (heif_context_write_to_file(context, QFile::encodeName(path).constData()).code !=
        heif_error_Ok)
        qFatal("cannot write %s", qPrintable(path));
    heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(context);
}

fipImage referenceDecode(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix();
    const QString tool = suffix == QLatin1String("jxl")    ? QStringLiteral("djxl")
                         : suffix == QLatin1String("avif") ? QStringLiteral("avifdec")
                                                           : QStringLiteral("heif-convert");
    const QString png = path + QStringLiteral(".reference.png");
    QStringList arguments{path, png};
    if (tool == QLatin1String("avifdec"))
        arguments = QStringList{QStringLiteral("-d"), QStringLiteral("8")} + arguments;
    if (tool == QLatin1String("djxl"))
        arguments << QStringLiteral("--bits_per_sample=8");
    if (runProgram(tool, arguments).exitCode != 0)
        return fipImage();
    fipImage picture = readPicture(png);
    QFile::remove(png);
    // 16-bit results of heif-convert: the high byte rounded, as 8 bits are read.
    if (picture.getImageType() == FIT_RGB16 || picture.getImageType() == FIT_RGBA16) {
        const bool alpha = picture.getImageType() == FIT_RGBA16;
        fipImage eight(FIT_BITMAP, picture.getWidth(), picture.getHeight(), alpha ? 32 : 24);
        for (unsigned y = 0; y < picture.getHeight(); ++y) {
            const auto* in = reinterpret_cast<const WORD*>(picture.getScanLine(y));
            BYTE* out = eight.getScanLine(y);
            for (unsigned x = 0; x < picture.getWidth();
                 ++x, in += alpha ? 4 : 3, out += alpha ? 4 : 3) {
                auto round = [](WORD v) { return BYTE((v * 255u + 32767u) / 65535u); };
                out[FI_RGBA_RED] = round(in[0]), out[FI_RGBA_GREEN] = round(in[1]),
                out[FI_RGBA_BLUE] = round(in[2]);
                if (alpha)
                    out[FI_RGBA_ALPHA] = round(in[3]);
            }
        }
        return eight;
    }
    if (picture.getBitsPerPixel() != 32)
        picture.convertTo24Bits();
    return picture;
}

int largestDifference(const fipImage& a, const fipImage& b)
{
    if (a.getWidth() != b.getWidth() || a.getHeight() != b.getHeight() ||
        a.getBitsPerPixel() != b.getBitsPerPixel())
        return -1;
    int largest = 0;
    const unsigned bytes = a.getWidth() * a.getBitsPerPixel() / 8;
    for (unsigned y = 0; y < a.getHeight(); ++y)
        for (unsigned i = 0; i < bytes; ++i)
            largest =
                std::max(largest, std::abs(int(a.getScanLine(y)[i]) - int(b.getScanLine(y)[i])));
    return largest;
}

QByteArray profileOf(const fipImage& picture)
{
    FIICCPROFILE* icc = FreeImage_GetICCProfile(const_cast<fipImage&>(picture));
    return icc && icc->size > 0 ? QByteArray(static_cast<const char*>(icc->data), int(icc->size))
                                : QByteArray();
}
