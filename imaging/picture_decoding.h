#pragma once

// The decode itself: bytes of a picture file in, a standard 24/32-bit bitmap
// out. It runs inside the glassmere-decoder process (and inside the fuzz
// target), never in the program that shows or writes pictures: the image
// readers behind it are not trusted to fail cleanly on damaged files.

#include "standard_bitmap.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

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
    BitmapPtr bitmap;   // standard 24-bit, or 32-bit when the picture has transparency, upright,
                        // with the picture's resolution
    QByteArray profile; // the picture's ICC profile when it can go with the result
    DecodeFailure failure = DecodeFailure::None;
    QString reason; // why it failed, with the image library's own messages
};

// Decodes the whole file held in `data` and turns it upright as its EXIF
// orientation says. The format comes from the data's
// signature, then from `name`'s extension. BMPs are read by Glassmere's own
// reader (bmp_reading.h), every other format by FreeImage, its PNG and TGA
// results corrected (reader_corrections.h); when FreeImage refuses the data,
// Qt's readers of a few raster formats get their turn. `data` is only read and
// may be a read-only mapping of the file.
// `headerRead`, when given, learns the size the header claims before the
// pixels are decoded (formats that can tell it).
using HeaderRead = std::function<void(std::uint64_t width, std::uint64_t height)>;
DecodeOutcome decodePictureData(const unsigned char* data, std::size_t size, const QString& name,
                                const DecodeLimits& limits, const HeaderRead& headerRead = {});

// The wall time a decode may honestly need: `floorSeconds`, plus a second for
// every 8 MB of the file and for every 4 megapixels of the picture. Only as
// many pixels count as a file of this size can hold (deflate at its best
// packs about 1032 pixels of one bit each into a bit), so a small file cannot
// buy itself minutes by claiming a huge size.
int decodeTimeLimit(int floorSeconds, std::uint64_t fileBytes, std::uint64_t claimedPixels);

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
