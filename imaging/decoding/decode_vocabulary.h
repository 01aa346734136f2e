// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The words every reader and both sides of the decoder speak: the limits a
// decode runs under, how it can fail, and what it hands back; and the
// big-endian numbers the files store. A leaf: the readers include it, and it
// includes none of them.

#include "imaging/pixels/source_quality.h"
#include "imaging/pixels/standard_bitmap.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>

// How large a picture may be and how long its decode may take: set by the
// program (pictureLimits), sent to the decoder as they are, and checked on
// both sides. Fixed-width fields without padding: they cross the socket.
struct DecodeLimits {
    // Memory the program can give a picture now, and what it holds per pixel
    // of a 24-bit and of a 32-bit picture: the picture, its result and the
    // window's preview of that result.
    std::uint64_t memoryAvailable = 0;
    // Address space a decoder may use beyond its start-up size: the file, the
    // decoded bitmap and its standard copy must fit in it.
    std::uint64_t decoderMemory = 0;
    std::uint32_t bytesPerPixel24 = 0;
    std::uint32_t bytesPerPixel32 = 0;
    std::uint32_t timeLimitSeconds = 0; // the floor of decodeTimeLimit
    std::uint32_t reserved = 0;
};

// The big-endian 32-bit number at `at`, as PNG and ICC profiles store theirs.
inline std::uint32_t bigEndian32(const unsigned char* at)
{
    return std::uint32_t(at[0]) << 24 | std::uint32_t(at[1]) << 16 | std::uint32_t(at[2]) << 8 |
           at[3];
}

// The longest side Glassmere takes: the renderer's and the preview's
// arithmetic on lines and percentages stays within 32 bits below it.
constexpr std::uint64_t maxPictureSide = 1u << 20;

enum class DecodeFailure : std::uint32_t {
    None,
    Unreadable,  // no reader knows the data, or the data is damaged
    TooLarge,    // refused by DecodeLimits
    Unconverted, // decoded, but not to 24 or 32 bits
    OutOfMemory, // an allocation failed at the decoder's memory limit
};

struct DecodeOutcome {
    BitmapPtr bitmap;     // standard 24-bit, or 32-bit when the picture has transparency, upright,
                          // with the picture's resolution
    QByteArray profile;   // the picture's ICC profile when it can go with the result
    SourceQuality source; // how the file was coded
    // What the reader reported as damage in a picture it decoded all the same
    // ("Premature end of JPEG file"); empty for a whole picture.
    QString damage;
    DecodeFailure failure = DecodeFailure::None;
    QString reason; // why it failed, with the image library's own messages
};

// Where a reader that can put its picture straight into the memory the
// program reads it from gets the picture's bitmap: a standard bitmap whose
// block holds at least `bytes` from its first pixel on, or null. Set by the
// decoder around each decode; unset, allocatePicture gives memory of its own.
using PictureDestination =
    std::function<FIBITMAP*(int width, int height, int bpp, std::size_t bytes)>;
void setPictureDestination(PictureDestination destination);
// A standard bitmap for a decoded picture whose block holds at least `bytes`
// (0: its pixels alone); null when memory runs out or, without a
// destination, when `bytes` is more than its pixels.
BitmapPtr allocatePicture(int width, int height, int bpp, std::size_t bytes = 0);

// How many pixels a byte of the file can hold. Deflate at its best packs
// about 1032 pixels of one bit each into a bit; AV1, HEVC and JPEG XL code a
// plain area of any size in a few bytes, so a file of 3 kB can hold 200
// megapixels that each cost the decoder time.
enum class PixelsPerByte : std::uint32_t {
    Bounded,   // at most 8 × 1032, as deflate's formats
    Unbounded, // AV1, HEVC, JPEG XL
};

// Learns the size a header claims before the pixels are decoded.
using HeaderRead =
    std::function<void(std::uint64_t width, std::uint64_t height, PixelsPerByte density)>;

// `outcome` as a failure: its picture and profile dropped, the failure and
// why it happened set; how the file was coded stays.
DecodeOutcome failedOutcome(DecodeOutcome&& outcome, DecodeFailure failure, const QString& why);

// Runs a reader whose library throws std::bad_alloc at the decoder's memory
// cap, and turns that into the failure every reader gives.
template <typename Reader> DecodeOutcome outOfMemoryTold(Reader&& read)
{
    try {
        return read();
    } catch (const std::bad_alloc&) {
        return failedOutcome({}, DecodeFailure::OutOfMemory,
                             QStringLiteral("Out of memory while decoding"));
    }
}

// A picture decoded with an alpha channel that is opaque everywhere becomes a
// 24-bit one, as it is no transparent picture; false when memory runs out.
bool dropOpaqueAlpha(BitmapPtr& bitmap);

// The threads a library's reader may decode one picture on.
unsigned readerThreads();

// The wall time a decode may honestly need: `floorSeconds`, plus a second for
// every 8 MB of the file and for every 4 megapixels of the picture. Only as
// many pixels count as a file of this size can hold at `density`, so a small
// PNG cannot buy itself minutes by claiming a huge size.
int decodeTimeLimit(int floorSeconds, std::uint64_t fileBytes, std::uint64_t claimedPixels,
                    PixelsPerByte density = PixelsPerByte::Bounded);
// The limit counts the decoder's processor time; a decoder that sleeps
// instead is stopped after this much wall time.
constexpr int decodeWallBackstop(int timeLimitSeconds)
{
    return 4 * timeLimitSeconds;
}

// "30000 × 30000 pixels need 14.2 GB of memory, more than the 3.1 GB
// available": the refusal for a picture over `limits` or maxPictureSide, or an
// empty text when the size is within them. `bitsPerPixel` is the depth the
// reader decodes to.
QString sizeRefusal(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel,
                    const DecodeLimits& limits);

// sizeRefusal for a reader whose library decodes into an image of its own,
// `workingBytesPerPixel` a pixel, before the standard bitmap of `bitsPerPixel`
// (24 or 32) is made from it: both exist together in the decoder.
QString workingSizeRefusal(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel,
                           unsigned workingBytesPerPixel, const DecodeLimits& limits);

// What the program holds for a picture of this size once decoded at
// `bitsPerPixel` (24 or 32; more means 32 after normalising).
std::uint64_t programBytes(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel,
                           const DecodeLimits& limits);
