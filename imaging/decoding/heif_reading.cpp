// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoding/heif_reading.h"

#include "imaging/decoding/heif_handles.h"
#include "imaging/decoding/picture_metadata.h"

#include <QColorSpace>
#include <QPointF>

#include <libheif/heif.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>

namespace {

// An ICC profile equal to an nclx colour description, or none: sRGB's own
// primaries and unspecified ones need none; Display P3 is named as such; other
// primaries are built from the chromaticities the library decoded.
QByteArray profileOfDescription(const heif_color_profile_nclx& nclx)
{
    const auto primaries = nclx.color_primaries;
    if (primaries == heif_color_primaries_ITU_R_BT_709_5 ||
        primaries == heif_color_primaries_unspecified)
        return {};
    const bool linear = nclx.transfer_characteristics == heif_transfer_characteristic_linear;
    const auto transfer =
        linear ? QColorSpace::TransferFunction::Linear : QColorSpace::TransferFunction::SRgb;
    QColorSpace space;
    if (primaries == heif_color_primaries_SMPTE_EG_432_1)
        space = QColorSpace(QColorSpace::Primaries::DciP3D65, transfer);
    else
        space =
            QColorSpace(QPointF(nclx.color_primary_white_x, nclx.color_primary_white_y),
                        QPointF(nclx.color_primary_red_x, nclx.color_primary_red_y),
                        QPointF(nclx.color_primary_green_x, nclx.color_primary_green_y),
                        QPointF(nclx.color_primary_blue_x, nclx.color_primary_blue_y), transfer);
    const QByteArray profile = space.isValid() ? space.iccProfile() : QByteArray();
    return isCarriableProfile(profile) ? profile : QByteArray();
}

QByteArray pictureProfile(const heif_image_handle* handle)
{
    switch (heif_image_handle_get_color_profile_type(handle)) {
    case heif_color_profile_type_prof:
    case heif_color_profile_type_rICC: {
        const size_t length = heif_image_handle_get_raw_color_profile_size(handle);
        if (length == 0 || length > maxProfileLength)
            return {};
        QByteArray profile(qsizetype(length), '\0');
        if (heif_image_handle_get_raw_color_profile(handle, profile.data()).code != heif_error_Ok)
            return {};
        return isCarriableProfile(profile) ? profile : QByteArray();
    }
    case heif_color_profile_type_nclx: {
        heif_color_profile_nclx* nclx = nullptr;
        if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok || !nclx)
            return {};
        const QByteArray profile = profileOfDescription(*nclx);
        heif_nclx_color_profile_free(nclx);
        return profile;
    }
    default:
        return {};
    }
}

// How the picture was coded. The library does not tell the quantiser: HEVC
// pictures and AV1 ones in YCbCr count as lossy at a quality not known; AV1
// in RGB (identity matrix), as lossless AVIF encoders write it, as lossless.
SourceQuality sourceQuality(const heif_image_handle* handle)
{
    SourceQuality source;
    source.lossy = 1;
    heif_color_profile_nclx* nclx = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok && nclx) {
        if (nclx->matrix_coefficients == heif_matrix_coefficients_RGB_GBR)
            source.lossy = 0;
        heif_nclx_color_profile_free(nclx);
    }
    return source;
}

// Interleaved RGB(A) lines of the decoded picture, 8 bits or 16-bit little
// endian words of `bits` bits, into the bottom-up blue, green, red(, alpha)
// lines of `dib`. Wide values are rounded to 8 bits; premultiplied colours
// are divided by their alpha.
void copyPixels(const std::uint8_t* plane, int stride, int bits, bool alpha, bool premultiplied,
                FIBITMAP* dib)
{
    const unsigned width = FreeImage_GetWidth(dib);
    const unsigned height = FreeImage_GetHeight(dib);
    const unsigned channels = alpha ? 4 : 3;
    const std::uint32_t top = (1u << bits) - 1;
    for (unsigned y = 0; y < height; ++y) {
        const std::uint8_t* in = plane + std::size_t(stride) * y;
        BYTE* out = FreeImage_GetScanLine(dib, int(height - 1 - y));
        for (unsigned x = 0; x < width; ++x, out += channels) {
            std::uint32_t value[4];
            for (unsigned c = 0; c < channels; ++c) {
                if (bits <= 8) {
                    value[c] = in[c];
                } else {
                    const std::uint32_t wide = std::min<std::uint32_t>(
                        std::uint32_t(in[2 * c]) | std::uint32_t(in[2 * c + 1]) << 8, top);
                    value[c] = (wide * 255 + top / 2) / top;
                }
            }
            in += bits <= 8 ? channels : 2 * channels;
            if (alpha && premultiplied && value[3] != 0)
                for (unsigned c = 0; c < 3; ++c)
                    value[c] =
                        std::min<std::uint32_t>(255, (value[c] * 255 + value[3] / 2) / value[3]);
            out[FI_RGBA_RED] = BYTE(value[0]);
            out[FI_RGBA_GREEN] = BYTE(value[1]);
            out[FI_RGBA_BLUE] = BYTE(value[2]);
            if (alpha)
                out[FI_RGBA_ALPHA] = BYTE(value[3]);
        }
    }
}

