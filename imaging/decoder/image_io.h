// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/decoding/picture_decoding.h"

#include <FreeImage.h>
#include <QString>
#include <QStringList>

#include <cstdint>

class PixelMemory;
class fipImage;

// Decodes `path` and normalises it for rendering: 24 bits per pixel when the
// picture has no transparency, 32 bits when it has (palettes, transparency
// tables, 16-bit and float pictures included). `picture` is replaced only on
// success; on failure it keeps what it held and `error` says why. The one
// road by which the window, the batch and glassmere-cli take in a picture.
//
// The decoding happens in a glassmere-decoder process (see
// pictureDecoderProgram), under the limits of pictureLimits(): a damaged file
// that crashes or hangs the image readers, or makes them allocate without end,
// fails with a reason ("The picture decoder crashed (signal 11, ...)",
// "Decoding took longer than 3 s ...", "Decoding exceeds the memory limit
// ..."), and a picture too large to hold is refused from its header before its
// pixels are decoded ("6000 × 4000 pixels need 391 MB of memory, more than
// the 300 MB available"). Safe to call from several threads at once.
//
// A picture the reader decoded although its file is damaged (cut off, or
// with faults the reader named) loads all the same; pictureDamage then gives
// the reader's words. The picture also records how its file was coded
// (source_quality.h), so that a JPEG or WebP result is written as it was.
//
// With `memory`, the decoder writes the picture straight into that memory
// (PixelMemory::pictureFile) and `picture` becomes a bitmap over it, without a
// copy: it must not outlive `memory`, and a result rendered with the same
// memory may take the picture's lines as its own.
bool loadPicture(const QString& path, fipImage& picture, QString* error = nullptr,
                 PixelMemory* memory = nullptr);

// loadPicture for a stream: standard input, a pipe, a FIFO. The stream is
// read to its end (at most what a decoder may hold) and its bytes decoded as
// a file's, in a decoder process; the format is told by the bytes alone.
// `name` names the stream in messages ("standard input").
bool loadPictureStream(int stream, const QString& name, fipImage& picture, QString* error = nullptr,
                       PixelMemory* memory = nullptr);

// What the reader reported as damage in the picture last loaded into
// `picture` ("Premature end of JPEG file"); empty for a whole picture.
QString pictureDamage(const fipImage& picture);

// What the program holds per pixel of a picture, measured on the window's
// road with a full-size strip (source, result, and the preview's pixmap,
// which takes the preview image's memory): 3 + 6 + 8 bytes at 24 bits,
// 4 + 8 + 8 at 32. glassmere-cli and the batch hold the source, the result
// and at most the result once more, encoded: no more than that.
constexpr std::uint32_t programBytesPerPixel24 = 17;
constexpr std::uint32_t programBytesPerPixel32 = 20;

// The limits for a machine with `availableBytes` of free memory: a picture's
// road may use all of it; each decoder may use as much too (at least 512 MB,
// rounded down to a power of two so that decoders are reused while the free
// memory drifts), with a time limit of at least 3 s.
DecodeLimits defaultPictureLimits(std::uint64_t availableBytes);

// The memory available now: the kernel's MemAvailable, or less when the
// control group's memory limit or this process's address-space limit leaves less.
std::uint64_t availableMemory();

// The limits in force: set by setPictureLimits, else defaultPictureLimits of
// the memory available at this moment.
DecodeLimits pictureLimits();
// For tests and tools; decoders started under other limits are ended.
void setPictureLimits(const DecodeLimits& limits);

// "Out of memory: 6000 × 4000 pixels need about 389 MB, and 300 MB are
// available": for an allocation that failed although the picture was let in.
QString memoryShortage(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel);

// The decoder executable in use, the first of:
//   1. the program given to setPictureDecoderProgram (tests, tools);
//   2. the environment variable GLASSMERE_DECODER;
//   3. glassmere-decoder beside the running executable (symbolic links resolved);
//   4. glassmere-decoder in the program folder as installed, seen from the
//      folder of glassmere-cli (../libexec/glassmere from bin/).
// Empty when none of them is an executable file: decoding then fails with a
// message naming the places in `searched`. There is deliberately no fallback
// to decoding inside the program.
QString pictureDecoderProgram(QStringList* searched = nullptr);
// An empty text goes back to the search above.
void setPictureDecoderProgram(const QString& program);
