// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The program's side of glassmere-decoder: a pool of decoder processes, each
// serving one picture after another. A decoder that crashes, overruns its
// time or fails a picture is ended and replaced by a fresh one for the next
// picture; the others keep serving. Safe to call from several threads: each
// call takes a decoder of its own.

#include "imaging/decoding/picture_decoding.h"

#include <QByteArray>
#include <QString>

struct DecoderSetup {
    QByteArray program;           // the glassmere-decoder executable
    std::uint64_t generation = 0; // decoders of an older generation are not reused
};

class PixelMemory;

struct DecoderJob {
    int file = -1;               // an open regular file, mapped whole by the decoder; stays open
    std::uint64_t fileBytes = 0; // its size, for the time limit
    QByteArray name;             // the file's name, for a format guess from its extension
    // The memory the picture is decoded into, and the bitmap over it that must
    // stay whole; without it, the picture is copied into a bitmap of its own.
    PixelMemory* memory = nullptr;
    FIBITMAP* keep = nullptr;
};

// The picture of `job`, normalised to a standard 24/32-bit bitmap (over
// `job.memory` when given), or null with
// the reason in `*reason`. `limits` go to the decoder as they are and are
// checked again on what comes back.
BitmapPtr decodeInDecoderProcess(const DecoderSetup& setup, const DecodeLimits& limits,
                                 const DecoderJob& job, QString* reason);

// Ends every idle decoder (the next call starts fresh ones).
void endIdleDecoders();
