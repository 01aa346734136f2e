// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoding/picture_decoding.h"

#include "imaging/decoding/bmp_reading.h"
#include "imaging/decoding/coding_facts.h"
#include "imaging/decoding/cut_png.h"
#include "imaging/decoding/heif_reading.h"
#include "imaging/decoding/jxl_reading.h"
#include "imaging/decoding/picture_metadata.h"
#include "imaging/decoding/png_reader.h"
#include "imaging/decoding/reader_corrections.h"
#include "imaging/pixels/format_names.h"
#include "imaging/pixels/messages.h"
#include "imaging/pixels/pixel_words.h"

#include <QBuffer>
#include <QByteArray>
#include <QColorSpace>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace {

// The formats whose Qt readers may stand in for FreeImage. Vector formats
// stay out: they have no size of their own.
bool qtMayRead(const QByteArray& format)
{
    // BMPs have a reader of their own (bmp_reading.h).
    static const QByteArray formats[] = {"png", "jpeg", "gif", "ico", "cur", "pbm", "pgm", "ppm"};
    return std::find(std::begin(formats), std::end(formats), format) != std::end(formats);
}

QString withMessages(const QString& what)
{
    const QString said = freeImageMessages();
    return said.isEmpty() ? what : what + QStringLiteral(" (") + said + QLatin1Char(')');
}

// Qt's image, top-down 0xAARRGGBB words, as a FreeImage bitmap: bottom-up
// lines of blue, green, red(, alpha) bytes, which are those words' bytes
// (pixel_words.h).
BitmapPtr bitmapFromQImage(QImage image)
{
    const bool alpha = image.hasAlphaChannel();
    image = image.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return nullptr;
    const int width = image.width();
    const int height = image.height();
    BitmapPtr dib(FreeImage_Allocate(width, height, alpha ? 32 : 24));
    if (!dib)
        return nullptr;
    for (int y = 0; y < height; ++y) {
        const uchar* in = image.constScanLine(y);
        BYTE* out = FreeImage_GetScanLine(dib.get(), height - 1 - y);
        if (alpha)
            std::memcpy(out, in, std::size_t(width) * 4);
        else
            for (int x = 0; x < width; ++x)
                std::memcpy(out + 3 * x, in + 4 * x, 3);
    }
    return dib;
}

// Qt's turn, for data FreeImage refused. The size is read from the header
// and checked before any pixel is decoded.
DecodeOutcome decodeWithQt(const unsigned char* data, std::size_t size, const DecodeLimits& limits,
                           const HeaderRead& headerRead)
{
    DecodeOutcome outcome;
    outcome.failure = DecodeFailure::Unreadable;
    if (size > std::size_t(std::numeric_limits<qsizetype>::max()))
        return outcome;
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return outcome;
    QImageReader reader(&buffer);
    reader.setAutoTransform(true); // upright, as FreeImage's pictures are turned
    reader.setQuality(100);        // JPEGs with the accurate transform
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead())
        return outcome;
    // Taken before reading: a failed read forgets it.
    const QByteArray format = reader.format();
    if (!qtMayRead(format))
        return outcome;

    const QSize declared = reader.size();
    if (declared.isValid()) {
        if (headerRead)
            headerRead(std::uint64_t(declared.width()), std::uint64_t(declared.height()),
                       PixelsPerByte::Bounded);
        // Qt decodes to at most 64 bits per pixel before the conversion.
        const QString refusal = sizeRefusal(std::uint64_t(declared.width()),
                                            std::uint64_t(declared.height()), 64, limits);
        if (!refusal.isEmpty()) {
            outcome.failure = DecodeFailure::TooLarge;
            outcome.reason = refusal;
            return outcome;
        }
    }
    // Qt's own allocation ceiling (256 MB by default) would refuse pictures
    // the limits allow; it stays as a second guard at their size.
    const std::uint64_t megabytes = limits.decoderMemory / (1024 * 1024) + 1;
    reader.setAllocationLimit(int(std::min<std::uint64_t>(megabytes, 1u << 30)));

    const QImage image = reader.read();
    if (image.isNull()) {
        outcome.reason = QStringLiteral("Qt's %1 reader: %2")
                             .arg(QString::fromLatin1(format).toUpper(), reader.errorString());
        return outcome;
    }
    outcome.bitmap = bitmapFromQImage(image);
    const QByteArray profile = image.colorSpace().iccProfile();
    if (isCarriableProfile(profile))
        outcome.profile = profile;
    if (!outcome.bitmap) {
        outcome.failure = DecodeFailure::Unconverted;
        outcome.reason = QStringLiteral("The picture's pixel format could not be converted");
        return outcome;
    }
    outcome.failure = DecodeFailure::None;
    return outcome;
}

