#include "image_io.h"

#include "decoder_process.h"
#include "picture_decoding.h"
#include "standard_bitmap.h"

#include <FreeImagePlus.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

thread_local QString lastMessage;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

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
    PictureLimits limits;
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

} // namespace

QString lastFreeImageMessage()
{
    return lastMessage;
}

std::uint64_t availableMemory()
{
    std::uint64_t available = readNumber("/proc/meminfo", "MemAvailable:", 1024);
    if (available == 0) {
        const long pages = sysconf(_SC_AVPHYS_PAGES);
        available = pages > 0 ? std::uint64_t(pages) * std::uint64_t(sysconf(_SC_PAGESIZE)) : 0;
    }
    // A container's limit is what the kernel enforces on this process.
    const std::uint64_t groupLimit = readNumber("/sys/fs/cgroup/memory.max", {}, 1);
    const std::uint64_t groupUsed = readNumber("/sys/fs/cgroup/memory.current", {}, 1);
    if (groupLimit > 0 && groupLimit > groupUsed)
        available = std::min(available, groupLimit - groupUsed);
    rlimit space;
    if (getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY) {
        const std::uint64_t used =
            readNumber("/proc/self/statm", {}, std::uint64_t(sysconf(_SC_PAGESIZE)));
        const std::uint64_t limit = std::uint64_t(space.rlim_cur);
        available = std::min(available, limit > used ? limit - used : 0);
    }
    return available;
}

PictureLimits defaultPictureLimits(std::uint64_t availableBytes)
{
    constexpr std::uint64_t megabyte = 1024 * 1024;
    const std::uint64_t budget = availableBytes / 2;
    PictureLimits limits;
    // Below these floors the machine is short of memory anyway; an ordinary
    // photograph (up to 16 megapixels) should still open.
    limits.maxPixels = std::clamp<std::uint64_t>(budget / 32, 16000000, std::uint64_t(1) << 30);
    limits.decoderMemory = std::max<std::uint64_t>(budget / 2, 512 * megabyte);
    limits.maxDecodedBytes = limits.decoderMemory;
    limits.timeLimitSeconds = 3;
    return limits;
}

PictureLimits pictureLimits()
{
    DecoderState& shared = state();
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (!shared.limitsSet) {
        shared.limits = defaultPictureLimits(availableMemory());
        shared.limitsSet = true;
    }
    return shared.limits;
}

void setPictureLimits(const PictureLimits& limits)
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

bool loadPicture(const QString& path, fipImage& picture, QString* error)
{
    FIBITMAP* dib = decodePicture(path, error);
    if (!dib)
        return false;
    picture = dib; // takes ownership
    return true;
}

FIBITMAP* decodePicture(const QString& path, QString* error)
{
    lastMessage.clear();
    auto fail = [error](const QString& why) -> FIBITMAP* {
        lastMessage = why;
        if (error)
            *error = why;
        return nullptr;
    };

    if (!QFileInfo::exists(path))
        return fail(QString("No such file: %1").arg(path));
    const QByteArray name = QFile::encodeName(path);
    // Not blocking: a FIFO or a device under a picture's name must not stop the program.
    const int file = open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (file < 0)
        return fail(QString("Cannot open %1: %2").arg(path, systemError(errno)));
    struct FileCloser {
        int file;
        ~FileCloser() { close(file); }
    } closer{file};
    struct stat info;
    if (fstat(file, &info) != 0)
        return fail(QString("Cannot read %1: %2").arg(path, systemError(errno)));
    if (!S_ISREG(info.st_mode))
        return fail(QString("Not a regular file: %1").arg(path));
    if (info.st_size == 0)
        return fail(QStringLiteral("The file is empty"));

    QStringList searched;
    const QString program = pictureDecoderProgram(&searched);
    if (program.isEmpty())
        return fail(QStringLiteral("Glassmere's picture decoder glassmere-decoder is missing "
                                   "(looked for %1)")
                        .arg(searched.join(QStringLiteral(", "))));

    const PictureLimits limits = pictureLimits();
    DecoderSetup setup;
    setup.program = QFile::encodeName(program);
    setup.memoryLimit = limits.decoderMemory;
    {
        DecoderState& shared = state();
        std::lock_guard<std::mutex> lock(shared.mutex);
        setup.generation = shared.generation;
    }
    DecoderJob job;
    job.file = file;
    job.name = QFile::encodeName(QFileInfo(path).fileName());
    job.limits.maxPixels = limits.maxPixels;
    job.limits.maxDecodedBytes = limits.maxDecodedBytes;
    job.fileBytes = std::uint64_t(info.st_size);
    job.timeLimitSeconds = limits.timeLimitSeconds;

    QString reason;
    BitmapPtr bitmap = decodeInDecoderProcess(setup, job, &reason);
    if (!bitmap)
        return fail(reason);
    return bitmap.release();
}
