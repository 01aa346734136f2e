// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/decoder/image_io.h"

#include "imaging/decoder/control_groups.h"
#include "imaging/decoder/decoder_process.h"
#include "imaging/decoder/decoder_protocol.h"
#include "imaging/decoding/picture_decoding.h"
#include "imaging/pixels/messages.h"
#include "imaging/pixels/standard_bitmap.h"
#include "imaging/saving/picture_saving.h"

#include <FreeImagePlus.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Decodes `file` (a regular file or memory in that form, `size` bytes) in a
// decoder process; `name` guides the format guess from its extension.
bool decodeOpenedFile(int file, std::uint64_t size, const QString& name, fipImage& picture,
                      QString* error, PixelMemory* memory = nullptr);

// The first number after `key` in a "/proc"-style text file, times `unit`; 0 if absent.
std::uint64_t readNumber(const char* path, const QByteArray& key, std::uint64_t unit)
{
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    const QByteArray text = file.readAll();
    const qsizetype at = key.isEmpty() ? 0 : text.indexOf(key);
    if (at < 0)
        return 0;
    const QByteArray rest = text.mid(at + key.size()).trimmed();
    qsizetype end = 0;
    while (end < rest.size() && rest[end] >= '0' && rest[end] <= '9')
        ++end;
    bool ok = false;
    const std::uint64_t number = rest.left(end).toULongLong(&ok);
    return ok ? number * unit : 0;
}

// Decoder program and limits, shared by every thread.
struct DecoderState {
    std::mutex mutex;
    bool limitsSet = false;
    DecodeLimits limits;
    QString program; // as set; empty: search
    std::uint64_t generation = 1;
};

DecoderState& state()
{
    static DecoderState shared;
    return shared;
}

QString executableFolder()
{
    // What QCoreApplication::applicationDirPath() reads, without needing an
    // application object (the decoder is used by tools that have none).
    const QString executable = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    return QFileInfo(executable).absolutePath();
}

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

struct FileCloser {
    int file;
    ~FileCloser() { close(file); }
};

} // namespace

std::uint64_t availableMemory()
{
    std::uint64_t available = readNumber("/proc/meminfo", "MemAvailable:", 1024);
    if (available == 0) {
        const long pages = sysconf(_SC_AVPHYS_PAGES);
        available = pages > 0 ? std::uint64_t(pages) * std::uint64_t(sysconf(_SC_PAGESIZE)) : 0;
    }
    // A control group's limit (a container's, a service's) is what the
    // kernel enforces on this process.
    available = std::min(available, controlGroupRoom());
    rlimit space;
    if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY) {
        const std::uint64_t used =
            readNumber("/proc/self/statm", {}, std::uint64_t(sysconf(_SC_PAGESIZE)));
        const std::uint64_t limit = std::uint64_t(space.rlim_cur);
        available = std::min(available, limit > used ? limit - used : 0);
    }
    return available;
}

DecodeLimits defaultPictureLimits(std::uint64_t availableBytes)
{
    constexpr std::uint64_t leastDecoderMemory = 512u << 20;
    DecodeLimits limits;
    limits.memoryAvailable = availableBytes;
    limits.bytesPerPixel24 = programBytesPerPixel24;
    limits.bytesPerPixel32 = programBytesPerPixel32;
    std::uint64_t decoderMemory = leastDecoderMemory;
    while (decoderMemory * 2 <= availableBytes && decoderMemory < (std::uint64_t(1) << 46))
        decoderMemory *= 2;
    limits.decoderMemory = decoderMemory;
    limits.timeLimitSeconds = 3;
    return limits;
}

QString memoryShortage(std::uint64_t width, std::uint64_t height, unsigned bitsPerPixel)
{
    const std::uint64_t needed = programBytes(width, height, bitsPerPixel, pictureLimits());
    return QStringLiteral("Out of memory: %1 × %2 pixels need about %3, and %4 are available")
        .arg(width)
        .arg(height)
        .arg(describeBytes(needed), describeBytes(availableMemory()));
}

DecodeLimits pictureLimits()
{
    {
        DecoderState& shared = state();
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (shared.limitsSet)
            return shared.limits;
    }
    // Asked afresh each time: what is free changes, and a picture refused now
    // may open once other programs have let memory go.
    return defaultPictureLimits(availableMemory());
}

void setPictureLimits(const DecodeLimits& limits)
{
    {
        DecoderState& shared = state();
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.limits = limits;
        shared.limitsSet = true;
        ++shared.generation;
    }
    endIdleDecoders();
}

