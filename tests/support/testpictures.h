// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Real pictures and files for tests, written and read with FreeImage and QFile.

#include <FreeImagePlus.h>
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// Small real pictures for tests: every pixel differs from its neighbours, so a
// mirror or turn that lands wrong shows.
fipImage makeGradientPicture(unsigned width, unsigned height, unsigned bitsPerPixel);

// Writes `picture` with FreeImage under `path` (format from the extension); aborts the test run on
// failure.
void writePicture(fipImage picture, const QString& path, int flags = 0);

// Pixel (x, y), counted from the top-left corner, as 0xAARRGGBB (alpha 255 at 24 bits).
unsigned pixelAt(const fipImage& picture, unsigned x, unsigned y);

// Writes `bytes` as the whole file at `path`; aborts the test run on failure.
void writeBytes(const QString& path, const QByteArray& bytes);
// The file's bytes; empty when it cannot be read.
QByteArray fileBytes(const QString& path);
// The picture FreeImage reads from `path`; invalid when it cannot.
fipImage readPicture(const QString& path);
// A JPEG as libjpeg decodes it by default (the accurate transform), read
// through Qt's reader, as a 24-bit picture; invalid when it cannot be read.
fipImage readJpegAccurately(const QString& path);
// The peak signal-to-noise ratio in dB of the top `rows` rows of two 24-bit
// pictures of one width, over every colour byte; 99 when they are the same.
double psnr(const fipImage& a, const fipImage& b, unsigned rows);

// Every file of `folder` (hidden ones included) by name, with its bytes and,
// with `withTimes`, its modification time: compare two to tell that nothing
// changed, or that two folders hold the same files.
QMap<QString, QByteArray> folderSnapshot(const QString& folder, bool withTimes = false);

// What a program said: its exit code (-1 when it did not end normally in
// time), its standard output and error; describe() gives all for a failure.
struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
    QByteArray describe() const;
};
// Runs `program`; `addressSpaceKB` above 0 caps its address space as `ulimit -v` does;
// `environment` ("NAME=value") is added to this process's.
ProgramRun runProgram(const QString& program, const QStringList& arguments, int addressSpaceKB = 0,
                      const QStringList& environment = {});
