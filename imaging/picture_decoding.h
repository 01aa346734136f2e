#pragma once

// The decode itself: bytes of a picture file in, a standard 24/32-bit bitmap
// out. It runs inside the glassmere-decoder process (and inside the fuzz
// target), never in the program that shows or writes pictures: the image
// readers behind it are not trusted to fail cleanly on damaged files.

#include "standard_bitmap.h"

#include <QString>

#include <cstddef>
#include <cstdint>

// How large a picture may be. Checked from the header before the pixels are
// decoded where the format can tell its size, and again after decoding.
struct DecodeLimits {
    std::uint64_t maxPixels = 0;       // width × height the program can hold
    std::uint64_t maxDecodedBytes = 0; // the decoded bitmap plus its 24/32-bit copy
};

// The longest side Glassmere takes: the renderer's and the preview's
// arithmetic on lines and percentages stays within 32 bits below it.
constexpr std::uint64_t maxPictureSide = 1u << 20;

enum class DecodeFailure {
    None,
    Unreadable,  // no reader knows the data, or the data is damaged
    TooLarge,    // refused by DecodeLimits
    Unconverted, // decoded, but not to 24 or 32 bits
};

struct DecodeOutcome {
    BitmapPtr bitmap; // standard 24-bit, or 32-bit when the picture has transparency
    DecodeFailure failure = DecodeFailure::None;
    QString reason; // why it failed, with the image library's own messages
};

// Decodes the whole file held in `data`. The format comes from the data's
// signature, then from `name`'s extension; when FreeImage refuses the data,
// Qt's readers of a few raster formats get their turn (they read BMPs with
// V4/V5 headers and RLE8 data, which this FreeImage build refuses). `data` is
// only read and may be a read-only mapping of the file.
DecodeOutcome decodePictureData(const unsigned char* data, std::size_t size, const QString& name,
                                const DecodeLimits& limits);

// "30000 × 30000 pixels is larger than the 358 megapixels Glassmere can
// handle here": the refusal for a picture over `limits` or maxPictureSide, or
// an empty text when the size is within them. `bitsPerPixel` is the depth the
// reader decodes to.
QString sizeRefusal(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel,
                    const DecodeLimits& limits);

// FreeImage reports problems through one process-wide callback; these collect
// what it said on the calling thread since the last clear.
void captureFreeImageMessages();
void clearFreeImageMessages();
QString freeImageMessages();
