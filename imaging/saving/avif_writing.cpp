// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/saving/avif_writing.h"

#include "imaging/decoding/heif_handles.h"
#include "imaging/pixels/messages.h"
#include "imaging/pixels/pixel_words.h"

#include <FreeImagePlus.h>
#include <QFileInfo>
#include <QThread>

#include <libheif/heif.h>

#include <algorithm>
#include <memory>

namespace {

// The encoder's speed (0 slowest, 9 fastest): at 7 a 1600 × 1200 result takes
// about a second on one core, with files a few per cent larger than at 6.
constexpr int encoderSpeed = 7;

heif_error appendBytes(heif_context*, const void* data, size_t size, void* target)
{
    static_cast<QByteArray*>(target)->append(static_cast<const char*>(data), qsizetype(size));
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

// The bitmap's bottom-up blue, green, red(, alpha) lines as the top-down
// interleaved red, green, blue(, alpha) plane of `image`.
void copyPixels(FIBITMAP* dib, bool alpha, heif_image* image)
{
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const unsigned width = FreeImage_GetWidth(dib);
    const unsigned height = FreeImage_GetHeight(dib);
    for (unsigned y = 0; y < height; ++y) {
        const BYTE* in = FreeImage_GetScanLine(dib, int(height - 1 - y));
        std::uint8_t* out = plane + std::size_t(stride) * y;
        if (alpha)
            pixel_words::swapRedBlue<4, 4>(in, out, width);
        else
            pixel_words::swapRedBlue<3, 3>(in, out, width);
    }
}

} // namespace

bool isAvifName(const QString& path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("avif"), Qt::CaseInsensitive) == 0;
}

bool encodeAvif(const fipImage& image, int quality, QByteArray* bytes, QString* error, int threads)
{
    auto fail = [error](const QString& what, const heif_error& said) {
        return failWith(error, heifFailure(what, said));
    };
    const heif_error ok{heif_error_Ok, heif_suberror_Unspecified, ""};
    auto* dib = static_cast<FIBITMAP*>(const_cast<fipImage&>(image));
    const unsigned bits = image.getBitsPerPixel();
    if (!dib || image.getImageType() != FIT_BITMAP || (bits != 24 && bits != 32))
        return fail(QStringLiteral("AVIF results are written from 24- or 32-bit pictures"), ok);
    const bool alpha = bits == 32;
    const int width = int(image.getWidth());
    const int height = int(image.getHeight());

    HeifOwned<heif_context, heif_context_free> context(heif_context_alloc());
    heif_encoder* made = nullptr;
    heif_error said =
        heif_context_get_encoder_for_format(context.get(), heif_compression_AV1, &made);
    HeifOwned<heif_encoder, heif_encoder_release> encoder(made);
    if (said.code != heif_error_Ok || !encoder)
        return fail(QStringLiteral("No AV1 encoder is available"), said);
    const int cores = threads > 0 ? threads : QThread::idealThreadCount();
    heif_encoder_set_parameter_integer(encoder.get(), "speed", encoderSpeed);
    heif_encoder_set_parameter_integer(encoder.get(), "threads", std::clamp(cores, 1, 64));
    heif_encoder_set_parameter_string(encoder.get(), "chroma", "444");
    const bool lossless = quality >= avifLossless;
    if (lossless) {
        heif_encoder_set_lossless(encoder.get(), 1);
        heif_encoder_set_parameter_boolean(encoder.get(), "lossless-alpha", 1);
    } else {
        heif_encoder_set_lossy_quality(encoder.get(), std::clamp(quality, 1, 100));
        heif_encoder_set_parameter_integer(encoder.get(), "alpha-quality",
                                           std::clamp(quality, 1, 100));
    }

    heif_image* created = nullptr;
    said = heif_image_create(width, height, heif_colorspace_RGB,
                             alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                             &created);
    HeifOwned<heif_image, heif_image_release> picture(created);
    if (said.code != heif_error_Ok ||
        (said = heif_image_add_plane(picture.get(), heif_channel_interleaved, width, height, 8))
                .code != heif_error_Ok)
        return fail(QStringLiteral("Out of memory while encoding the picture"), said);
    copyPixels(dib, alpha, picture.get());
    FIICCPROFILE* icc = FreeImage_GetICCProfile(dib);
    const bool profiled = icc && icc->data && icc->size > 0;
    if (profiled) {
        said =
            heif_image_set_raw_color_profile(picture.get(), "prof", icc->data, size_t(icc->size));
        if (said.code != heif_error_Ok)
            return fail(QStringLiteral("The picture's profile could not be stored"), said);
    }

    HeifOwned<heif_encoding_options, heif_encoding_options_free> options(
        heif_encoding_options_alloc());
    options->save_alpha_channel = alpha ? 1 : 0;
    // Lossless means the colours themselves, not a conversion to YCbCr and
    // back: the identity matrix at full range, 4:4:4. The library converts by
    // the picture's own colour description, so the picture carries it; the
    // primaries are sRGB's unless a profile tells them.
    HeifOwned<heif_color_profile_nclx, heif_nclx_color_profile_free> nclx(
        heif_nclx_color_profile_alloc());
    if (lossless) {
        if (!nclx)
            return fail(QStringLiteral("Out of memory while encoding the picture"), ok);
        nclx->matrix_coefficients = heif_matrix_coefficients_RGB_GBR;
        nclx->full_range_flag = 1;
        if (!profiled) {
            nclx->color_primaries = heif_color_primaries_ITU_R_BT_709_5;
            nclx->transfer_characteristics = heif_transfer_characteristic_IEC_61966_2_1;
        }
        said = heif_image_set_nclx_color_profile(picture.get(), nclx.get());
        if (said.code != heif_error_Ok)
            return fail(QStringLiteral("The picture's colour description could not be stored"),
                        said);
        options->output_nclx_profile = nclx.get();
        options->save_two_colr_boxes_when_ICC_and_nclx_available = 1;
    }
    said = heif_context_encode_image(context.get(), picture.get(), encoder.get(), options.get(),
                                     nullptr);
    if (said.code != heif_error_Ok)
        return fail(QStringLiteral("The AV1 encoder refused the picture"), said);
    QByteArray file;
    heif_writer writer{1, appendBytes};
    said = heif_context_write(context.get(), &writer, &file);
    if (said.code != heif_error_Ok || file.isEmpty())
        return fail(QStringLiteral("The AVIF file could not be put together"), said);
    *bytes = std::move(file);
    return true;
}
