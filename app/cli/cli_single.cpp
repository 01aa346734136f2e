// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli/cli_single.h"

#include "app/cli/cli_output.h"
#include "imaging/decoder/image_io.h"
#include "imaging/pixels/messages.h"
#include "imaging/pixels/pixel_memory.h"
#include "imaging/saving/picture_saving.h"
#include "reflection/renderer/reflection_renderer.h"

#include <QFile>
#include <QFileInfo>

#include <FreeImagePlus.h>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The picture of `input`: "-" is standard input; a pipe or FIFO by name is
// read as a stream too (a FIFO blocks until its writer comes, as it should here).
bool loadInput(const QString& input, fipImage& picture, QString* error, PixelMemory* memory)
{
    if (input == QLatin1String("-"))
        return loadPictureStream(STDIN_FILENO, QStringLiteral("standard input"), picture, error,
                                 memory);
    const QByteArray name = QFile::encodeName(input);
    struct stat info;
    if (::stat(name.constData(), &info) != 0 || !(S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)))
        return loadPicture(input, picture, error, memory);
    const int stream = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (stream < 0)
        return failWith(error, QStringLiteral("Cannot open %1: %2").arg(input, systemError(errno)));
    const bool loaded = loadPictureStream(stream, input, picture, error, memory);
    ::close(stream);
    return loaded;
}

bool writeToStandardOutput(const QByteArray& bytes, QString* error)
{
    return writeAll(STDOUT_FILENO, bytes.constData(), bytes.size()) ||
           failWith(error, systemError(errno));
}

// Whether both names, through whatever links, are one file.
bool sameFile(const QString& one, const QString& other)
{
    struct stat first;
    struct stat second;
    return ::stat(QFile::encodeName(one).constData(), &first) == 0 &&
           ::stat(QFile::encodeName(other).constData(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

} // namespace

int runSingle(const CliRequest& request)
{
    const QString& input = request.input;
    const QString& output = request.output;
    const bool toStandardOutput = output == QLatin1String("-");
    const QString shownOutput = toStandardOutput ? QStringLiteral("standard output") : output;
    // The name whose extension selects the format.
    const QString formatName =
        request.format.isEmpty() ? output : QStringLiteral("picture.") + request.format;
    PixelMemory memory; // outlives the pictures over it
    fipImage source;
    fipImage result;
    QString error;
    // Its own reflection would replace the picture.
    if (sameFile(input, output))
        return failure(QStringLiteral("cannot write %1: it is the picture %2 itself; choose "
                                      "another name for the result")
                           .arg(output, input));
    if (!loadInput(input, source, &error, &memory))
        return failure(QStringLiteral("cannot read %1: %2").arg(input, error));
    if (!renderReflection(source, result, request.params, &memory, &error))
        return failure(QStringLiteral("cannot render %1: %2").arg(input, error));
    QString refusal;
    if (!formatStores(result, formatName, &refusal))
        return failure(QStringLiteral("cannot write %1: %2%3")
                           .arg(shownOutput, refusal,
                                QFileInfo(output).isDir()
                                    ? QString()
                                    : QStringLiteral("; choose another extension (.png stores "
                                                     "every result)")));
    QByteArray bytes;
    const bool written =
        toStandardOutput
            ? encodePicture(result, formatName, &bytes, &error, request.quality) &&
                  writeToStandardOutput(bytes, &error)
            : writeFileSafely(
                  output,
                  [&](const FileSink& sink, QString* why) {
                      return encodePicture(result, formatName, sink, why, request.quality);
                  },
                  &error);
    if (!written)
        return failure(QStringLiteral("cannot write %1: %2").arg(shownOutput, error));
    // Written as far as it could be read: a result, but not of the whole picture.
    if (const QString damage = pictureDamage(source); !damage.isEmpty())
        return failure(QStringLiteral("warning: %1 is damaged, only part of it could be read "
                                      "(%2); %3 was written from that part")
                           .arg(input, damage, shownOutput));
    return AllWritten;
}
