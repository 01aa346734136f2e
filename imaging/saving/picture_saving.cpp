// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/saving/picture_saving.h"

#include "imaging/pixels/format_names.h"
#include "imaging/pixels/messages.h"
#include "imaging/pixels/work_share.h"
#include "imaging/png/png_writer.h"
#include "imaging/saving/avif_writing.h"
#include "imaging/saving/result_quality.h"
#include "imaging/saving/save_temporaries.h"

#include <FreeImagePlus.h>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

FREE_IMAGE_FORMAT formatOf(const QString& path)
{
    return formatFromFileName(path);
}

// A trial encode of a small picture in memory, once per format and depth.
bool encoderTakes(FREE_IMAGE_FORMAT format, unsigned bitsPerPixel)
{
    static std::mutex mutex;
    static std::map<std::pair<int, unsigned>, bool> known;
    const std::lock_guard<std::mutex> lock(mutex);
    const auto key = std::make_pair(int(format), bitsPerPixel);
    if (const auto found = known.find(key); found != known.end())
        return found->second;

    bool takes = false;
    // 64 x 64: the icon writer refuses pictures below 16 x 16, the JPEG 2000
    // writers below 32 x 32 (for their resolution levels); none refuses this size.
    if (FIBITMAP* trial = FreeImage_Allocate(64, 64, int(bitsPerPixel))) {
        if (FIMEMORY* memory = FreeImage_OpenMemory()) {
            takes = FreeImage_SaveToMemory(format, trial, memory, 0) == TRUE;
            FreeImage_CloseMemory(memory);
        }
        FreeImage_Unload(trial);
    }
    known.emplace(key, takes);
    return takes;
}

// FreeImage's save flags for `format`: JPEG and WebP as the quality rule
// says (result_quality.h), JPEG with optimised Huffman tables; 0 for the rest.
int encoderFlags(FREE_IMAGE_FORMAT format, FIBITMAP* dib, const QualityChoice& asked)
{
    if (format != FIF_JPEG && format != FIF_WEBP)
        return 0;
    const SourceQuality source = recordedSourceQuality(dib);
    if (format == FIF_WEBP) {
        const ResultQuality how = resultQuality(source, TargetCoding::LossyOrLossless, asked);
        return how.lossless ? WEBP_LOSSLESS : how.quality;
    }
    const ResultQuality how = resultQuality(source, TargetCoding::LossyOnly, asked);
    int flags = how.quality | JPEG_OPTIMIZE;
    switch (how.sampling) {
    case ChromaSampling::Half:
        flags |= JPEG_SUBSAMPLING_422;
        break;
    case ChromaSampling::Quarter:
        flags |= JPEG_SUBSAMPLING_420;
        break;
    default:
        flags |= JPEG_SUBSAMPLING_444;
        break;
    }
    if (how.progressive)
        flags |= JPEG_PROGRESSIVE;
    return flags;
}

// A new, empty file with a short random name in `folder`, created as every
// program creates files (mode 0666, which the kernel narrows by the umask or
// the folder's default ACL); -1 with errno set on failure.
int createTemporary(const QByteArray& folder, QByteArray* name)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray candidate = folder + "/.glassmere-";
        for (int i = 0; i < 8; ++i)
            candidate += letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)];
        candidate += ".tmp";
        const int file =
            ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (file >= 0 || errno != EEXIST) {
            *name = candidate;
            return file;
        }
    }
    errno = EEXIST;
    return -1;
}

// The file a chain of links ends at (the name itself when it is no link),
// or an empty text when the chain goes round, as the kernel counts it.
QString endOfLinks(const QString& path)
{
    QFileInfo named(path);
    for (int links = 0; named.isSymLink(); ++links) {
        if (links == 40)
            return {};
        named.setFile(named.symLinkTarget());
    }
    return named.absoluteFilePath();
}

// fsync, where the file system has one: some (a few FUSE ones) answer EINVAL.
bool flushToDisk(int file)
{
    return ::fsync(file) == 0 || errno == EINVAL;
}

} // namespace

