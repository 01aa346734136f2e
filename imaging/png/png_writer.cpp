// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/png/png_writer.h"
#include "imaging/pixels/messages.h"
#include "imaging/pixels/pixel_words.h"
#include "imaging/pixels/work_share.h"
#include "imaging/png/deflate_bands.h"
#include "imaging/png/png_filters.h"

#include <FreeImagePlus.h>
#include <libdeflate.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

namespace {

// Bytes kept free before each raw row: the left neighbours of the first
// pixel, which the filters read as 0.
constexpr std::size_t rowLead = 32;

struct PictureShape {
    unsigned width = 0;
    unsigned height = 0;
    unsigned sourceBytes = 3; // per pixel in the bitmap: 3 or 4
    unsigned channels = 3;    // per pixel in the file: 3 (RGB) or 4 (RGBA)
    std::size_t rowBytes() const { return std::size_t(width) * channels; }
};

// FreeImage's scan line `line` (blue, green, red, alpha) as the file's RGB(A) bytes.
void convertRow(const fipImage& image, const PictureShape& shape, unsigned line, std::uint8_t* out)
{
    const std::uint8_t* in = image.getScanLine(line);
    if (shape.channels == 4)
        pixel_words::swapRedBlue<4, 4>(in, out, shape.width);
    else if (shape.sourceBytes == 4)
        pixel_words::swapRedBlue<4, 3>(in, out, shape.width);
    else
        pixel_words::swapRedBlue<3, 3>(in, out, shape.width);
}

// Filters the file's rows [first, end) (counted from the top) into `out`,
// each as its filter byte and the filtered bytes, row `first` at the start.
void filterRows(const fipImage& image, const PictureShape& shape, unsigned first, unsigned end,
                std::uint8_t* out)
{
    const std::size_t length = shape.rowBytes();
    std::vector<std::uint8_t> buffers(2 * (rowLead + length), 0);
    std::uint8_t* above = buffers.data() + rowLead;
    std::uint8_t* row = above + length + rowLead;
    // The first row of the file is filtered against a row of zeros.
    if (first > 0)
        convertRow(image, shape, shape.height - first, above);
    for (unsigned y = first; y < end; ++y, out += length + 1) {
        convertRow(image, shape, shape.height - 1 - y, row);
        png_filters::filterRow(row, above, length, shape.channels, out);
        std::swap(row, above);
    }
}

bool everyAlphaOpaque(const fipImage& image)
{
    const unsigned width = image.getWidth();
    for (unsigned line = 0; line < image.getHeight(); ++line) {
        const std::uint8_t* pixel = image.getScanLine(line) + FI_RGBA_ALPHA;
        std::uint8_t all = 0xFF;
        for (unsigned x = 0; x < width; ++x)
            all &= pixel[4 * x];
        if (all != 0xFF)
            return false;
    }
    return true;
}

// The sink failed: the file's writer knows why.
struct SinkFailed {};

// The file's bytes as they are made, each chunk as soon as it is complete;
// the pixels' stream in IDAT chunks of 256 KiB.
class PngOutput {
public:
    explicit PngOutput(const PngSink& sink) : sink_(sink) {}

    void chunk(const char* type, const void* data, std::size_t size)
    {
        std::uint8_t head[8];
        putBigEndian(head, std::uint32_t(size));
        std::memcpy(head + 4, type, 4);
        std::uint32_t crc = libdeflate_crc32(0, head + 4, 4);
        if (size > 0) // libdeflate takes a null buffer as a request for the initial value
            crc = libdeflate_crc32(crc, data, size);
        std::uint8_t tail[4];
        putBigEndian(tail, crc);
        put(head, 8);
        put(data, size);
        put(tail, 4);
    }
    void chunk(const char* type, const QByteArray& data)
    {
        chunk(type, data.constData(), std::size_t(data.size()));
    }
    void put(const void* data, std::size_t size)
    {
        if (size > 0 && !sink_(static_cast<const char*>(data), size))
            throw SinkFailed();
    }
    // The stream's bytes so far: every whole IDAT chunk of them goes out.
    void stream(std::vector<std::uint8_t>& pending, bool end)
    {
        constexpr std::size_t idatBytes = 1 << 18;
        std::size_t at = 0;
        for (; pending.size() - at >= idatBytes || (end && at < pending.size());
             at += std::min(idatBytes, pending.size() - at))
            chunk("IDAT", pending.data() + at, std::min(idatBytes, pending.size() - at));
        pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(at));
    }

private:
    const PngSink& sink_;
};