QString pictureDecoderProgram(QStringList* searched)
{
    QStringList candidates;
    {
        DecoderState& shared = state();
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (!shared.program.isEmpty())
            candidates.append(shared.program);
    }
    if (candidates.isEmpty()) {
        const QString fromEnvironment = qEnvironmentVariable("GLASSMERE_DECODER");
        if (!fromEnvironment.isEmpty()) {
            candidates.append(fromEnvironment);
        } else {
            const QString folder = executableFolder();
            candidates.append(folder + QStringLiteral("/glassmere-decoder"));
#ifdef GLASSMERE_DECODER_FROM_BIN
            candidates.append(QDir::cleanPath(
                folder + QStringLiteral("/" GLASSMERE_DECODER_FROM_BIN "/glassmere-decoder")));
#endif
        }
    }
    if (searched)
        *searched = candidates;
    for (const QString& candidate : candidates) {
        if (isExecutableFile(candidate))
            return QFileInfo(candidate).absoluteFilePath();
    }
    return {};
}

void setPictureDecoderProgram(const QString& program)
{
    {
        DecoderState& shared = state();
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.program = program;
        ++shared.generation;
    }
    endIdleDecoders();
}

bool loadPicture(const QString& path, fipImage& picture, QString* error, PixelMemory* memory)
{
    if (!QFileInfo::exists(path))
        return failWith(error, QString("No such file: %1").arg(path));
    const QByteArray name = QFile::encodeName(path);
    // Not blocking: a FIFO or a device under a picture's name must not stop the program.
    const int file = open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (file < 0)
        return failWith(error, QString("Cannot open %1: %2").arg(path, systemError(errno)));
    const FileCloser closer{file};
    struct stat info;
    if (fstat(file, &info) != 0)
        return failWith(error, QString("Cannot read %1: %2").arg(path, systemError(errno)));
    if (!S_ISREG(info.st_mode))
        return failWith(error, QString("Not a regular file: %1").arg(path));
    if (info.st_size == 0)
        return failWith(error, QStringLiteral("The file is empty"));
    return decodeOpenedFile(file, std::uint64_t(info.st_size), QFileInfo(path).fileName(), picture,
                            error, memory);
}

bool loadPictureStream(int stream, const QString& name, fipImage& picture, QString* error,
                       PixelMemory* memory)
{
    // The decoder maps a regular file: the stream's bytes are gathered in
    // memory that has the form of one, up to what a decoder may hold.
    const int file = memfd_create("glassmere-input", MFD_CLOEXEC);
    if (file < 0)
        return failWith(error, QString("Cannot read %1: %2").arg(name, systemError(errno)));
    const FileCloser closer{file};
    const std::uint64_t limit = pictureLimits().decoderMemory;
    std::uint64_t size = 0;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t got = read(stream, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return failWith(error, QString("Cannot read %1: %2").arg(name, systemError(errno)));
        if (got == 0)
            break;
        size += std::uint64_t(got);
        if (size >= limit)
            return failWith(error,
                            QStringLiteral("%1 holds more than the %2 Glassmere can use here")
                                .arg(name, describeBytes(limit)));
        if (!writeAll(file, buffer.data(), got))
            return failWith(error, QString("Cannot read %1: %2").arg(name, systemError(errno)));
    }
    if (size == 0)
        return failWith(error, QStringLiteral("%1 held no bytes").arg(name));
    return decodeOpenedFile(file, size, QString(), picture, error, memory);
}

namespace {

bool decodeOpenedFile(int file, std::uint64_t size, const QString& name, fipImage& picture,
                      QString* error, PixelMemory* memory)
{
    QStringList searched;
    const QString program = pictureDecoderProgram(&searched);
    if (program.isEmpty())
        return failWith(error,
                        QStringLiteral("Glassmere's picture decoder glassmere-decoder is missing "
                                       "(looked for %1)")
                            .arg(searched.join(QStringLiteral(", "))));

    DecoderSetup setup;
    setup.program = QFile::encodeName(program);
    {
        DecoderState& shared = state();
        std::lock_guard<std::mutex> lock(shared.mutex);
        setup.generation = shared.generation;
    }
    DecoderJob job;
    job.file = file;
    job.fileBytes = size;
    job.name = QFile::encodeName(name);
    job.memory = memory;
    job.keep = static_cast<FIBITMAP*>(picture);

    QString reason;
    BitmapPtr bitmap = decodeInDecoderProcess(setup, pictureLimits(), job, &reason);
    if (!bitmap)
        return failWith(error, reason);
    picture = bitmap.release(); // takes ownership without a copy
    return true;
}

} // namespace

QString pictureDamage(const fipImage& picture)
{
    // fipImage hands out its bitmap only from a non-const object; nothing is changed.
    return recordedDamage(static_cast<FIBITMAP*>(const_cast<fipImage&>(picture)));
}