// Releases a FreeImage memory stream.
struct MemoryDeleter {
    void operator()(FIMEMORY* memory) const { FreeImage_CloseMemory(memory); }
};

bool looksLikeJpeg(const unsigned char* data, std::size_t size)
{
    return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

// A PNG whose data end early, as far as it goes (cut_png.h); `damage` says what is missing.
BitmapPtr decodeCutPng(const unsigned char* data, std::size_t size, const DecodeLimits& limits,
                       QString& damage)
{
    const CompletedPng completed =
        completeCutPng(data, size, std::size_t(limits.decoderMemory / 4));
    if (completed.file.isEmpty())
        return nullptr;
    std::unique_ptr<FIMEMORY, MemoryDeleter> memory(
        FreeImage_OpenMemory(reinterpret_cast<BYTE*>(const_cast<char*>(completed.file.constData())),
                             DWORD(completed.file.size())));
    if (!memory)
        return nullptr;
    const auto* bytes = reinterpret_cast<const unsigned char*>(completed.file.constData());
    const std::size_t length = std::size_t(completed.file.size());
    BitmapPtr dib(
        FreeImage_LoadFromMemory(FIF_PNG, memory.get(), readerFlags(FIF_PNG, bytes, length)));
    if (dib)
        damage = completed.damage;
    return dib;
}

} // namespace