DecodeOutcome decode(const unsigned char* data, std::size_t size, const DecodeLimits& limits,
                     const HeaderRead& headerRead)
{
    DecodeOutcome outcome;
    auto fail = [&outcome](DecodeFailure failure, const QString& why) {
        return failedOutcome(std::move(outcome), failure, why);
    };
    prepareHeifReading();
    HeifOwned<heif_context, heif_context_free> context(heif_context_alloc());
    if (!context)
        return fail(DecodeFailure::OutOfMemory, QStringLiteral("Out of memory"));
    // Phones store their pictures as grids of tiles, decoded side by side.
    heif_context_set_max_decoding_threads(context.get(), int(readerThreads()));
    heif_error error =
        heif_context_read_from_memory_without_copy(context.get(), data, size, nullptr);
    if (error.code != heif_error_Ok)
        return fail(DecodeFailure::Unreadable,
                    heifFailure(QStringLiteral("The HEIF/AVIF file could not be read"), error));
    heif_image_handle* primary = nullptr;
    error = heif_context_get_primary_image_handle(context.get(), &primary);
    HeifOwned<heif_image_handle, heif_image_handle_release> handle(primary);
    if (error.code != heif_error_Ok || !handle)
        return fail(
            DecodeFailure::Unreadable,
            heifFailure(QStringLiteral("The HEIF/AVIF file has no primary picture"), error));

    // The size after the file's turns and crops, as the picture is shown.
    const int width = heif_image_handle_get_width(handle.get());
    const int height = heif_image_handle_get_height(handle.get());
    if (width <= 0 || height <= 0)
        return fail(DecodeFailure::Unreadable,
                    QStringLiteral("The HEIF/AVIF file declares no picture size"));
    if (headerRead)
        headerRead(std::uint64_t(width), std::uint64_t(height), PixelsPerByte::Unbounded);
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    const bool wide = heif_image_handle_get_luma_bits_per_pixel(handle.get()) > 8;
    // The coded planes and the library's RGB(A) picture, at 8 or 16 bits a value.
    const unsigned working = (alpha ? 4 : 3) * (wide ? 2 : 1) * 2;
    if (const QString refusal = workingSizeRefusal(std::uint64_t(width), std::uint64_t(height),
                                                   alpha ? 32 : 24, working, limits);
        !refusal.isEmpty())
        return fail(DecodeFailure::TooLarge, refusal);

    HeifOwned<heif_decoding_options, heif_decoding_options_free> options(
        heif_decoding_options_alloc());
    if (!options)
        return fail(DecodeFailure::OutOfMemory, QStringLiteral("Out of memory"));
    options->ignore_transformations = 0; // irot, imir and clap applied by the library
    options->convert_hdr_to_8bit = 0;    // rounded here, not cut
    const heif_chroma chroma =
        wide ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
             : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* decoded = nullptr;
    error = heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB, chroma, options.get());
    HeifOwned<heif_image, heif_image_release> image(decoded);
    if (error.code != heif_error_Ok || !image)
        return fail(
            DecodeFailure::Unreadable,
            heifFailure(QStringLiteral("The HEIF/AVIF picture could not be decoded"), error));

    int stride = 0;
    const std::uint8_t* plane =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int decodedWidth = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int decodedHeight = heif_image_get_height(image.get(), heif_channel_interleaved);
    const int bits = heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved);
    if (!plane || decodedWidth != width || decodedHeight != height || bits < 1 || bits > 16 ||
        (bits > 8) != wide)
        return fail(DecodeFailure::Unreadable,
                    QStringLiteral("The HEIF/AVIF picture decoded to other pixels than it "
                                   "declares"));
    outcome.bitmap.reset(FreeImage_Allocate(width, height, alpha ? 32 : 24));
    if (!outcome.bitmap)
        return fail(DecodeFailure::OutOfMemory,
                    QStringLiteral("Out of memory for the decoded picture"));
    copyPixels(plane, stride, bits, alpha,
               heif_image_handle_is_premultiplied_alpha(handle.get()) != 0, outcome.bitmap.get());
    image.reset();
    if (alpha && !dropOpaqueAlpha(outcome.bitmap))
        return fail(DecodeFailure::OutOfMemory,
                    QStringLiteral("Out of memory for the decoded picture"));
    outcome.profile = pictureProfile(handle.get());
    outcome.source = sourceQuality(handle.get());
    outcome.failure = DecodeFailure::None;
    return outcome;
}

} // namespace

void prepareHeifReading()
{
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
}

bool looksLikeHeif(const unsigned char* data, std::size_t size)
{
    if (size < 12)
        return false;
    const auto kind = heif_check_filetype(data, int(std::min<std::size_t>(size, 1u << 20)));
    return kind == heif_filetype_yes_supported || kind == heif_filetype_yes_unsupported;
}

DecodeOutcome decodeHeif(const unsigned char* data, std::size_t size, const DecodeLimits& limits,
                         const HeaderRead& headerRead)
{
    return outOfMemoryTold([&] { return decode(data, size, limits, headerRead); });
}
