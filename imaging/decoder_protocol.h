#pragma once

// What the program and its glassmere-decoder process say to each other over
// the socket that is the decoder's standard input. Both are built from the
// same tree, so the structures go as they are, in the machine's byte order.
//
//   program -> decoder   DecodeRequest, the open file attached (SCM_RIGHTS),
//                        then nameLength bytes of the file's name
//   decoder -> program   DecodeReply, then messageLength bytes of UTF-8 text,
//                        then profileLength bytes of the picture's ICC profile
//                        (at most maxProfileLength, picture_metadata.h);
//                        before it, for formats that tell their size up front,
//                        a DecodeReply with status HeaderRead, no text, no profile
//
// For DecodeStatus::Decoded the program takes the pixels one of two ways:
//   - straight from the decoder's own bitmap, which the reply locates
//     (pixelAddress, pixelPitch; scan line 0, the bottom one, first) and the
//     decoder leaves untouched until the next request: the program reads it
//     with process_vm_readv into its bitmap, the only copy;
//   - where the system forbids that (ptrace restrictions, seccomp), from the
//     pixel memory: with placePixels in the request the decoder copies the
//     scan lines there, without padding, from offset 0. The program creates
//     that memory file sealed so it can grow but never shrink (a shrinking
//     file would crash the program's reads with SIGBUS).
// Either way two wake-ups per picture suffice, whatever its size.
//
// The decoder serves one request after another until its socket closes.

#include <cstdint>

namespace decoder {

constexpr std::uint32_t requestMagic = 0x47444d52; // "RMDG"
constexpr std::uint32_t replyMagic = 0x47444d41;   // "AMDG"

// The decoder's descriptor for the pixel memory; its standard input is the socket.
constexpr int pixelMemory = 3;

// Longest file name and message that cross the socket.
constexpr std::uint32_t maxNameLength = 4096;
constexpr std::uint32_t maxMessageLength = 4096;

struct DecodeRequest {
    std::uint32_t magic = requestMagic;
    std::uint32_t nameLength = 0;
    std::uint64_t maxPixels = 0;
    std::uint64_t maxDecodedBytes = 0;
    // The floor of decodeTimeLimit. The decoder ends itself (SIGALRM) a little
    // after the time the picture may take, should the program be gone and
    // unable to end it.
    std::uint32_t timeLimitSeconds = 0;
    std::uint32_t flags = 0;
};

// DecodeRequest::flags
constexpr std::uint32_t placePixels = 1; // copy the pixels into the pixel memory

enum class DecodeStatus : std::uint32_t {
    Decoded = 0,
    Unreadable = 1,
    TooLarge = 2,
    Unconverted = 3,
    OutOfMemory = 4, // an allocation failed at the decoder's memory limit
    // Not an answer yet: the header claims width × height, so the decode may
    // take the time a picture of that size needs. The answer follows.
    HeaderRead = 5,
};

struct DecodeReply {
    std::uint32_t magic = replyMagic;
    DecodeStatus status = DecodeStatus::Unreadable;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bitsPerPixel = 0; // 24 or 32
    std::uint32_t messageLength = 0;
    std::uint32_t profileLength = 0; // only with DecodeStatus::Decoded
    std::uint32_t dotsPerMeterX = 0;
    std::uint32_t dotsPerMeterY = 0;
    std::uint32_t pixelPitch = 0;   // bytes from one scan line to the next in the decoder
    std::uint64_t pixelAddress = 0; // scan line 0 in the decoder's address space
};

// The decoder's exit code when it was started wrongly or its input is not a
// socket; any other end of the process counts as a crash.
constexpr int usageExitCode = 64;

} // namespace decoder
