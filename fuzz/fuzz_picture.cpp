// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target over a picture's whole road through Glassmere: decode and
// normalise (in this process, as glassmere-decoder does it), render the
// reflection, convert for the preview, save. Crashes and sanitizer reports
// anywhere on that road are findings; so are broken promises between the
// steps, which abort on purpose.
//
// Input: one byte that picks the file name's extension (which FreeImage falls
// back on when the data has no signature it knows: TGA, PICT, WBMP, ...),
// then the file's bytes. scripts/fuzz.sh builds and runs it; with
// GLASSMERE_FUZZ_PREPARE=<pictures>:<corpus> it only turns plain picture
// files into inputs and exits, and with GLASSMERE_FUZZ_UNPACK=<input>:<folder>
// it writes the picture an input stands for, under its name, into the folder
// and prints the file's path (to replay a finding through the program).

#include "imaging/decoder/image_io.h"
#include "imaging/decoding/picture_decoding.h"
#include "imaging/pixels/messages.h"
#include "imaging/pixels/standard_bitmap.h"
#include "imaging/preview/preview_image.h"
#include "imaging/saving/picture_saving.h"
#include "reflection/renderer/reflection_renderer.h"

#include <FreeImagePlus.h>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// Small enough that a header asking for more is refused, as the program
// refuses what it cannot hold; large enough for every seed.
DecodeLimits fuzzLimits()
{
    DecodeLimits limits;
    limits.bytesPerPixel24 = 1;
    limits.bytesPerPixel32 = 1;
    limits.memoryAvailable = 4000000; // pixels, at one byte each
    limits.decoderMemory = 256u << 20;
    return limits;
}

int formatCount()
{
    static const int count = FreeImage_GetFIFCount();
    return count;
}

QString nameFor(std::uint8_t selector)
{
    const auto format = FREE_IMAGE_FORMAT(selector % formatCount());
    const QString extension =
        QString::fromLatin1(FreeImage_GetFIFExtensionList(format)).section(',', 0, 0);
    return QStringLiteral("input.") + extension;
}

// Turns every file of `from` into an input in `to`: its format's selector byte, then its bytes.
int prepare(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    int count = 0;
    const QFileInfoList files = QDir(from).entryInfoList(QDir::Files);
    for (const QFileInfo& info : files) {
        QFile in(info.filePath());
        if (!in.open(QIODevice::ReadOnly))
            continue;
        FREE_IMAGE_FORMAT format =
            FreeImage_GetFIFFromFilename(QFile::encodeName(info.fileName()).constData());
        if (format == FIF_UNKNOWN)
            format = FIF_BMP;
        QFile out(to + QLatin1Char('/') + info.fileName());
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            continue;
        out.putChar(char(format));
        out.write(in.readAll());
        ++count;
    }
    std::printf("prepared %d inputs in %s\n", count, qPrintable(to));
    return count > 0 ? 0 : 1;
}

// Writes the picture that the input `from` stands for into the folder `to`.
int unpack(const QString& from, const QString& to)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly) || in.size() < 2)
        return 1;
    const QByteArray input = in.readAll();
    const QString name = QFileInfo(from).fileName() + QLatin1Char('.') +
                         nameFor(std::uint8_t(input[0])).section(QLatin1Char('.'), -1);
    QDir().mkpath(to);
    QFile out(to + QLatin1Char('/') + name);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(input.mid(1)) != input.size() - 1)
        return 1;
    std::printf("%s\n", qPrintable(out.fileName()));
    return 0;
}

// A promise between the steps was broken: a finding, with its reason.
[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

// The reflection's settings, drawn from the data so each input keeps its own.
ReflectionParams paramsFor(const std::uint8_t* data, size_t size)
{
    std::uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; i += 1 + size / 64)
        hash = (hash ^ data[i]) * 16777619u;
    ReflectionParams params;
    const Direction directions[] = {Direction::Top, Direction::Bottom, Direction::Left,
                                    Direction::Right};
    params.direction = directions[hash % 4];
    params.sizePercent = int((hash >> 3) % 101);
    params.unfadedPercent = int((hash >> 10) % 101);
    params.transparent = (hash >> 17) & 1;
    params.color = {int((hash >> 18) & 0xff), int((hash >> 21) & 0xff), int((hash >> 24) & 0xff)};
    return params;
}

