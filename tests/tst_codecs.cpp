// SPDX-License-Identifier: GPL-3.0-or-later
// The codecs' own cases, apart from the window: the readers over the layouts
// other programs write, the PNG writer's bands and their join, and its files
// read back by FreeImage, Qt and Glassmere's reader.
#include "imaging/decoder/image_io.h"
#include "imaging/pixels/pixel_memory.h"
#include "imaging/png/deflate_bands.h"
#include "imaging/png/png_writer.h"
#include "support/imagecompare.h"
#include "support/kernel_targets.h"
#include "support/reader_layouts.h"
#include "support/testpictures.h"

#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <random>
#include <set>
#include <zlib.h>

class TestCodecs : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    QString path(const QString& name) const { return folder.filePath(name); }
    QList<HostileFile> layouts;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(folder.isValid());
        layouts = writeReaderLayouts(folder.path());
    }

    // Every layout decodes, through the decoder, to the picture worked out
    // from its bytes; the damaged ones tell their damage, the one of a kind
    // not read fails with its reason.
    void readerLayoutsDecode_data()
    {
        QTest::addColumn<HostileFile>("file");
        for (const HostileFile& file : layouts)
            QTest::newRow(qPrintable(file.name)) << file;
    }

    void readerLayoutsDecode()
    {
        QFETCH(HostileFile, file);
        QString reason;
        fipImage decoded;
        const bool loaded = loadPicture(path(file.name), decoded, &reason);
        verifyDecoded(file, loaded, decoded, reason);
    }

    // The PNG writer's walk over a band's deflate finds the last block and the
    // last bit where zlib's inflate finds them, over every kind of block.
    void deflateWalkAgreesWithZlib_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("kind"); // 0 noise, 1 zeros, 2 a few values, 3 text
        QTest::newRow("stored blocks, level 0") << 0 << 200000 << 0;
        QTest::newRow("stored blocks, noise") << 6 << 300000 << 0;
        QTest::newRow("fixed codes, a few bytes") << 6 << 40 << 3;
        QTest::newRow("dynamic codes, long matches") << 1 << 900000 << 1;
        QTest::newRow("dynamic codes, level 1") << 1 << 900000 << 2;
        QTest::newRow("dynamic codes, level 12") << 12 << 300000 << 3;
    }

    void deflateWalkAgreesWithZlib()
    {
        QFETCH(int, level);
        QFETCH(int, size);
        QFETCH(int, kind);
        std::minstd_rand random(7);
        std::vector<std::uint8_t> data(std::size_t(size), 0);
        for (std::uint8_t& byte : data)
            byte = std::uint8_t(kind == 0   ? random() >> 7
                                : kind == 2 ? random() % 7 * 5
                                : kind == 3 ? "glassmere "[random() % 10]
                                            : 0);
        PixelBlock scratch;
        const DeflatedBand band =
            deflateBand(makeCompressor(level).get(), data.data(), data.size(), false, scratch);

        z_stream zlib{};
        QCOMPARE(inflateInit2(&zlib, -MAX_WBITS), Z_OK);
        std::vector<Bytef> output(1 << 16);
        zlib.next_in = const_cast<Bytef*>(band.deflated.data());
        zlib.avail_in = uInt(band.deflated.size());
        std::uint64_t lastBlock = 0, end = 0;
        for (int status = Z_OK; status == Z_OK;) {
            zlib.next_out = output.data();
            zlib.avail_out = uInt(output.size());
            status = inflate(&zlib, Z_BLOCK);
            const std::uint64_t at = std::uint64_t(zlib.total_in) * 8 - (zlib.data_type & 63);
            if (status == Z_OK && (zlib.data_type & 128)) // at a block's end; 64: the last one's
                (zlib.data_type & 64 ? end : lastBlock) = at;
        }
        inflateEnd(&zlib);
        QCOMPARE(band.lastBlockBit, lastBlock);
        QCOMPARE(band.endBit, end);
    }

    // Every kind of picture the renderer produces, written by encodePng, reads
    // back with the same pixels in FreeImage, in Glassmere's own PNG reader
    // and in Qt.
    void pngWriterRoundTrips_data()
    {
        QTest::addColumn<unsigned>("width");
        QTest::addColumn<unsigned>("height");
        QTest::addColumn<unsigned>("bitsPerPixel");
        QTest::addColumn<int>(
            "alpha"); // -1: the gradient's own alpha, -4: noise, else every pixel's
        QTest::addColumn<int>("colourType"); // 2 RGB, 6 RGBA
        QTest::newRow("24 bits, 1 x 1") << 1u << 1u << 24u << -1 << 2;
        QTest::newRow("32 bits, 1 x 1") << 1u << 1u << 32u << -1 << 6;
        QTest::newRow("24 bits, odd width") << 333u << 17u << 24u << -1 << 2;
        // Lines padded by more than a filter byte: read in place, the rows start further in.
        QTest::newRow("24 bits, 7 wide") << 7u << 5u << 24u << -1 << 2;
        QTest::newRow("32 bits, odd width") << 101u << 9u << 32u << -1 << 6;
        QTest::newRow("32 bits, all opaque: RGB") << 57u << 8u << 32u << 255 << 2;
        QTest::newRow("32 bits, all clear") << 40u << 3u << 32u << 0 << 6;
        QTest::newRow("24 bits, every filter") << 250u << 60u << 24u << -2 << 2;
        QTest::newRow("32 bits, every filter") << 131u << 60u << 32u << -2 << 6;
        QTest::newRow("24 bits, large: bands on every core") << 2001u << 1500u << 24u << -1 << 2;
        QTest::newRow("32 bits, large: bands on every core") << 1999u << 1201u << 32u << -1 << 6;
        // Noise deflates into stored blocks, which read right only at their own alignment.
        QTest::newRow("32 bits, noise: stored blocks in every band")
            << 1500u << 800u << 32u << -4 << 6;
    }

    void pngWriterRoundTrips()
    {
        QFETCH(unsigned, width);
        QFETCH(unsigned, height);
        QFETCH(unsigned, bitsPerPixel);
        QFETCH(int, alpha);
        QFETCH(int, colourType);
        const bool everyFilter = alpha <= -2;
        fipImage picture = everyFilter ? rowsForEveryFilter(width, height, bitsPerPixel)
                                       : makeGradientPicture(width, height, bitsPerPixel);
        for (unsigned y = 0; alpha >= 0 && y < height; ++y)
            for (unsigned x = 0; x < width; ++x)
                picture.getScanLine(y)[4 * x + FI_RGBA_ALPHA] = BYTE(alpha);
        std::minstd_rand noise(7);
        for (unsigned y = 0; alpha == -4 && y < height; ++y)
            for (unsigned i = 0; i < width * bitsPerPixel / 8; ++i)
                picture.getScanLine(y)[i] = BYTE(noise() >> 7);
        FreeImage_SetDotsPerMeterX(picture, 5906); // 150 dpi, not FreeImage's default 72

        QByteArray file;
        QString error;
        QVERIFY2(encodePng(picture, &file, &error), qPrintable(error));
        QCOMPARE(int(file.at(25)), colourType); // IHDR's colour type
        if (everyFilter)
            QCOMPARE(filtersUsed(file), (std::set<int>{0, 1, 2, 3, 4}));

        fipMemoryIO memory(reinterpret_cast<BYTE*>(file.data()), DWORD(file.size()));
        fipImage read;
        QVERIFY(read.loadFromMemory(memory));
        QVERIFY(read.isValid());
        QCOMPARE(FreeImage_GetDotsPerMeterX(read), 5906u);
        fipImage expected = picture;
        if (colourType == 2)
            QVERIFY(expected.convertTo24Bits());
        COMPARE_IMAGES(read, expected);

        // Glassmere's own reading, through the decoder, gives the same picture,
        // copied out or read in the memory it was decoded into.
        writeBytes(path("round-trip.png"), file);
        PixelMemory pictures;
        fipImage decoded;
        fipImage inMemory;
        QVERIFY(loadPicture(path("round-trip.png"), decoded, &error));
        QVERIFY(loadPicture(path("round-trip.png"), inMemory, &error, &pictures));
        QVERIFY(pictures.holds(inMemory.accessPixels()));
        for (fipImage* loaded : {&decoded, &inMemory}) {
            COMPARE_IMAGES(*loaded, expected);
            QCOMPARE(FreeImage_GetDotsPerMeterX(*loaded), 5906u);
        }

        COMPARE_IMAGES(QImage::fromData(file, "PNG").convertToFormat(QImage::Format_ARGB32),
                       straightImage(expected));
    }

    // The filters built for each instruction set choose and write the bytes
    // the weakest one does (on x86-64 the one-byte-at-a-time reference), for
    // rows of every filter.
    void pngFiltersOnEveryTarget_data()
    {
        QTest::addColumn<qint64>("target");
        for (const std::int64_t target : kernelTargets())
            QTest::newRow(hwy::TargetName(target)) << qint64(target);
    }

    void pngFiltersOnEveryTarget()
    {
        QFETCH(qint64, target);
        const std::int64_t weakest = kernelTargets().back();
        for (const unsigned bitsPerPixel : {24u, 32u}) {
            const fipImage picture =
                rowsForEveryFilter(bitsPerPixel == 24 ? 250 : 131, 60, bitsPerPixel);
            QByteArray file, reference;
            {
                const KernelTarget held(target);
                QVERIFY(encodePng(picture, &file));
            }
            {
                const KernelTarget held(weakest);
                QVERIFY(encodePng(picture, &reference));
            }
            QCOMPARE(filtersUsed(file), (std::set<int>{0, 1, 2, 3, 4}));
            QVERIFY2(file == reference, qPrintable(QString::number(bitsPerPixel)));
        }
    }

