// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoding/jxl_reading.h"

#include "imaging/decoding/picture_metadata.h"
#include "imaging/pixels/pixel_words.h"

#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace {

struct DecoderDeleter {
    void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};
struct RunnerDeleter {
    void operator()(void* runner) const { JxlThreadParallelRunnerDestroy(runner); }
};

bool isSrgb(const JxlColorEncoding& encoding)
{
    return encoding.color_space == JXL_COLOR_SPACE_RGB &&
           encoding.white_point == JXL_WHITE_POINT_D65 &&
           encoding.primaries == JXL_PRIMARIES_SRGB &&
           encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB;
}

// The profile of the values the decoder hands out: none when they are sRGB.
QByteArray dataProfile(const JxlDecoder* decoder)
{
    JxlColorEncoding encoding;
    if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                           &encoding) == JXL_DEC_SUCCESS &&
        isSrgb(encoding))
        return {};
    size_t length = 0;
    if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &length) !=
            JXL_DEC_SUCCESS ||
        length == 0 || length > maxProfileLength)
        return {};
    QByteArray profile(qsizetype(length), '\0');
    if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       reinterpret_cast<std::uint8_t*>(profile.data()),
                                       length) != JXL_DEC_SUCCESS)
        return {};
    return isCarriableProfile(profile) ? profile : QByteArray();
}

// Top-down red, green, blue(, alpha) bytes into `dib`'s bottom-up lines.
void copyPixels(const std::vector<std::uint8_t>& pixels, bool alpha, FIBITMAP* dib)
{
    const unsigned width = FreeImage_GetWidth(dib);
    const unsigned height = FreeImage_GetHeight(dib);
    const unsigned channels = alpha ? 4 : 3;
    for (unsigned y = 0; y < height; ++y) {
        const std::uint8_t* in = pixels.data() + std::size_t(y) * width * channels;
        BYTE* out = FreeImage_GetScanLine(dib, int(height - 1 - y));
        if (alpha)
            pixel_words::swapRedBlue<4, 4>(in, out, width);
        else
            pixel_words::swapRedBlue<3, 3>(in, out, width);
    }
}

DecodeOutcome decode(const unsigned char* data, std::size_t size, const DecodeLimits& limits,
                     const HeaderRead& headerRead)
{
    DecodeOutcome outcome;
    auto fail = [&outcome](DecodeFailure failure, const QString& why) {
        return failedOutcome(std::move(outcome), failure, why);
    };
    std::unique_ptr<JxlDecoder, DecoderDeleter> decoder(JxlDecoderCreate(nullptr));
    std::unique_ptr<void, RunnerDeleter> runner(
        JxlThreadParallelRunnerCreate(nullptr, readerThreads()));
    if (!decoder || !runner)
        return fail(DecodeFailure::OutOfMemory, QStringLiteral("Out of memory"));
    if (JxlDecoderSetParallelRunner(decoder.get(), JxlThreadParallelRunner, runner.get()) !=
            JXL_DEC_SUCCESS ||
        JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING |
                                                     JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(decoder.get(), data, size) != JXL_DEC_SUCCESS)
        return fail(DecodeFailure::Unreadable,
                    QStringLiteral("The JPEG XL decoder could not be set up"));
    JxlDecoderCloseInput(decoder.get());
    // Upright and with straight alpha, as every other picture is handed on.
    JxlDecoderSetKeepOrientation(decoder.get(), JXL_FALSE);
    JxlDecoderSetUnpremultiplyAlpha(decoder.get(), JXL_TRUE);

    JxlBasicInfo info{};
    bool alpha = false;
    JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    std::vector<std::uint8_t> pixels;
    std::uint64_t width = 0, height = 0;
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
        if (status == JXL_DEC_ERROR)
            return fail(DecodeFailure::Unreadable,
                        QStringLiteral("The JPEG XL file is damaged or not one libjxl reads"));
        if (status == JXL_DEC_NEED_MORE_INPUT)
            return fail(DecodeFailure::Unreadable,
                        QStringLiteral("The JPEG XL file ends before its picture does"));
        if (status == JXL_DEC_BASIC_INFO) {
            if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
                return fail(DecodeFailure::Unreadable,
                            QStringLiteral("The JPEG XL file's header could not be read"));
            // Orientations 5 to 8 turn the picture by a quarter.
            const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
            width = turned ? info.ysize : info.xsize;
            height = turned ? info.xsize : info.ysize;
            if (headerRead)
                headerRead(width, height, PixelsPerByte::Unbounded);
            alpha = info.alpha_bits > 0;
            format.num_channels = alpha ? 4 : 3;
            // The library's own float frame, and the 8-bit copy it hands out.
            const unsigned working =
                (info.num_color_channels + (alpha ? 1 : 0)) * 4 + format.num_channels;
            if (const QString refusal =
                    workingSizeRefusal(width, height, alpha ? 32 : 24, working, limits);
                !refusal.isEmpty())
                return fail(DecodeFailure::TooLarge, refusal);
        } else if (status == JXL_DEC_COLOR_ENCODING) {
            outcome.profile = dataProfile(decoder.get());
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            size_t bytes = 0;
            if (JxlDecoderImageOutBufferSize(decoder.get(), &format, &bytes) != JXL_DEC_SUCCESS ||
                bytes != width * height * format.num_channels)
                return fail(DecodeFailure::Unreadable,
                            QStringLiteral("The JPEG XL picture has another size than it "
                                           "declares"));
            pixels.resize(bytes);
            if (JxlDecoderSetImageOutBuffer(decoder.get(), &format, pixels.data(), bytes) !=
                JXL_DEC_SUCCESS)
                return fail(DecodeFailure::Unreadable,
                            QStringLiteral("The JPEG XL picture could not be decoded"));
        } else if (status == JXL_DEC_FULL_IMAGE) {
            break; // the first frame is the picture
        } else if (status == JXL_DEC_SUCCESS) {
            return fail(DecodeFailure::Unreadable,
                        QStringLiteral("The JPEG XL file holds no picture"));
        }
    }
    decoder.reset();
    runner.reset();

    outcome.bitmap.reset(FreeImage_Allocate(int(width), int(height), alpha ? 32 : 24));
    if (!outcome.bitmap)
        return fail(DecodeFailure::OutOfMemory,
                    QStringLiteral("Out of memory for the decoded picture"));
    copyPixels(pixels, alpha, outcome.bitmap.get());
    // Lossless files keep their own colours; lossy ones are coded in XYB.
    outcome.source.lossy = info.uses_original_profile ? 0 : 1;
    if (alpha && !dropOpaqueAlpha(outcome.bitmap))
        return fail(DecodeFailure::OutOfMemory,
                    QStringLiteral("Out of memory for the decoded picture"));
    outcome.failure = DecodeFailure::None;
    return outcome;
}

} // namespace

bool looksLikeJxl(const unsigned char* data, std::size_t size)
{
    const JxlSignature signature = JxlSignatureCheck(data, size);
    return signature == JXL_SIG_CODESTREAM || signature == JXL_SIG_CONTAINER;
}

DecodeOutcome decodeJxl(const unsigned char* data, std::size_t size, const DecodeLimits& limits,
                        const HeaderRead& headerRead)
{
    return outOfMemoryTold([&] { return decode(data, size, limits, headerRead); });
}