// `data` as one zlib stream in one piece. A compressor that cannot be had fails
// the file, rather than leave a chunk without its data.
QByteArray zlibCompress(const void* data, std::size_t size, int level)
{
    Compressor compressor(libdeflate_alloc_compressor(level));
    if (!compressor)
        throw std::bad_alloc(); // at a valid level, its one failure
    QByteArray stream(qsizetype(libdeflate_zlib_compress_bound(compressor.get(), size)),
                      Qt::Uninitialized);
    const std::size_t written = libdeflate_zlib_compress(compressor.get(), data, size,
                                                         stream.data(), std::size_t(stream.size()));
    stream.truncate(qsizetype(written));
    return stream;
}

// The chunks between IHDR and the pixels, in the order libpng writes them
// for FreeImage: iCCP, bKGD, pHYs, tIME, iTXt.
void writeAncillaryChunks(PngOutput& file, const fipImage& image)
{
    FIBITMAP* dib = static_cast<FIBITMAP*>(const_cast<fipImage&>(image));
    const FIICCPROFILE* profile = FreeImage_GetICCProfile(dib);
    // The profile's name, its end and compression method 0 (zlib), then the profile deflated.
    if (profile && profile->size > 0 && profile->data)
        file.chunk("iCCP", QByteArray("Embedded Profile\0\0", 18) +
                               zlibCompress(profile->data, profile->size, 6));
    RGBQUAD background;
    if (FreeImage_HasBackgroundColor(dib) && FreeImage_GetBackgroundColor(dib, &background)) {
        const std::uint8_t body[6] = {0, background.rgbRed, 0, background.rgbGreen,
                                      0, background.rgbBlue};
        file.chunk("bKGD", body, sizeof body);
    }
    const unsigned dotsX = FreeImage_GetDotsPerMeterX(dib);
    const unsigned dotsY = FreeImage_GetDotsPerMeterY(dib);
    if (dotsX > 0 && dotsY > 0) {
        std::uint8_t body[9];
        putBigEndian(body, dotsX);
        putBigEndian(body + 4, dotsY);
        body[8] = 1; // the unit is the metre
        file.chunk("pHYs", body, sizeof body);
    }
    FITAG* tag = nullptr;
    if (FreeImage_GetMetadata(FIMD_EXIF_MAIN, dib, "DateTime", &tag) && tag &&
        FreeImage_GetTagLength(tag) > 0) {
        int year, month, day, hour, minute, second;
        const char* value = static_cast<const char*>(FreeImage_GetTagValue(tag));
        if (std::sscanf(value, "%4d:%02d:%02d %2d:%02d:%02d", &year, &month, &day, &hour, &minute,
                        &second) == 6 &&
            year >= 0 && year <= 65535 && month >= 1 && month <= 12 && day >= 1 && day <= 31 &&
            hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 60) {
            const std::uint8_t body[7] = {std::uint8_t(year >> 8), std::uint8_t(year),
                                          std::uint8_t(month),     std::uint8_t(day),
                                          std::uint8_t(hour),      std::uint8_t(minute),
                                          std::uint8_t(second)};
            file.chunk("tIME", body, sizeof body);
        }
    }
    // Uncompressed iTXt: keyword, compression flag and method, empty language and translation.
    auto appendText = [&file](const char* keyword, FITAG* text) {
        const QByteArray name(keyword);
        if (name.isEmpty() || name.size() > 79)
            return;
        const char* value = static_cast<const char*>(FreeImage_GetTagValue(text));
        const std::size_t length = value ? strnlen(value, FreeImage_GetTagLength(text)) : 0;
        file.chunk("iTXt", name + QByteArray(5, '\0') + QByteArray(value, qsizetype(length)));
    };
    FIMETADATA* comments = FreeImage_FindFirstMetadata(FIMD_COMMENTS, dib, &tag);
    if (comments) {
        do
            appendText(FreeImage_GetTagKey(tag), tag);
        while (FreeImage_FindNextMetadata(comments, &tag));
        FreeImage_FindCloseMetadata(comments);
    }
    tag = nullptr;
    if (FreeImage_GetMetadata(FIMD_XMP, dib, "XMLPacket", &tag) && tag &&
        FreeImage_GetTagLength(tag) > 0)
        appendText("XML:com.adobe.xmp", tag);
}

