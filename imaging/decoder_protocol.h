#pragma once

// What the program and its glassmere-decoder process say to each other over
// the socket that is the decoder's standard input. Both are built from the
// same tree, so the structures go as they are, in the machine's byte order.
//
//   program -> decoder   DecodeRequest, the open file attached (SCM_RIGHTS),
//                        then nameLength bytes of the file's name
//   decoder -> program   DecodeReply, then messageLength bytes of UTF-8 text
//   for DecodeStatus::Decoded:
//   decoder => program   through the pixel pipe (the decoder's descriptor
//                        pixelPipe): `height` scan lines of width ×
//                        bitsPerPixel / 8 bytes each, bottom line first
//                        (FreeImage's order), without padding
//   program -> decoder   one byte, pixelsTaken
//
// The pixels are spliced into the pipe from the decoder's own bitmap, so the
// only copy is the program's read into its bitmap; the decoder keeps the
// bitmap untouched until the program says it has taken them.
//
// The decoder serves one request after another until its socket closes.

#include <cstdint>

namespace decoder {

constexpr std::uint32_t requestMagic = 0x47444d52; // "RMDG"
constexpr std::uint32_t replyMagic = 0x47444d41;   // "AMDG"

// The decoder's descriptor for the write end of the pixel pipe; its standard
// input is the socket.
constexpr int pixelPipe = 3;
constexpr char pixelsTaken = 'T';

// Longest file name and message that cross the socket.
constexpr std::uint32_t maxNameLength = 4096;
constexpr std::uint32_t maxMessageLength = 4096;

struct DecodeRequest {
    std::uint32_t magic = requestMagic;
    std::uint32_t nameLength = 0;
    std::uint64_t maxPixels = 0;
    std::uint64_t maxDecodedBytes = 0;
    // The decoder ends itself (SIGALRM) this long after taking the request,
    // should the program be gone and unable to end it.
    std::uint32_t timeLimitSeconds = 0;
    std::uint32_t reserved = 0;
};

enum class DecodeStatus : std::uint32_t {
    Decoded = 0,
    Unreadable = 1,
    TooLarge = 2,
    Unconverted = 3,
    OutOfMemory = 4, // an allocation failed at the decoder's memory limit
};

struct DecodeReply {
    std::uint32_t magic = replyMagic;
    DecodeStatus status = DecodeStatus::Unreadable;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bitsPerPixel = 0; // 24 or 32
    std::uint32_t messageLength = 0;
    std::uint32_t dotsPerMeterX = 0;
    std::uint32_t dotsPerMeterY = 0;
};

// The decoder's exit code when it was started wrongly or its input is not a
// socket; any other end of the process counts as a crash.
constexpr int usageExitCode = 64;

} // namespace decoder