private:
    // Bands of rows, each made so that one filter predicts it exactly
    // (none: zeros; up: a repeat; sub: a ramp; average and Paeth: their own
    // prediction), built top-down in the file's byte order.
    static fipImage rowsForEveryFilter(unsigned width, unsigned height, unsigned bitsPerPixel)
    {
        const unsigned bpp = bitsPerPixel / 8;
        const std::size_t length = std::size_t(width) * bpp;
        std::vector<std::vector<int>> rows(height, std::vector<int>(length));
        quint32 seed = 7;
        auto random = [&seed] { return int((seed = seed * 1103515245u + 12345u) >> 16) & 0xff; };
        for (unsigned y = 0; y < height; ++y) {
            const int kind = int(y * 5 / height);
            for (std::size_t i = 0; i < length; ++i) {
                const int a = i >= bpp ? rows[y][i - bpp] : 0;
                const int b = y > 0 ? rows[y - 1][i] : 0;
                const int c = y > 0 && i >= bpp ? rows[y - 1][i - bpp] : 0;
                const bool seedByte = i < bpp || y % 12 == 0;
                int value = random();
                if (kind == 0)
                    value = 0;
                else if (kind == 1 && !seedByte)
                    value = (a + 3) & 0xff;
                else if (kind == 2 && y % 12 != 0)
                    value = b;
                else if (kind == 3 && !seedByte)
                    value = (a + b) / 2;
                else if (kind == 4 && !seedByte) {
                    const int pa = std::abs(b - c), pb = std::abs(a - c),
                              pc = std::abs(a + b - 2 * c);
                    value = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
                }
                rows[y][i] = value;
            }
        }
        fipImage picture(FIT_BITMAP, width, height, bitsPerPixel);
        const int order[4] = {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE, FI_RGBA_ALPHA};
        for (unsigned y = 0; y < height; ++y)
            for (std::size_t i = 0; i < length; ++i)
                picture.getScanLine(height - 1 - y)[i - i % bpp + std::size_t(order[i % bpp])] =
                    BYTE(rows[y][i]);
        return picture;
    }

    // The filter type of every row of a PNG file held in `file`.
    static std::set<int> filtersUsed(const QByteArray& file)
    {
        const int width = qFromBigEndian<qint32>(file.constData() + 16);
        const int height = qFromBigEndian<qint32>(file.constData() + 20);
        const int rowBytes = 1 + width * (file.at(25) == 6 ? 4 : 3);
        QByteArray stream;
        stream.resize(4);
        qToBigEndian<qint32>(rowBytes * height, stream.data()); // what qUncompress expects first
        for (qsizetype at = 8; at + 8 <= file.size();) {
            const qint32 length = qFromBigEndian<qint32>(file.constData() + at);
            if (file.mid(at + 4, 4) == "IDAT")
                stream += file.mid(at + 8, length);
            at += 12 + length;
        }
        const QByteArray rows = qUncompress(stream);
        std::set<int> used;
        for (qsizetype at = 0; at < rows.size(); at += rowBytes)
            used.insert(rows.at(at));
        return used;
    }
};

QTEST_MAIN(TestCodecs)
#include "tst_codecs.moc"