DecodeOutcome decodePictureData(const unsigned char* data, std::size_t size, const QString& name,
                                const DecodeLimits& fileLimits, const HeaderRead& headerRead)
{
    captureFreeImageMessages();
    clearFreeImageMessages();
    DecodeOutcome outcome;
    auto fail = [&outcome](DecodeFailure failure, const QString& why) {
        return failedOutcome(std::move(outcome), failure, why);
    };
    if (size == 0)
        return fail(DecodeFailure::Unreadable, QStringLiteral("The file is empty"));
    if (size > std::numeric_limits<DWORD>::max())
        return fail(DecodeFailure::TooLarge,
                    QStringLiteral("The file is larger than the 4 GB FreeImage can read"));
    // The file's own bytes are held while it is decoded.
    DecodeLimits limits = fileLimits;
    if (size >= limits.decoderMemory)
        return fail(DecodeFailure::TooLarge,
                    QStringLiteral("The file is larger than the %1 Glassmere can use here")
                        .arg(describeBytes(limits.decoderMemory)));
    limits.decoderMemory -= size;

    // FreeImage knows none of these: their own libraries read them, upright,
    // the size checked before the pixels.
    if (looksLikeHeif(data, size))
        return decodeHeif(data, size, limits, headerRead);
    if (looksLikeJxl(data, size))
        return decodeJxl(data, size, limits, headerRead);

    // FreeImage only reads the memory it is given; the cast is its API's.
    std::unique_ptr<FIMEMORY, MemoryDeleter> memory(
        FreeImage_OpenMemory(const_cast<BYTE*>(data), DWORD(size)));
    if (!memory)
        return fail(DecodeFailure::Unreadable, QStringLiteral("Out of memory"));

    FREE_IMAGE_FORMAT format = FreeImage_GetFileTypeFromMemory(memory.get(), int(size));
    if (format == FIF_UNKNOWN)
        format = formatFromFileName(name);
    const bool freeImageReads = format != FIF_UNKNOWN && FreeImage_FIFSupportsReading(format);
    // BMPs are read by Glassmere's own reader, which checks the size itself.
    const bool ownBmp = looksLikeBmp(data, size);

    bool sizeChecked = false;
    if (freeImageReads && !ownBmp && FreeImage_FIFSupportsNoPixels(format)) {
        // The header alone, so a few bytes cannot make the reader allocate gigabytes.
        BitmapPtr header(FreeImage_LoadFromMemory(format, memory.get(), FIF_LOAD_NOPIXELS));
        if (header) {
            if (headerRead)
                headerRead(FreeImage_GetWidth(header.get()), FreeImage_GetHeight(header.get()),
                           PixelsPerByte::Bounded);
            const QString refusal =
                sizeRefusal(FreeImage_GetWidth(header.get()), FreeImage_GetHeight(header.get()),
                            FreeImage_GetBPP(header.get()), limits);
            if (!refusal.isEmpty())
                return fail(DecodeFailure::TooLarge, refusal);
            sizeChecked = true;
        }
        FreeImage_SeekMemory(memory.get(), 0, SEEK_SET);
    }

    try {
        if (ownBmp) {
            DecodeOutcome bmp = decodeBmp(data, size, limits, headerRead);
            if (bmp.failure != DecodeFailure::None)
                return bmp;
            outcome.bitmap = std::move(bmp.bitmap);
            outcome.damage = bmp.damage;
        } else {
            // Most PNGs are plain 8-bit RGB(A): those are read without FreeImage,
            // faster, once the header has passed the size check.
            if (format == FIF_PNG && sizeChecked)
                outcome.bitmap = readPlainPng(data, size);
            if (!outcome.bitmap && freeImageReads) {
                // What the reader says while it decodes pixels it hands back is damage.
                clearFreeImageMessages();
                outcome.bitmap.reset(FreeImage_LoadFromMemory(format, memory.get(),
                                                              readerFlags(format, data, size)));
                if (outcome.bitmap)
                    outcome.damage = freeImageMessages();
            }
            if (!outcome.bitmap && format == FIF_PNG && sizeChecked)
                outcome.bitmap = decodeCutPng(data, size, limits, outcome.damage);
        }
        if (outcome.bitmap && !FreeImage_HasPixels(outcome.bitmap.get())) {
            outcome.bitmap.reset();
            outcome.damage.clear();
        }
        if (outcome.bitmap && !ownBmp)
            correctDecodedPicture(format, data, size, outcome.bitmap.get());
        if (!outcome.bitmap) {
            const QString refused = withMessages(
                format == FIF_UNKNOWN ? QStringLiteral("Unknown or unsupported picture format")
                                      : QStringLiteral("The picture could not be decoded"));
            DecodeOutcome second = decodeWithQt(data, size, limits, headerRead);
            if (second.failure == DecodeFailure::Unreadable) {
                // Qt's complaint matters only when Qt was the one that knew the format.
                return fail(DecodeFailure::Unreadable,
                            second.reason.isEmpty() ? refused : refused + "; " + second.reason);
            }
            if (second.failure != DecodeFailure::None)
                return second;
            outcome.bitmap = std::move(second.bitmap);
            outcome.profile = second.profile;
        } else {
            outcome.profile =
                format == FIF_PNG ? pngProfile(data, size) : carriableProfile(outcome.bitmap.get());
        }

        // Formats without a header-only read are checked once decoded: the
        // program must not take what it cannot hold.
        FIBITMAP* dib = outcome.bitmap.get();
        const QString refusal = sizeRefusal(FreeImage_GetWidth(dib), FreeImage_GetHeight(dib),
                                            FreeImage_GetBPP(dib), limits);
        if (!refusal.isEmpty())
            return fail(DecodeFailure::TooLarge, refusal);

        // What goes with the pixels is read before the conversion, which need not keep it.
        const int orientation = pictureOrientation(dib);
        const bool resolutionKnown = format != FIF_TIFF || tiffStatesResolution(data, size);
        const unsigned dotsPerMeterX = resolutionKnown ? FreeImage_GetDotsPerMeterX(dib) : 0;
        const unsigned dotsPerMeterY = resolutionKnown ? FreeImage_GetDotsPerMeterY(dib) : 0;

        // 24 bits unless the picture has transparency; palettes, 16-bit and
        // float pictures are brought to 8 bits per channel.
        const bool transparent = FreeImage_IsTransparent(dib);
        if (!isStandardBitmap(dib) || FreeImage_GetBPP(dib) != (transparent ? 32u : 24u)) {
            BitmapPtr standard = convertToStandardBitmap(dib, transparent);
            // A palette's transparent entry that no pixel uses leaves the picture opaque.
            if (!standard || (transparent && !dropOpaqueAlpha(standard)))
                return fail(DecodeFailure::Unconverted,
                            withMessages(QStringLiteral(
                                "The picture's pixel format could not be converted")));
            outcome.bitmap = std::move(standard);
        }
        FreeImage_SetDotsPerMeterX(outcome.bitmap.get(), dotsPerMeterX);
        FreeImage_SetDotsPerMeterY(outcome.bitmap.get(), dotsPerMeterY);
        if (orientation != 1) {
            outcome.bitmap = turnUpright(std::move(outcome.bitmap), orientation);
            if (!outcome.bitmap)
                return fail(DecodeFailure::TooLarge,
                            QStringLiteral("Out of memory while turning the picture upright"));
        }
    } catch (const std::bad_alloc&) {
        // Readers in C++ throw where C readers return null.
        return fail(DecodeFailure::TooLarge, QStringLiteral("Out of memory while decoding"));
    }
    outcome.source = readSourceQuality(looksLikeJpeg(data, size) ? FIF_JPEG : format, data, size);
    outcome.failure = DecodeFailure::None;
    return outcome;
}

void prepareReaders()
{
    // Asking which reader knows some bytes loads every image plugin.
    QByteArray nothing("\0\0\0\0\0\0\0\0", 8);
    QBuffer buffer(&nothing);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    reader.canRead();
}
