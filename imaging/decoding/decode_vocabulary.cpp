// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoding/decode_vocabulary.h"

#include "imaging/pixels/messages.h"

#include <algorithm>
#include <thread>

namespace {

// Bytes of a bitmap of this size and depth as FreeImage lays it out (lines
// padded to 4 bytes), in 64 bits so a hostile header cannot wrap it.
std::uint64_t bitmapBytes(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel)
{
    const std::uint64_t line = (width * bitsPerPixel + 7) / 8;
    return ((line + 3) & ~std::uint64_t(3)) * height;
}

// "6000 × 4000 pixels need 391 MB of memory, more than the 300 MB available":
// the message for a picture the program has no room for.
QString memoryRefusal(std::uint64_t width, std::uint64_t height, std::uint64_t needed,
                      std::uint64_t available)
{
    return QStringLiteral("%1 × %2 pixels need %3 of memory, more than the %4 available")
        .arg(width)
        .arg(height)
        .arg(describeBytes(needed), describeBytes(available));
}

PictureDestination& destination()
{
    static PictureDestination given;
    return given;
}

} // namespace

void setPictureDestination(PictureDestination given)
{
    destination() = std::move(given);
}

BitmapPtr allocatePicture(int width, int height, int bpp, std::size_t bytes)
{
    if (destination())
        return BitmapPtr(destination()(width, height, bpp, bytes));
    if (bytes > bitmapBytes(std::uint64_t(width), std::uint64_t(height), unsigned(bpp)))
        return nullptr;
    return BitmapPtr(FreeImage_Allocate(width, height, bpp));
}

QString sizeRefusal(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel,
                    const DecodeLimits& limits)
{
    // Both sides come from the file; within maxPictureSide their products fit in 64 bits.
    if (width > maxPictureSide || height > maxPictureSide)
        return QStringLiteral("%1 × %2 pixels: a side longer than %3 pixels is more than "
                              "Glassmere can handle")
            .arg(width)
            .arg(height)
            .arg(maxPictureSide);
    const std::uint64_t needed = programBytes(width, height, bitsPerPixel, limits);
    if (needed > limits.memoryAvailable)
        return memoryRefusal(width, height, needed, limits.memoryAvailable);
    // The decoded bitmap and its standard 32-bit copy exist together.
    const std::uint64_t decoded =
        bitmapBytes(width, height, bitsPerPixel) + bitmapBytes(width, height, 32);
    if (decoded > limits.decoderMemory)
        return QStringLiteral("%1 × %2 pixels at %3 bits per pixel need %4 to decode, more than "
                              "the %5 Glassmere can use here")
            .arg(width)
            .arg(height)
            .arg(bitsPerPixel)
            .arg(describeBytes(decoded), describeBytes(limits.decoderMemory));
    return {};
}

QString workingSizeRefusal(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel,
                           unsigned workingBytesPerPixel, const DecodeLimits& limits)
{
    if (QString refusal = sizeRefusal(width, height, bitsPerPixel, limits); !refusal.isEmpty())
        return refusal;
    const std::uint64_t decoded =
        width * height * workingBytesPerPixel + bitmapBytes(width, height, bitsPerPixel);
    if (decoded > limits.decoderMemory)
        return QStringLiteral("%1 × %2 pixels need %3 to decode, more than the %4 Glassmere "
                              "can use here")
            .arg(width)
            .arg(height)
            .arg(describeBytes(decoded), describeBytes(limits.decoderMemory));
    return {};
}

std::uint64_t programBytes(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel,
                           const DecodeLimits& limits)
{
    const std::uint64_t perPixel =
        bitsPerPixel >= 32 ? limits.bytesPerPixel32 : limits.bytesPerPixel24;
    return width * height * perPixel; // sides up to 2^20 each: no overflow
}

int decodeTimeLimit(int floorSeconds, std::uint64_t fileBytes, std::uint64_t claimedPixels,
                    PixelsPerByte density)
{
    constexpr std::uint64_t mostPixelsPerByte = 8 * 1032;
    const std::uint64_t honestPixels =
        density == PixelsPerByte::Unbounded
            ? std::min(claimedPixels, maxPictureSide * maxPictureSide)
            : std::min(claimedPixels,
                       std::min(fileBytes, std::uint64_t(1) << 40) * mostPixelsPerByte);
    const std::uint64_t seconds =
        std::uint64_t(std::max(floorSeconds, 1)) + fileBytes / (8u << 20) + honestPixels / 4000000;
    return int(std::min<std::uint64_t>(seconds, 3600));
}

DecodeOutcome failedOutcome(DecodeOutcome&& outcome, DecodeFailure failure, const QString& why)
{
    outcome.bitmap.reset();
    outcome.profile.clear();
    outcome.failure = failure;
    outcome.reason = why;
    return std::move(outcome);
}

bool dropOpaqueAlpha(BitmapPtr& bitmap)
{
    if (FreeImage_IsTransparent(bitmap.get()))
        return true;
    BitmapPtr opaque(FreeImage_ConvertTo24Bits(bitmap.get()));
    if (!opaque)
        return false;
    bitmap = std::move(opaque);
    return true;
}

unsigned readerThreads()
{
    return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}
