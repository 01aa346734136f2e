#pragma once

// The decode itself: bytes of a picture file in, a standard 24/32-bit bitmap
// out. It runs inside the glassmere-decoder process (and inside the fuzz
// target), never in the program that shows or writes pictures: the image
// readers behind it are not trusted to fail cleanly on damaged files.

#include "imaging/pixels/standard_bitmap.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

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

// "30000 × 30000 pixels need 14.2 GB of memory, more than the 3.1 GB
// available": the refusal for a picture over `limits` or maxPictureSide, or an
// empty text when the size is within them. `bitsPerPixel` is the depth the
// reader decodes to.
QString sizeRefusal(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel,
                    const DecodeLimits& limits);

// What the program holds for a picture of this size once decoded at
// `bitsPerPixel` (24 or 32; more means 32 after normalising).
std::uint64_t programBytes(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel,
                           const DecodeLimits& limits);

// "6000 × 4000 pixels need 391 MB of memory, more than the 300 MB available":
// the message for a picture the program has no room for.
QString memoryRefusal(std::uint64_t width, std::uint64_t height, std::uint64_t needed,
                      std::uint64_t available);

// FreeImage reports problems through one process-wide callback; these collect
// what it said on the calling thread since the last clear.
void captureFreeImageMessages();
void clearFreeImageMessages();
QString freeImageMessages();