// The first of the rows of part `i` of `count` of `height` rows, as even as
// whole rows allow: part i holds rows [partStart(i), partStart(i + 1)).
unsigned partStart(unsigned height, std::size_t i, std::size_t count)
{
    return unsigned(std::uint64_t(height) * i / count);
}

// How many bands of about 4 MB of filtered bytes the rows are deflated in,
// apart and on every core. Each costs a few hundred bytes of file (its
// deflate starts with no history) and a walk of its deflate: a tenth of the
// deflate at level 6, but about as much as the deflate itself at level 1,
// which only a large picture earns back (smaller ones are one band, its rows
// still filtered on every core). The plan depends on the picture alone, so a
// picture gives the same file on any number of cores.
std::size_t planBands(unsigned height, std::size_t lineBytes, int level)
{
    constexpr std::size_t bandBytes = std::size_t(4) << 20;
    constexpr std::size_t smallestBandedAtFastLevels = std::size_t(16) << 20;
    const std::size_t total = lineBytes * height;
    std::size_t count = (total + bandBytes - 1) / bandBytes;
    if (level < 6 && total < smallestBandedAtFastLevels)
        count = 1;
    return std::clamp<std::size_t>(count, 1, height);
}

// Runs task(index, worker) for every index below `count` on up to `threads`
// threads (work_share.h), each free worker taking the next index. The first
// failure is thrown here.
template <typename Task> void runTasks(std::size_t count, unsigned threads, const Task& task)
{
    threads = unsigned(std::clamp<std::size_t>(threads, 1, count));
    std::atomic<std::size_t> next{0};
    std::vector<std::exception_ptr> failures(threads);
    shareWork(threads, [&](unsigned worker) {
        try {
            for (std::size_t i; (i = next++) < count;)
                task(i, worker);
        } catch (...) {
            failures[worker] = std::current_exception();
            next = count; // the others stop at their next task
        }
    });
    for (const std::exception_ptr& failure : failures)
        if (failure)
            std::rethrow_exception(failure);
}

// The filtered rows as one zlib stream into `file`'s IDAT chunks, each band
// as soon as those before it are out. Bands are filtered and deflated by
// whichever thread is free; the rows of a single band are filtered on every
// thread and deflated in one piece.
void filterAndDeflate(const fipImage& image, const PictureShape& shape, int level, unsigned threads,
                      PngOutput& file)
{
    const std::size_t lineBytes = shape.rowBytes() + 1;
    const std::size_t bands = planBands(shape.height, lineBytes, level);
    std::vector<std::uint8_t> pending;
    ZlibJoin join(level, pending);
    if (bands == 1) {
        const std::size_t total = lineBytes * shape.height;
        PixelBlock rows;
        if (!rows.reserve(total))
            throw std::bad_alloc();
        const std::size_t slices =
            total < (std::size_t(1) << 20) ? 1 : std::max(1u, std::min(threads, shape.height / 16));
        runTasks(slices, threads, [&](std::size_t i, unsigned) {
            const unsigned first = partStart(shape.height, i, slices);
            filterRows(image, shape, first, partStart(shape.height, i + 1, slices),
                       rows.data() + first * lineBytes);
        });
        PixelBlock scratch;
        join.add(deflateBand(makeCompressor(level).get(), rows.data(), total, true, scratch), true,
                 pending);
        file.stream(pending, true);
        return;
    }
    struct Worker {
        Compressor compressor;
        PixelBlock filtered;
        PixelBlock deflated;
    };
    std::vector<Worker> workers(threads);
    // A band is ready once its deflate is in `done`: no deflate is empty.
    std::vector<DeflatedBand> done(bands);
    std::size_t next = 0; // the first band not yet in the file
    std::mutex order;
    runTasks(bands, threads, [&](std::size_t i, unsigned index) {
        Worker& worker = workers[index];
        if (!worker.compressor)
            worker.compressor = makeCompressor(level);
        const unsigned first = partStart(shape.height, i, bands);
        const unsigned end = partStart(shape.height, i + 1, bands);
        const std::size_t size = lineBytes * (end - first);
        if (!worker.filtered.reserve(size))
            throw std::bad_alloc();
        filterRows(image, shape, first, end, worker.filtered.data());
        DeflatedBand deflated = deflateBand(worker.compressor.get(), worker.filtered.data(), size,
                                            i + 1 == bands, worker.deflated);
        const std::lock_guard<std::mutex> lock(order);
        done[i] = std::move(deflated);
        for (; next < bands && !done[next].deflated.empty(); ++next) {
            const bool last = next + 1 == bands;
            join.add(done[next], last, pending);
            done[next] = DeflatedBand();
            file.stream(pending, last);
        }
    });
}

} // namespace

