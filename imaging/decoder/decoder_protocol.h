// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the program and its glassmere-decoder process say to each other over
// the socket that is the decoder's standard input. Both are built from the
// same tree, so the structures go as they are, in the machine's byte order;
// the version tells a decoder left over from another build.
//
//   program -> decoder   DecodeRequest, the open file and the memory file the
//                        picture goes into attached (SCM_RIGHTS), then
//                        nameLength bytes of the file's name
//   decoder -> program   for formats that tell their size up front, a
//                        DecodeReply of kind Header (no text follows); then
//                        the DecodeReply of kind Answer, messageLength bytes
//                        of UTF-8 text (why the decode failed, or for a
//                        decoded picture what the reader reported as damage,
//                        none for a whole one) and profileLength bytes of the
//                        picture's ICC profile (at most maxProfileLength,
//                        picture_metadata.h)
//
// A decoded picture's scan lines are in the memory file, bottom-up with
// FreeImage's pitch, from offset 0: as the program's bitmap lays them out, so
// that the program takes the file's pages as its picture without a copy. The
// program creates that file sealed so it can grow but never shrink (a
// shrinking file would crash the program's reads with SIGBUS). Two wake-ups
// per picture, whatever its size.
//
// The decoder serves one request after another until its socket closes.

#include "imaging/decoding/picture_decoding.h"
#include "imaging/pixels/messages.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace decoder {

constexpr std::uint32_t requestMagic = 0x47444d52; // "RMDG"
constexpr std::uint32_t replyMagic = 0x47444d41;   // "AMDG"
constexpr std::uint32_t protocolVersion = 5;

// Longest file name and message that cross the socket.
constexpr std::uint32_t maxNameLength = 4096;
constexpr std::uint32_t maxMessageLength = 4096;

struct DecodeRequest {
    std::uint32_t magic = requestMagic;
    std::uint32_t version = protocolVersion;
    DecodeLimits limits;
    std::uint32_t nameLength = 0;
    std::uint32_t reserved = 0;
};

enum class ReplyKind : std::uint32_t {
    // Not an answer yet: the header claims width × height, so the decode may
    // take the time a picture of that size needs.
    Header = 1,
    Answer = 2,
};

struct DecodeReply {
    std::uint32_t magic = replyMagic;
    std::uint32_t version = protocolVersion;
    ReplyKind kind = ReplyKind::Answer;
    DecodeFailure failure = DecodeFailure::Unreadable;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bitsPerPixel = 0; // 24 or 32
    std::uint32_t messageLength = 0;
    std::uint32_t profileLength = 0; // only with a decoded picture
    std::uint32_t dotsPerMeterX = 0;
    std::uint32_t dotsPerMeterY = 0;
    PixelsPerByte density = PixelsPerByte::Bounded; // of the format, with a Header
    SourceQuality source; // how the file was coded, with a decoded picture
};

// Every byte of these is a field: no padding, whose stale contents would
// cross the socket, and nothing that cannot be copied as bytes.
template <typename Wire>
constexpr bool plainWire =
    std::is_trivially_copyable_v<Wire>&& std::has_unique_object_representations_v<Wire>;
static_assert(plainWire<DecodeLimits> && sizeof(DecodeLimits) == 32);
static_assert(plainWire<DecodeRequest> && sizeof(DecodeRequest) == 48);
static_assert(plainWire<DecodeReply> && sizeof(DecodeReply) == 64);

// The decoder's exit code when it was started wrongly or its input is not a
// socket; any other end of the process counts as a crash.
constexpr int usageExitCode = 64;

// Writes all of `size` bytes to the socket; false when it closed or failed.
bool sendAll(int socket, const void* data, std::size_t size);
// Reads exactly `size` bytes; the descriptors that come along land in
// `files[0]` (the picture file) and `files[1]` (the memory file the picture
// goes into) while they are -1, others are closed. False when the socket
// closed or failed.
bool receiveAll(int socket, void* data, std::size_t size, int* files = nullptr);

} // namespace decoder
