#pragma once

#include <QString>

#include <FreeImage.h>

class fipImage;

// Decodes `path` and normalises it for rendering: 24 bits per pixel when the
// picture has no transparency, 32 bits when it has (palettes, transparency
// tables, 16-bit and float pictures included). `picture` is replaced only on
// success; on failure it keeps what it held and `error` says why.
bool loadPicture(const QString& path, fipImage& picture, QString* error = nullptr);

// The same decode, handing over a bitmap that the caller owns (assign it to a
// fipImage, which takes it without a copy); null on failure.
FIBITMAP* decodePicture(const QString& path, QString* error = nullptr);

// Writes `image` at its own depth in the format that the name's extension
// selects. The bytes go to a temporary file in the same folder that replaces
// `path` only once it is complete, so a refused or failed save never damages
// an existing file.
bool savePicture(const fipImage& image, const QString& path, QString* error = nullptr);

// Whether savePicture can write `image` under `path`'s extension at all.
bool canSavePicture(const fipImage& image, const QString& path);

// The most recent message FreeImage reported on this thread (empty if none).
QString lastFreeImageMessage();