bool writeAll(int file, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(file, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (written == 0) { // no progress and no error: treat as a full disk
            errno = ENOSPC;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool formatStores(const fipImage& image, const QString& path, QString* why)
{
    if (!image.isValid())
        return failWith(why, QStringLiteral("there is no picture"));
    const QFileInfo file(path);
    if (file.isDir())
        return failWith(why, QStringLiteral("%1 is a folder").arg(path));
    const FREE_IMAGE_FORMAT format = formatOf(path);
    const QString suffix = file.suffix();
    if (suffix.isEmpty())
        return failWith(why, QStringLiteral("the name has no extension to choose a format by"));
    if (isAvifName(path))
        return image.getImageType() == FIT_BITMAP &&
                       (image.getBitsPerPixel() == 24 || image.getBitsPerPixel() == 32)
                   ? true
                   : failWith(why, QStringLiteral("AVIF cannot store a %1-bit picture")
                                       .arg(image.getBitsPerPixel()));
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsWriting(format))
        return failWith(
            why,
            QStringLiteral("no format that Glassmere writes has the extension \"%1\"").arg(suffix));
    if (!FreeImage_FIFSupportsExportType(format, image.getImageType()) ||
        !FreeImage_FIFSupportsExportBPP(format, image.getBitsPerPixel()) ||
        !encoderTakes(format, image.getBitsPerPixel()))
        return failWith(why, QStringLiteral("%1 cannot store a %2-bit picture%3")
                                 .arg(suffix.toUpper())
                                 .arg(image.getBitsPerPixel())
                                 .arg(image.isTransparent() ? QStringLiteral(" with transparency")
                                                            : QString()));
    return true;
}

bool encodePicture(const fipImage& image, const QString& path, QByteArray* bytes, QString* error,
                   const QualityChoice& asked)
{
    bytes->resize(0); // its memory kept for the file
    return encodePicture(
        image, path,
        [bytes](const char* data, qsizetype size) {
            bytes->append(data, size);
            return true;
        },
        error, asked);
}

bool encodePicture(const fipImage& image, const QString& path, const FileSink& sink, QString* error,
                   const QualityChoice& asked)
{
    captureFreeImageMessages();
    clearFreeImageMessages();
    auto fail = [error](QString reason) {
        const QString said = freeImageMessages();
        if (!said.isEmpty())
            reason += QStringLiteral(" (%1)").arg(said);
        return failWith(error, reason);
    };
    if (!image.isValid())
        return fail(QStringLiteral("There is no picture to save"));
    if (isAvifName(path)) {
        QByteArray file;
        // As the quality rule says; lossless as lossless as the encoder gets.
        const ResultQuality how = resultQuality(recordedSourceQuality(const_cast<fipImage&>(image)),
                                                TargetCoding::LossyOrLossless, asked);
        return encodeAvif(image, how.lossless ? avifLossless : how.quality, &file, error,
                          int(workBudget())) &&
               (sink(file.constData(), file.size()) ||
                fail(QStringLiteral("The file could not be written")));
    }
    // The pictures Glassmere renders go through its own, faster PNG writer,
    // which hands the file over band by band as it is deflated: a large
    // result is never held encoded as a whole.
    if (formatOf(path) == FIF_PNG && pngWriterTakes(image))
        return encodePng(
            image,
            [&sink](const char* data, std::size_t size) { return sink(data, qsizetype(size)); },
            error);

    FIMEMORY* memory = FreeImage_OpenMemory();
    if (!memory)
        return fail(QStringLiteral("Out of memory while encoding the picture"));
    struct MemoryCloser {
        FIMEMORY* memory;
        ~MemoryCloser() { FreeImage_CloseMemory(memory); }
    } closer{memory};

    auto* bitmap = static_cast<FIBITMAP*>(const_cast<fipImage&>(image));
    const FREE_IMAGE_FORMAT format = formatOf(path);
    if (!FreeImage_SaveToMemory(format, bitmap, memory, encoderFlags(format, bitmap, asked)))
        return fail(QStringLiteral("%1 cannot store this %2 × %3, %4-bit picture")
                        .arg(QFileInfo(path).suffix().toUpper())
                        .arg(image.getWidth())
                        .arg(image.getHeight())
                        .arg(image.getBitsPerPixel()));
    BYTE* data = nullptr;
    DWORD size = 0;
    if (!FreeImage_AcquireMemory(memory, &data, &size) || size == 0)
        return fail(QStringLiteral("The encoder wrote nothing"));
    if (!sink(reinterpret_cast<const char*>(data), qsizetype(size)))
        return fail(QStringLiteral("The file could not be written"));
    return true;
}

bool writeFileSafely(const QString& path, QByteArrayView bytes, QString* error)
{
    return writeFileSafely(
        path, [bytes](const FileSink& sink, QString*) { return sink(bytes.data(), bytes.size()); },
        error);
}

bool writeFileSafely(const QString& path, const FileProducer& produce, QString* error)
{
    // Replace the file a chain of links leads to, not a link on the way.
    const QString targetPath = endOfLinks(path);
    if (targetPath.isEmpty())
        return failWith(error, QStringLiteral("Cannot write %1: %2").arg(path, systemError(ELOOP)));
    const QByteArray target = QFile::encodeName(targetPath);
    const QByteArray folder = QFile::encodeName(QFileInfo(targetPath).absolutePath());

    removeTemporariesWhenInterrupted();
    removeAbandonedTemporaries(folder);
    QByteArray temporary;
    const int file = createTemporary(folder, &temporary);
    if (file < 0)
        return failWith(error, QStringLiteral("Cannot write in %1: %2")
                                   .arg(QFile::decodeName(folder), systemError(errno)));
    const HeldTemporary held(temporary, file);

    // Every step up to the rename may fail; the target is untouched until then.
    const char* failedStep = nullptr;
    int failure = 0;
    auto check = [&](bool done, const char* step) {
        if (!done && !failedStep) {
            failedStep = step;
            failure = errno;
        }
        return done;
    };
    QString produceError;
    const FileSink sink = [&](const char* data, qsizetype size) {
        return check(writeAll(file, data, size), "Cannot write %1: %2");
    };
    const bool produced = produce(sink, &produceError);
    if (!produced && !failedStep)
        failedStep = "";
    if (produced) {
        // Best effort: file systems without Unix modes (FAT) refuse it.
        struct stat existing;
        if (::stat(target.constData(), &existing) == 0)
            (void)::fchmod(file, existing.st_mode & 07777);
        check(flushToDisk(file), "Cannot write %1 to the disk: %2");
    }
    // Network file systems may report a failed write only here.
    check(::close(file) == 0, "Cannot write %1: %2");
    if (!failedStep)
        check(::rename(temporary.constData(), target.constData()) == 0, "Cannot replace %1: %2");
    if (failedStep) {
        ::unlink(temporary.constData());
        return failWith(error,
                        *failedStep
                            ? QString::fromLatin1(failedStep).arg(targetPath, systemError(failure))
                            : produceError);
    }

    // The rename is durable only once the folder's entry is on the disk.
    const int directory = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool flushed = directory >= 0 && flushToDisk(directory);
    const int flushError = errno;
    if (directory >= 0)
        ::close(directory);
    if (!flushed)
        return failWith(error, QStringLiteral("%1 was written, but its folder could not be "
                                              "flushed to the disk: %2")
                                   .arg(targetPath, systemError(flushError)));
    return true;
}

bool savePicture(const fipImage& image, const QString& path, QString* error,
                 const QualityChoice& asked)
{
    if (!image.isValid())
        return failWith(error, QStringLiteral("There is no picture to save"));
    QString why;
    if (!formatStores(image, path, &why))
        return failWith(error,
                        QStringLiteral("Cannot write %1: %2").arg(QFileInfo(path).fileName(), why));
    return writeFileSafely(
        path,
        [&](const FileSink& sink, QString* reason) {
            return encodePicture(image, path, sink, reason, asked);
        },
        error);
}
