#pragma once

// Files that image readers choke on, written by the tests themselves, mixed
// with valid pictures whose decoded pixels are known.

#include <FreeImagePlus.h>
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

struct HostileFile {
    QString name;
    bool valid = false;
    // Valid files: the standard 24/32-bit picture a decode must give.
    fipImage expected;
    // Broken files: a text the failure's reason must hold (may be empty).
    QString reasonHint;
    // Valid files: whether the batch writes the result under another name
    // (an opaque GIF's 24-bit result goes to PNG).
    bool renamedInBatch = false;
};

// Writes the mix into `folder` (which must exist) and describes each file:
// broken ones (a PSD and a PNG cut short, a zero-byte and a text ".pct", a
// text ".jpg", a 118-byte BMP header and a WBMP header declaring 30000 × 30000
// pixels) and valid ones (JPEG, PNG with alpha, a BMP with padded lines,
// TIFF, BMPs with V5 headers and RLE8 data, 16-bit grey PNG, opaque GIF).
QList<HostileFile> writeHostileFolder(const QString& folder);

// Small valid pictures in every format FreeImage writes, at the depths it
// takes, plus the hand-written BMPs and 16-bit and float pictures: a seed
// corpus for fuzzing. Returns the files' paths.
QStringList writeSeedPictures(const QString& folder);

// Hand-written BMPs that this FreeImage build refuses and Qt reads.
QByteArray bmpWithV5Header(const fipImage& picture); // 24 bits BI_RGB, or 32 bits with alpha mask
QByteArray bmpWithRle8(const fipImage& palettised);  // 8-bit palette picture, RLE8-encoded

// A 118-byte BMP: a 4-bit header and palette declaring width × height, no pixels.
QByteArray bmpHeaderOnly(quint32 width, quint32 height);

// Every file's bytes and modification time in `folder`, to tell that nothing changed.
QMap<QString, QByteArray> folderSnapshot(const QString& folder);
