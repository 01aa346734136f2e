// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Files that image readers choke on, written by the tests themselves, mixed
// with valid pictures whose decoded pixels are known.

#include <FreeImagePlus.h>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

struct HostileFile {
    QString name;
    // Valid files: the standard 24/32-bit picture a decode must give; broken
    // files: none.
    fipImage expected;
    // Broken files: a text the failure's reason must hold (may be empty).
    QString reasonHint;
    // Valid files: a text of the damage the decode must report; empty: none.
    QString damageHint;
    // Of a damaged file only the top row is known (a cut JPEG or PNG).
    bool onlyTopRowKnown = false;
    bool valid() const { return expected.isValid(); }
};
Q_DECLARE_METATYPE(HostileFile)

// Writes the mix into `folder` (which must exist) and describes each file:
// broken ones (a PSD and a PNG cut inside its header, a zero-byte and a text ".pct", a
// text ".jpg", a BMP header declaring 10^6 × 10^6 pixels, a WBMP of 30000 ×
// 30000 pixels, too large for 1 GB) and valid ones (JPEG, PNG with alpha, a BMP with padded lines,
// a larger BMP, 16-bit grey PNG, opaque GIF; a cut JPEG and PNG; alpha 0 everywhere; a TGA whose
// fourth byte is padding; a palette PNG with a transparent entry, a 16-bit RGBA PNG, a float HDR;
// phone and web pictures, whole, cut and damaged). The readers' layouts are reader_layouts.h's.
QList<HostileFile> writeHostileFolder(const QString& folder);

// Small valid pictures in every format FreeImage writes, at the depths it
// takes, plus the valid files of writeHostileFolder and writeReaderLayouts: a
// seed corpus for fuzzing. Returns the files' paths.
QStringList writeSeedPictures(const QString& folder);

// Fails the running test unless loading `file` gave what it must: a valid
// file its picture and its damage (and only damage) told, a broken one no
// picture and a reason holding its hint.
void verifyDecoded(const HostileFile& file, bool loaded, const fipImage& decoded,
                   const QString& reason);
