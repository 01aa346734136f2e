// SPDX-License-Identifier: GPL-3.0-or-later
// Opening and saving through the window, with the real dialogs driven by the
// test and real files written by FreeImage.

#include "imaging/decoder/image_io.h"
#include "imaging/decoding/picture_decoding.h"
#include "imaging/saving/picture_saving.h"
#include "imaging/saving/save_temporaries.h"
#include "support/carriedpictures.h"
#include "support/dialogdriver.h"
#include "support/imagecompare.h"
#include "support/modern_pictures.h"
#include "support/testaccess.h"
#include "support/testpictures.h"

#include <QColorSpace>
#include <QFileDialog>
#include <QImage>
#include <QLineEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

class TestImaging : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    QString path(const QString& name) const { return folder.filePath(name); }

    // Presses `button` and cancels its file dialog; returns the filter the
    // dialog had selected, or what a box that came said.
    static QString cancel(QAbstractButton* button)
    {
        QString filter;
        MessageBoxCatcher box;
        box.expect<QFileDialog>([&](QFileDialog* dialog) {
            // The filter selected and the name suggested, in the folder it starts at.
            filter = dialog->selectedNameFilter() + " " +
                     QDir(dialog->directory().absolutePath())
                         .filePath(dialog->findChild<QLineEdit*>("fileNameEdit")->text());
            dialog->reject();
        });
        button->click();
        return box.said.isEmpty() ? filter : box.said;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(folder.isValid()); }

    // The window shows and saves the picture upright, with its profile and
    // resolution and without its EXIF and GPS (see describeResult).
    void savedResultCarriesWhatThePictureCarries_data() { addCarriedPictureRows(folder.path()); }

    void savedResultCarriesWhatThePictureCarries()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        Glassmere window;
        A::ui(window).refSize->setValue(100); // a full, unfaded mirror
        A::ui(window).refDepth->setValue(100);
        QCOMPARE(chooseFile(A::ui(window).btAddPic, path(name)), QString());
        QCOMPARE(chooseFile(A::ui(window).btSavePic, path("saved-" + name)),
                 QString("Success|Image has been saved.||"));
        QCOMPARE(describeResult(path("saved-" + name)), expected);
        const QStringList size = expected.section(' ', 0, 0).split('x');
        QCOMPARE(A::ui(window).lbDim->text(), size[0] + "*" + QString::number(size[1].toInt() / 2));
    }

    // Phone and web pictures open in the window upright, at their shown size,
    // with the pixels of their format's reference decoder (within ±2 on every
    // channel) and their profile: the file's own, or Display P3's for an nclx
    // description of its primaries, none for sRGB; glassmere-cli's results too.
    void phoneAndWebPicturesOpen_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("made");                  // the error of the tool that made it
        QTest::addColumn<QString>("expected");              // "WxH bits", then " p3" for Display P3
        fipImage photo = makeGradientPicture(504, 378, 24); // smooth, as photographs are
        QVERIFY(photo.rescale(4032, 3024, FILTER_BILINEAR));
        const fipImage small = makeGradientPicture(300, 200, 24);
        const fipImage clear = makeGradientPicture(300, 200, 32);
        const QByteArray p3 = QColorSpace(QColorSpace::DisplayP3).iccProfile();
        auto row = [this](const char* title, const QString& name, const QString& made,
                          const QString& expected) {
            QTest::newRow(title) << path(name) << made << expected;
        };
        row("HEIC from heif-enc, 4032 x 3024", "photo.heic",
            encodeWithTool(photo, path("photo.heic"), "heif-enc",
                           {"-q", "85", "-p", "preset=ultrafast"}),
            "4032x3024 24");
        writeTurnedHeic(small, path("turned.heic"));
        row("HEIC turned a quarter, with an EXIF orientation too", "turned.heic", "", "200x300 24");
        row("HEIC with a Display P3 profile", "p3.heic",
            encodeWithTool(small, path("p3.heic"), "heif-enc", {}, p3), "300x200 24 p3");
        row("AVIF with Display P3 primaries in nclx", "nclx.avif",
            encodeWithTool(small, path("nclx.avif"), "avifenc", {"-s", "8", "--cicp", "12/13/6"}),
            "300x200 24 p3");
        fipImage wide = small;
        QVERIFY(wide.convertToRGB16());
        row("HEIC, 10 bits", "deep.heic",
            encodeWithTool(wide, path("deep.heic"), "heif-enc", {"-b", "10"}), "300x200 24");
        row("AVIF with alpha from avifenc", "clear.avif",
            encodeWithTool(clear, path("clear.avif"), "avifenc", {"-s", "8"}), "300x200 32");
        row("AVIF, 12 bits", "deep.avif",
            encodeWithTool(wide, path("deep.avif"), "avifenc", {"-s", "8", "-d", "12"}),
            "300x200 24");
        row("JPEG XL, lossless", "lossless.jxl",
            encodeWithTool(clear, path("lossless.jxl"), "cjxl", {"-d", "0"}), "300x200 32");
        row("JPEG XL, lossy, with a Display P3 profile", "lossy.jxl",
            encodeWithTool(small, path("lossy.jxl"), "cjxl", {"-d", "1"}, p3), "300x200 24 p3");
    }

    void phoneAndWebPicturesOpen()
    {
        QFETCH(QString, name);
        QFETCH(QString, made);
        QFETCH(QString, expected);
        QVERIFY2(made.isEmpty(), qPrintable(made));
        fipImage picture;
        QString error;
        QVERIFY2(loadPicture(name, picture, &error), qPrintable(error));
        const QByteArray profile = profileOf(picture);
        QString got = QString("%1x%2 %3")
                          .arg(picture.getWidth())
                          .arg(picture.getHeight())
                          .arg(picture.getBitsPerPixel());
        if (!profile.isEmpty())
            got += QColorSpace::fromIccProfile(profile) == QColorSpace(QColorSpace::DisplayP3)
                       ? " p3"
                       : " other profile";
        QCOMPARE(got, expected);
        const fipImage reference = referenceDecode(name);
        QVERIFY(reference.isValid());
        const int difference = largestDifference(picture, reference);
        QVERIFY2(difference >= 0 && difference <= 2, qPrintable(QString::number(difference)));
        // glassmere-cli with no reflection writes the same picture, its profile
        // kept in a PNG and, when opaque, in a JPEG.
        for (const QString& result : {name + ".png", name + ".jpg"}) {
            if (result.endsWith(".jpg") && picture.getBitsPerPixel() == 32)
                continue;
            const ProgramRun run =
                runProgram(GLASSMERE_BIN_DIR "/glassmere-cli", {"--size", "0", name, result});
            QVERIFY2(run.exitCode == 0, run.describe());
            QCOMPARE(QImage(result).colorSpace().iccProfile(), profile);
        }
        QCOMPARE(largestDifference(readPicture(name + ".png"), reference), difference);
        // Its decode may take the time its size needs: 3 kB of it can hold 200 megapixels.
        const QByteArray bytes = fileBytes(name);
        PixelsPerByte density = PixelsPerByte::Bounded;
        decodePictureData(
            reinterpret_cast<const unsigned char*>(bytes.constData()), std::size_t(bytes.size()),
            name, pictureLimits(),
            [&](std::uint64_t, std::uint64_t, PixelsPerByte told) { density = told; });
        QCOMPARE(decodeTimeLimit(3, 3000, 200000000, density), 53);

        Glassmere window;
        QCOMPARE(chooseFile(A::ui(window).btAddPic, name), QString());
        QCOMPARE(A::ui(window).lbDim->text(), expected.section(' ', 0, 0).replace('x', '*'));
    }

    // AVIF results read back through avifdec: colour and transparency, exact
    // when lossless (a picture made here comes from no lossy file), close at a
    // lossy quality; the profile stays with them.
    void avifResults_data()
    {
        QTest::addColumn<unsigned>("bits");
        QTest::addColumn<bool>("profile");
        QTest::addColumn<int>("quality"); // asked; 0: the rule's lossless
        QTest::newRow("colour, lossless") << 24u << false << 0;
        QTest::newRow("transparency, with a profile, lossless") << 32u << true << 0;
        QTest::newRow("transparency, with a profile, quality 90") << 32u << true << 90;
    }

    void avifResults()
    {
        QFETCH(unsigned, bits);
        QFETCH(bool, profile);
        QFETCH(int, quality);
        fipImage result = makeGradientPicture(1600, 1200, bits);
        QByteArray p3 = QColorSpace(QColorSpace::DisplayP3).iccProfile();
        if (profile)
            FreeImage_CreateICCProfile(result, p3.data(), p3.size());
        const QString target = path(QString("result-%1-%2.avif").arg(bits).arg(quality));
        QString error;
        QVERIFY2(savePicture(result, target, &error, QualityChoice{quality, false}),
                 qPrintable(error));
        const fipImage back = referenceDecode(target);
        QCOMPARE(back.getBitsPerPixel(), bits);
        fipImage decoded;
        QVERIFY(loadPicture(target, decoded, &error));
        QCOMPARE(profileOf(decoded), profile ? p3 : QByteArray());
        if (quality == 0) {
            QCOMPARE(largestDifference(result, back), 0);
            QCOMPARE(largestDifference(result, decoded), 0);
            return;
        }
        double squares = 0;
        const unsigned bytes = result.getWidth() * bits / 8;
        for (unsigned y = 0; y < result.getHeight(); ++y)
            for (unsigned i = 0; i < bytes; ++i)
                squares += std::pow(result.getScanLine(y)[i] - back.getScanLine(y)[i], 2.0);
        const double psnr = 10 * std::log10(255.0 * 255.0 * bytes * result.getHeight() / squares);
        QVERIFY2(psnr > 40, qPrintable(QString::number(psnr)));
    }

    // The labels describe the opened file; the save dialog selects its type (or
    // PNG for transparency, or the first); cancelling either dialog changes nothing.
    void labelsAndSaveDialog_data()
    {
        QTest::addColumn<QString>("name"); // empty: nothing opened
        QTest::addColumn<int>("fileSize");
        QTest::addColumn<bool>("transparency");
        QTest::addColumn<QString>("shown");  // see A::labels
        QTest::addColumn<QString>("filter"); // the one selected, and the name suggested
        QTest::newRow("dots in the name") << "a.b.png" << 123456 << false << "a.b|PNG|120.56KB|12*8"
                                          << "png(*.png) @/a.b-reflected.png";
        QTest::newRow("no dot") << "noext" << 2048 << false << "noext||2KB|12*8"
                                << "png(*.png) @/noext-reflected.png";
        QTest::newRow("the picture's type")
            << "photo.JPG" << 20480 << false << "photo|JPG|20KB|12*8"
            << "jpg(*.jpg) @/photo-reflected.jpg";
        QTest::newRow("a web picture's type: after the 26 entries")
            << "shot.avif" << 4096 << false << "shot|AVIF|4KB|12*8"
            << "avif(*.avif) @/shot-reflected.avif";
        QTest::newRow("transparency mode") << "photo.JPG" << 20480 << true << "photo|JPG|20KB|12*8"
                                           << "png(*.png) @/photo-reflected.png";
        QTest::newRow("a long name, shortened")
            << "a-very-long-name-for-one-picture-of-a-shoe.png" << 2048 << false
            << "a-very-long-name-for-one-picture-of-a-shoe|PNG|2KB|12*8 (shortened)"
            << "png(*.png) @/a-very-long-name-for-one-picture-of-a-shoe-reflected.png";
        QTest::newRow("nothing opened: no result, Save disabled") << "" << 0 << false << "|||"
                                                                  << "";
    }

    void labelsAndSaveDialog()
    {
        QFETCH(QString, name);
        QFETCH(int, fileSize);
        QFETCH(bool, transparency);
        QFETCH(QString, shown);
        QFETCH(QString, filter);
        Glassmere window;
        if (!name.isEmpty()) {
            // A PNG padded after its end chunk has an exact size and still decodes.
            writePicture(makeGradientPicture(12, 8, 24), path("label-source.png"));
            const QByteArray png = fileBytes(path("label-source.png"));
            QVERIFY(png.size() < fileSize);
            writeBytes(path(name), png + QByteArray(fileSize - png.size(), '\0'));
            QCOMPARE(chooseFile(A::ui(window).btAddPic, path(name)), QString());
        }
        // A name too long for its label ends in an ellipsis where the label
        // ends; the tool tip holds it whole.
        const auto labels = [&window] {
            const QLabel* label = A::ui(window).lbName;
            const bool fits = label->fontMetrics().horizontalAdvance(label->text()) <=
                              label->contentsRect().width();
            return (fits ? label->toolTip() : "cut") + "|" + A::labels(window).section('|', 1) +
                   (label->text() == label->toolTip() ? "" : " (shortened)");
        };
        QCOMPARE(labels(), shown);
        A::ui(window).cbTransparent->setChecked(transparency);
        const fipImage before(A::result(window));
        QCOMPARE(A::ui(window).btSavePic->isEnabled(), !name.isEmpty());
        QCOMPARE(cancel(A::ui(window).btSavePic), filter.replace("@", folder.path()));
        QVERIFY(!cancel(A::ui(window).btAddPic).contains('|')); // no box came
        COMPARE_IMAGES(A::result(window), before);
        QCOMPARE(labels(), shown);
    }

    // A refused or failed save leaves the file already there as it was; a
    // replaced file keeps its mode, a new one gets 0666 less the umask.
    void saving_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("transparency");
        QTest::addColumn<int>("mask");  // umask; -1: an older file with mode 0640 is there
        QTest::addColumn<int>("links"); // the name is the first of a chain of links to the file
        QTest::newRow("png, 32 bits, over a file") << "saved.png" << true << -1 << 0;
        QTest::newRow("typed without extension: the filter's added")
            << "saved" << false << 022 << 0;
        QTest::newRow("png, 24 bits, over a file") << "saved.png" << false << -1 << 0;
        QTest::newRow("jpg, new under umask 077") << "saved.jpg" << false << 077 << 0;
        QTest::newRow("jpg cannot store 32 bits: refused") << "saved.jpg" << true << -1 << 0;
        QTest::newRow("wmf: the library cannot write it") << "saved.wmf" << false << -1 << 0;
        QTest::newRow("a 255-byte name") << QString(251, 'n') + ".png" << false << 022 << 0;
        QTest::newRow("through a link") << "saved.png" << false << -1 << 1;
        QTest::newRow("through a chain of three links") << "saved.png" << false << -1 << 3;
    }

    void saving()
    {
        QFETCH(QString, name);
        QFETCH(bool, transparency);
        QFETCH(int, mask);
        QFETCH(int, links);
        Glassmere window;
        writePicture(makeGradientPicture(96, 64, 24), path("source.png"));
        QCOMPARE(chooseFile(A::ui(window).btAddPic, path("source.png")), QString());
        A::ui(window).cbTransparent->setChecked(transparency);

        // The reference is the library writing the same result straight to a fresh file.
        const QString typed = path(name);
        if (QFileInfo(name).suffix().isEmpty())
            name += ".png"; // the selected filter, the opened picture's type
        const QString reference = path("reference." + QFileInfo(name).suffix());
        const QString target = path(name);
        QFile::remove(reference);
        QFile::remove(target);
        // target -> link-1 -> ... -> the file, each in a folder of its own
        QStringList chain{target};
        for (int i = 1; i <= links; ++i) {
            chain.append(path(QString("chain-%1/%2").arg(i).arg(i < links ? "link" : name)));
            QDir(chain.last()).removeRecursively();
            QVERIFY(QDir().mkpath(QFileInfo(chain.last()).path()));
            QFile::remove(chain.last());
            QVERIFY(QFile::link(chain.last(), chain[i - 1]));
        }
        if (mask < 0) {
            writeBytes(chain.last(), "an older file");
            QVERIFY(QFile::setPermissions(chain.last(),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        }
        const mode_t usualMask = ::umask(mask < 0 ? 022 : mode_t(mask));
        auto restoreMask = qScopeGuard([&] { ::umask(usualMask); });
        // A JPEG of a picture from a lossless file: quality 90, full chroma, optimised tables.
        const int flags = name.endsWith(".jpg") ? 90 | JPEG_SUBSAMPLING_444 | JPEG_OPTIMIZE : 0;
        const bool libraryWrites =
            A::result(window).save(QFile::encodeName(reference).constData(), flags);
        const QString box = chooseFile(A::ui(window).btSavePic, typed);
        QVERIFY(!QApplication::overrideCursor()); // not busy any more
        QCOMPARE(QDir(folder.path()).entryList({".*"}, QDir::Hidden | QDir::Files),
                 QStringList()); // no temporary left behind
        if (!libraryWrites) {
            const QString failure = "Failure|Failed to save image.||";
            QVERIFY2(box.startsWith(failure) && box.size() > failure.size(), qPrintable(box));
            QCOMPARE(fileBytes(target), QByteArray("an older file"));
            return;
        }
        QCOMPARE(box, QString("Success|Image has been saved.||"));
        for (int i = 0; i < links; ++i) // every link stays, and leads where it led
            QCOMPARE(QFile::symLinkTarget(chain[i]), chain[i + 1]);
        if (name.endsWith(".png")) // Glassmere's own writer: the same pixels, other bytes
            COMPARE_IMAGES(readPicture(target), readPicture(reference));
        else
            QCOMPARE(fileBytes(target), fileBytes(reference));
        struct stat written;
        QVERIFY(::stat(QFile::encodeName(target).constData(), &written) == 0);
        QCOMPARE(written.st_mode & 0777, mask < 0 ? 0640u : 0666u & ~unsigned(mask));
        if (links > 0) { // the saving call itself, given the first link's name
            writeBytes(chain.last(), "an older file");
            QVERIFY(savePicture(A::result(window), target));
            for (int i = 0; i < links; ++i)
                QCOMPARE(QFile::symLinkTarget(chain[i]), chain[i + 1]);
            COMPARE_IMAGES(readPicture(chain.last()), readPicture(reference));
        }
    }

    // A save that cannot finish (a full disk, a write refused at the file's
    // handle) fails and leaves the file it was to replace as it was.
    void unfinishedSaveKeepsTheFile_data()
    {
        QTest::addColumn<bool>("fullDisk"); // else: a file size limit refuses the writes
        QTest::newRow("a full file system") << true;
        QTest::newRow("a write refused at the handle") << false;
    }

    void unfinishedSaveKeepsTheFile()
    {
        QFETCH(bool, fullDisk);
        const QString small = path("small-disk");
        QVERIFY(QDir().mkpath(small));
        auto unmount = qScopeGuard([&] { QProcess::execute("umount", {small}); });
        if (fullDisk &&
            QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=32k", "tmpfs", small}) != 0)
            QSKIP("no small file system can be mounted here");
        // PNG: FreeImage's own PNG writer does not check its writes.
        const QString kept = small + "/keep.png";
        writePicture(makeGradientPicture(30, 20, 24), kept);
        const QByteArray before = fileBytes(kept);

        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit usual = limit;
        limit.rlim_cur = fullDisk ? usual.rlim_cur : 16 * 1024;
        std::signal(SIGXFSZ, SIG_IGN); // the write fails with EFBIG instead of ending the test
        setrlimit(RLIMIT_FSIZE, &limit);
        QString error;
        const bool saved = savePicture(makeGradientPicture(1000, 800, 32), kept, &error);
        setrlimit(RLIMIT_FSIZE, &usual);

        QVERIFY(!saved);
        QVERIFY2(error.contains(fullDisk ? "No space left" : "File too large"), qPrintable(error));
        QCOMPARE(QDir(small).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.png"});
        QCOMPARE(fileBytes(kept), before);
    }

    // A save's temporary goes with the process that writes it: on every
    // signal it can catch, and at exit (the window exits when it loses its
    // display); a killed writer's is removed by the next save into the folder.
    void interruptedSaveLeavesNoTemporary_data()
    {
        QTest::addColumn<int>("signal"); // 0: exit(1)
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGQUIT") << int(SIGQUIT);
        QTest::newRow("exit, as on losing the display") << 0;
        QTest::newRow("SIGKILL: the next save removes it") << int(SIGKILL);
    }

    void interruptedSaveLeavesNoTemporary()
    {
        QFETCH(int, signal);
        const QString where = path("interrupted");
        QDir(where).removeRecursively();
        QVERIFY(QDir().mkpath(where));
        const QByteArray temporary = QFile::encodeName(where + "/.glassmere-abcd1234.tmp");
        const pid_t child = fork();
        if (child == 0) {
            // Alone, as in a program: not after the test framework's own handler.
            if (signal != 0 && signal != SIGKILL)
                std::signal(signal, SIG_DFL);
            removeTemporariesWhenInterrupted();
            const int file = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
            const HeldTemporary held(temporary, file);
            if (::write(file, "half a picture", 14) != 14)
                _exit(3);
            if (signal == 0)
                std::exit(1); // what Qt does when the display goes away
            ::kill(::getpid(), signal);
            ::pause();
            _exit(4);
        }
        // Waited for at once: Qt's own SIGCHLD handling would reap it otherwise.
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(signal == 0 ? WIFEXITED(status) && WEXITSTATUS(status) == 1
                             : WIFSIGNALED(status) && WTERMSIG(status) == signal,
                 qPrintable(QString::number(status)));
        // Beside the killed writer's, one that a save holds, and others' files.
        const int held = ::open(QFile::encodeName(where + "/.glassmere-held0000.tmp").constData(),
                                O_WRONLY | O_CREAT, 0600);
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0 && ::write(held, "x", 1) == 1);
        for (const char* name : {".glassmere-notes.txt", ".glassmere-ABCD1234.tmp", "a.tmp"})
            writeBytes(where + "/" + name, "not Glassmere's");
        QStringList others{".glassmere-ABCD1234.tmp", ".glassmere-held0000.tmp",
                           ".glassmere-notes.txt", "a.tmp"};
        QStringList left = others;
        if (signal == SIGKILL)
            left.append(".glassmere-abcd1234.tmp");
        left.sort();
        const QDir::Filters all = QDir::Files | QDir::Hidden;
        QCOMPARE(QDir(where).entryList(all, QDir::Name), left);
        QVERIFY(savePicture(makeGradientPicture(8, 6, 24), where + "/next.png"));
        ::close(held);
        QCOMPARE(QDir(where).entryList(all, QDir::Name), others + QStringList{"next.png"});
    }
};

QTEST_MAIN(TestImaging)
#include "tst_imaging.moc"
