#pragma once

#include <QString>
#include <QStringList>

#include <FreeImage.h>

#include <cstdint>

class fipImage;

// Decodes `path` and normalises it for rendering: 24 bits per pixel when the
// picture has no transparency, 32 bits when it has (palettes, transparency
// tables, 16-bit and float pictures included). `picture` is replaced only on
// success; on failure it keeps what it held and `error` says why.
//
// The decoding happens in a glassmere-decoder process (see
// pictureDecoderProgram), under the limits of pictureLimits(): a damaged file
// that crashes or hangs the image readers, or makes them allocate without end,
// fails with a reason ("The picture decoder crashed (signal 11, ...)",
// "Decoding took longer than 3 s ...", "Decoding exceeds the memory limit
// ..."), and a picture too large to hold is refused from its header before its
// pixels are decoded. Safe to call from several threads at once.
bool loadPicture(const QString& path, fipImage& picture, QString* error = nullptr);

// The same decode, handing over a bitmap that the caller owns (assign it to a
// fipImage, which takes it without a copy); null on failure.
FIBITMAP* decodePicture(const QString& path, QString* error = nullptr);

// The decoder's account of the last failed decode on this thread (empty if none).
QString lastFreeImageMessage();

// How large a picture Glassmere decodes and what each decoder may use.
struct PictureLimits {
    std::uint64_t maxPixels = 0;       // width × height
    std::uint64_t maxDecodedBytes = 0; // the file, its decoded bitmap and the 24/32-bit copy
    std::uint64_t decoderMemory = 0;   // address space per decoder beyond its start-up size
    int timeLimitSeconds = 3; // per picture at least; larger ones get more, see decodeTimeLimit
};

// The limits for a machine with `availableBytes` of free memory. Half of it is
// the budget B, the rest stays for everything else running. The program holds
// up to 32 bytes per pixel of a picture (source 4, result up to 8 with a full
// strip, the preview's image 8 and its pixmap 8, and headroom), so pictures
// have at most B / 32 pixels. Each decoder may use B / 2, so two decoding at
// once stay within B; a picture's decoded bitmap must fit in that.
PictureLimits defaultPictureLimits(std::uint64_t availableBytes);

// The memory available now: the kernel's MemAvailable, or less when the
// control group's memory limit or this process's address-space limit leaves less.
std::uint64_t availableMemory();

// The limits in force: set by setPictureLimits, else defaultPictureLimits of
// the memory available when first asked.
PictureLimits pictureLimits();
// For tests and tools; decoders started under other limits are ended.
void setPictureLimits(const PictureLimits& limits);

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
