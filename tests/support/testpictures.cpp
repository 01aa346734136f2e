// SPDX-License-Identifier: GPL-3.0-or-later
#include "testpictures.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>

#include <cmath>
#include <sys/resource.h>

fipImage makeGradientPicture(unsigned width, unsigned height, unsigned bitsPerPixel)
{
    fipImage picture(FIT_BITMAP, width, height, bitsPerPixel);
    const unsigned step = bitsPerPixel / 8;
    for (unsigned row = 0; row < height; ++row) {
        BYTE* line = picture.getScanLine(height - 1 - row);
        for (unsigned x = 0; x < width; ++x) {
            BYTE* pixel = line + x * step;
            pixel[FI_RGBA_RED] = BYTE(x * 255 / (width > 1 ? width - 1 : 1));
            pixel[FI_RGBA_GREEN] = BYTE(row * 255 / (height > 1 ? height - 1 : 1));
            pixel[FI_RGBA_BLUE] = BYTE((x * 7 + row * 13) & 0xff);
            if (step == 4)
                pixel[FI_RGBA_ALPHA] = BYTE(128 + (x + row) % 128);
        }
    }
    return picture;
}

void writePicture(fipImage picture, const QString& path, int flags)
{
    if (!picture.save(QFile::encodeName(path).constData(), flags))
        qFatal("cannot write test picture %s", qPrintable(path));
}

unsigned pixelAt(const fipImage& picture, unsigned x, unsigned y)
{
    const unsigned step = picture.getBitsPerPixel() / 8;
    const BYTE* pixel = picture.getScanLine(picture.getHeight() - 1 - y) + x * step;
    const unsigned alpha = step == 4 ? pixel[FI_RGBA_ALPHA] : 255u;
    return alpha << 24 | unsigned(pixel[FI_RGBA_RED]) << 16 | unsigned(pixel[FI_RGBA_GREEN]) << 8 |
           pixel[FI_RGBA_BLUE];
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write test file %s", qPrintable(path));
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

fipImage readPicture(const QString& path)
{
    fipImage picture;
    picture.load(QFile::encodeName(path).constData());
    return picture;
}

fipImage readJpegAccurately(const QString& path)
{
    QImageReader reader(path);
    reader.setQuality(100); // Qt's reader takes the fast transform below 50
    const QImage image = reader.read().convertToFormat(QImage::Format_RGB32);
    fipImage picture;
    if (image.isNull() ||
        !picture.setSize(FIT_BITMAP, unsigned(image.width()), unsigned(image.height()), 24))
        return picture;
    for (int y = 0; y < image.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        BYTE* out = picture.getScanLine(unsigned(image.height() - 1 - y));
        for (int x = 0; x < image.width(); ++x, out += 3) {
            out[FI_RGBA_RED] = BYTE(qRed(in[x]));
            out[FI_RGBA_GREEN] = BYTE(qGreen(in[x]));
            out[FI_RGBA_BLUE] = BYTE(qBlue(in[x]));
        }
    }
    return picture;
}

double psnr(const fipImage& a, const fipImage& b, unsigned rows)
{
    double squares = 0;
    for (unsigned y = 0; y < rows; ++y) {
        const BYTE* p = a.getScanLine(a.getHeight() - 1 - y);
        const BYTE* q = b.getScanLine(b.getHeight() - 1 - y);
        for (unsigned i = 0; i < 3 * a.getWidth(); ++i)
            squares += (double(p[i]) - q[i]) * (double(p[i]) - q[i]);
    }
    if (squares == 0)
        return 99;
    return 10 * std::log10(255.0 * 255.0 * 3 * a.getWidth() * rows / squares);
}

QMap<QString, QByteArray> folderSnapshot(const QString& folder, bool withTimes)
{
    QMap<QString, QByteArray> snapshot;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QFileInfo& entry : entries) {
        QByteArray bytes = fileBytes(entry.filePath());
        if (withTimes)
            bytes += "|" + QByteArray::number(entry.lastModified().toMSecsSinceEpoch());
        snapshot.insert(entry.fileName(), bytes);
    }
    return snapshot;
}

QByteArray ProgramRun::describe() const
{
    return QString("exit %1\nstdout: %2\nstderr: %3").arg(exitCode).arg(out, err).toLocal8Bit();
}

ProgramRun runProgram(const QString& program, const QStringList& arguments, int addressSpaceKB,
                      const QStringList& environment)
{
    QProcess process;
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const QString& variable : environment)
        variables.insert(variable.section('=', 0, 0), variable.section('=', 1));
    process.setProcessEnvironment(variables);
#if defined(__SANITIZE_ADDRESS__)
    addressSpaceKB = 0; // the sanitizer's shadow memory does not start under a cap
#endif
    if (addressSpaceKB > 0)
        process.setChildProcessModifier([addressSpaceKB] {
            const rlimit space{rlim_t(addressSpaceKB) * 1024, rlim_t(addressSpaceKB) * 1024};
            setrlimit(RLIMIT_AS, &space);
        });
    process.start(program, arguments);
    if (!process.waitForFinished(180000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, {}, program + ": " + process.errorString()};
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}
