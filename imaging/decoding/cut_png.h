// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A PNG whose data ends early (a download cut off, a copy to a full disk)
// is refused whole by libpng. What its file holds is given back instead: the
// chunks before the pixels as they are, the pixel rows that could be
// inflated, the missing rows left empty (zero bytes: black, transparent, or
// the palette's first colour), in one IDAT chunk, and the IEND chunk.

#include <QByteArray>
#include <QString>

#include <cstddef>

struct CompletedPng {
    QByteArray file; // the PNG to decode instead; empty when `data` is not a cut PNG
    QString damage;  // what is missing, in words
};

// Only for a PNG whose pixel data stop before its last row; any other damage
// gives an empty file. `maxRawBytes` bounds the unfiltered rows it builds.
CompletedPng completeCutPng(const unsigned char* data, std::size_t size, std::size_t maxRawBytes);