bool pngWriterTakes(const fipImage& image)
{
    if (!image.isValid() || image.getImageType() != FIT_BITMAP)
        return false;
    const unsigned bpp = image.getBitsPerPixel();
    if (bpp == 24)
        return true;
    // FreeImage refuses a 32-bit picture marked CMYK; leave that to it.
    const FIICCPROFILE* profile =
        FreeImage_GetICCProfile(static_cast<FIBITMAP*>(const_cast<fipImage&>(image)));
    return bpp == 32 && !(profile && (profile->flags & FIICC_COLOR_IS_CMYK));
}

bool encodePng(const fipImage& image, QByteArray* out, QString* error, const PngEncoding& how)
{
    out->clear();
    const bool encoded = encodePng(
        image,
        [out](const char* data, std::size_t size) {
            out->append(data, qsizetype(size));
            return true;
        },
        error, how);
    if (!encoded)
        out->clear();
    return encoded;
}

bool encodePng(const fipImage& image, const PngSink& sink, QString* error, const PngEncoding& how)
{
    if (!pngWriterTakes(image))
        return failWith(error, QStringLiteral("The PNG writer takes 24- and 32-bit pictures only"));

    PictureShape shape;
    shape.width = image.getWidth();
    shape.height = image.getHeight();
    shape.sourceBytes = image.getBitsPerPixel() / 8;
    shape.channels = shape.sourceBytes == 4 && !everyAlphaOpaque(image) ? 4 : 3;
    // The default level: the fastest whose files stay within 3 % of FreeImage's
    // default size on photographs (bench_png measures it).
    const int level = how.level > 0 ? how.level : shape.channels == 4 ? 6 : 1;

    try {
        PngOutput file(sink);
        file.put("\x89PNG\r\n\x1a\n", 8);
        std::uint8_t header[13];
        putBigEndian(header, shape.width);
        putBigEndian(header + 4, shape.height);
        header[8] = 8;                            // bits per sample
        header[9] = shape.channels == 4 ? 6 : 2;  // RGBA or RGB
        header[10] = header[11] = header[12] = 0; // deflate, adaptive filters, not interlaced
        file.chunk("IHDR", header, sizeof header);
        writeAncillaryChunks(file, image);
        filterAndDeflate(image, shape, level,
                         how.threads > 0 ? unsigned(how.threads) : workBudget(), file);
        file.chunk("IEND", nullptr, 0);
        return true;
    } catch (const std::bad_alloc&) {
        return failWith(error, QStringLiteral("Not enough memory to encode the picture as PNG"));
    } catch (const std::runtime_error&) {
        return failWith(error, QStringLiteral("The PNG compressor failed"));
    } catch (const SinkFailed&) {
        return failWith(error, QStringLiteral("The PNG file could not be written"));
    }
}
