#pragma once

// The program's side of glassmere-decoder: a pool of decoder processes, each
// serving one picture after another. A decoder that crashes, overruns its
// time or fails a picture is ended and replaced by a fresh one for the next
// picture; the others keep serving. Safe to call from several threads: each
// call takes a decoder of its own.

#include "picture_decoding.h"

#include <QByteArray>
#include <QString>

struct DecoderJob {
    int file = -1;       // an open regular file, mapped whole by the decoder; stays open
    QByteArray name;     // the file's name, for a format guess from its extension
    DecodeLimits limits; // checked in the decoder and again on the pixels that come back
    std::uint64_t fileBytes = 0;
    int timeLimitSeconds = 0; // the floor of decodeTimeLimit, wall time from request to last pixel
};

struct DecoderSetup {
    QByteArray program;            // the glassmere-decoder executable
    std::uint64_t memoryLimit = 0; // address space a decoder may use beyond its start-up size
    std::uint64_t generation = 0;  // decoders of an older generation are not reused
};

// The picture of `job`, normalised to a standard 24/32-bit bitmap, or null with
// the reason in `*reason`.
BitmapPtr decodeInDecoderProcess(const DecoderSetup& setup, const DecoderJob& job, QString* reason);

// Ends every idle decoder (the next call starts fresh ones).
void endIdleDecoders();

// How the pixels cross: read straight from the decoder's memory where the
// system allows it (found out on the first picture), else copied through a
// shared memory file. Tests choose the second way to cover it.
enum class PixelPassage { Direct, SharedMemory };
void choosePixelPassage(PixelPassage passage);
// The way the last picture came across.
PixelPassage pixelPassage();