const char* const savedFormats[] = {"png", "bmp", "tif", "tga", "jpg", "ppm", "webp", "gif"};

QString scratchFolder()
{
    // In memory where there is a memory file system: one file is written per input.
    static const std::unique_ptr<QTemporaryDir> folder(
        QDir(QStringLiteral("/dev/shm")).exists()
            ? new QTemporaryDir(QStringLiteral("/dev/shm/glassmere-fuzz-XXXXXX"))
            : new QTemporaryDir);
    return folder->path();
}

} // namespace

// With `variable` set to "<a>:<b>", ends the process with what `tool` returns for the two paths.
static void runToolFromEnvironment(const char* variable, const char* usage,
                                   int (*tool)(const QString&, const QString&))
{
    const QByteArray value = qgetenv(variable);
    if (value.isEmpty())
        return;
    const QList<QByteArray> paths = value.split(':');
    if (paths.size() != 2) {
        std::fprintf(stderr, "%s=%s\n", variable, usage);
        std::exit(2);
    }
    std::exit(tool(QFile::decodeName(paths[0]), QFile::decodeName(paths[1])));
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    runToolFromEnvironment("GLASSMERE_FUZZ_PREPARE", "<pictures>:<corpus>", prepare);
    runToolFromEnvironment("GLASSMERE_FUZZ_UNPACK", "<input>:<folder>", unpack);
    FreeImage_Initialise(FALSE);
    captureFreeImageMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const QString name = nameFor(data[0]);
    DecodeOutcome outcome = decodePictureData(data + 1, size - 1, name, fuzzLimits());
    if (!outcome.bitmap) {
        if (outcome.reason.isEmpty())
            broken("a failed decode without a reason");
        return 0;
    }

    // Decoding promises a standard bitmap: 32 bits exactly when it has transparency.
    FIBITMAP* decoded = outcome.bitmap.get();
    if (!isStandardBitmap(decoded))
        broken("the decoded picture is not a standard bitmap");
    const unsigned depth = FreeImage_GetBPP(decoded);
    if (depth != (FreeImage_IsTransparent(decoded) ? 32u : 24u))
        broken("the decoded picture's depth does not follow its transparency");
    const unsigned width = FreeImage_GetWidth(decoded);
    const unsigned height = FreeImage_GetHeight(decoded);
    if (std::uint64_t(width) * height > fuzzLimits().memoryAvailable)
        broken("a picture over the limits was decoded");

    fipImage source;
    source = outcome.bitmap.release();
    const ReflectionParams params = paramsFor(data, size);
    fipImage result;
    if (!renderReflection(source, result, params))
        broken("the renderer failed on a standard bitmap within the limits");

    const bool vertical =
        params.direction == Direction::Top || params.direction == Direction::Bottom;
    const unsigned strip = (vertical ? height : width) * unsigned(params.sizePercent) / 100;
    if (result.getWidth() != (vertical ? width : width + strip) ||
        result.getHeight() != (vertical ? height + strip : height))
        broken("the result's size is not the picture plus its strip");
    if (result.getBitsPerPixel() != (params.transparent ? 32u : depth))
        broken("the result's depth is not the one promised");

    const QImage shown = previewImage(result);
    if (shown.isNull() || shown.width() != int(result.getWidth()) ||
        shown.height() != int(result.getHeight()))
        broken("the preview does not show the whole result");

    const char* format = savedFormats[(size + width) % std::size(savedFormats)];
    const QString target = scratchFolder() + QStringLiteral("/result.") + QLatin1String(format);
    QString error;
    const bool saved = savePicture(result, target, &error);
    if (!saved && QLatin1String(format) == QLatin1String("png"))
        broken("PNG refused a standard bitmap");
    if (!saved && error.isEmpty())
        broken("a failed save without a reason");
    return 0;
}
