// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/saving/result_quality.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

class fipImage;

// Whether the format that `path`'s extension selects can store `image`: a
// writer exists and takes the picture's type and depth. FreeImage's tables
// claim more than some writers take (JPEG lists 32 bits but takes them only
// as CMYK), so each format and depth is also tried once on a small picture.
// Sizes are the encoder's matter: a picture too large or too small for its
// format (an icon above 256 × 256) passes here and is refused by
// encodePicture. `why` gets the reason of a refusal, the true one for a
// folder, a name without an extension and an extension no format has.
bool formatStores(const fipImage& image, const QString& path, QString* why = nullptr);

// Encodes `image` at its own depth, in the format of `path`'s extension, into
// `bytes` (the whole file). Nothing is written to disk. The PNG writer works
// on the calling thread's budget of threads (work_share.h). JPEG and WebP
// results are written as the quality rule says (result_quality.h) for the
// file `image` came from, unless `asked` says otherwise.
bool encodePicture(const fipImage& image, const QString& path, QByteArray* bytes,
                   QString* error = nullptr, const QualityChoice& asked = {});

// The same, the file's bytes handed to `sink` as they are made (Glassmere's
// PNG writer gives them band by band); a sink that returns false ends it.
using FileSink = std::function<bool(const char* data, qsizetype size)>;
bool encodePicture(const fipImage& image, const QString& path, const FileSink& sink,
                   QString* error = nullptr, const QualityChoice& asked = {});

// write(2) until all `size` bytes are written; false with errno set on the
// first error (ENOSPC where the file takes no more).
bool writeAll(int file, const char* data, qsizetype size);

// Writes `bytes` as the file `path` so that the file is either replaced whole
// or left as it was: the bytes go to a temporary file in the same folder
// (a short name, so any target name fits), every write checked, flushed to
// the disk, and renamed over the target only once complete; then the folder
// is flushed. On failure the temporary file is removed. A new file gets the
// usual permissions (0666 less the umask), a replaced one keeps its mode. A
// symbolic link is followed: the file it names is replaced.
bool writeFileSafely(const QString& path, QByteArrayView bytes, QString* error = nullptr);
// The same for a file made piece by piece: `produce` hands every piece to the
// sink it is given, and says why when it fails (the sink's own failures are
// told as above).
using FileProducer = std::function<bool(const FileSink& sink, QString* error)>;
bool writeFileSafely(const QString& path, const FileProducer& produce, QString* error = nullptr);

// formatStores, encodePicture and writeFileSafely: `image` written at its own
// depth in the format that the name's extension selects. A refused or failed
// save never damages an existing file.
bool savePicture(const fipImage& image, const QString& path, QString* error = nullptr,
                 const QualityChoice& asked = {});
