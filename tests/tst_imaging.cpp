// Opening and saving through the window, with the real dialogs driven by the
// test and real files written by FreeImage.

#include "app/globals.h"
#include "imaging/image_io.h"
#include "imaging/picture_saving.h"
#include "support/carriedpictures.h"
#include "support/dialogdriver.h"
#include "support/imagecompare.h"
#include "support/testaccess.h"
#include "support/testpictures.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

class TestImaging : public QObject {
    Q_OBJECT

    QTemporaryDir folder;
    QString path(const QString& name) const { return folder.filePath(name); }

    QString writeGradient(const QString& name, unsigned bpp = 24, unsigned w = 31, unsigned h = 20)
    {
        fipImage picture = makeGradientPicture(w, h, bpp);
        writePicture(picture, path(name));
        return path(name);
    }

    // Presses `button` (open or save), answers its file dialog with `file` and
    // the box that may follow; returns what the box said (see MessageBoxCatcher), "" when none
    // came.
    QString through(QAbstractButton* button, const QString& file)
    {
        MessageBoxCatcher box;
        box.expect<QFileDialog>([&](QFileDialog* dialog) {
            dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
            acceptFileDialog(dialog, file);
        });
        button->click();
        return box.answered ? box.said : "no file dialog";
    }
    bool open(Glassmere& window, const QString& file)
    {
        return through(A::ui(window).btAddPic, file).isEmpty();
    }

    // Presses `button` and rejects its file dialog; returns the dialog's title,
    // selected filter and filters.
    static QStringList lookAtDialog(QAbstractButton* button)
    {
        QStringList seen;
        DialogDriver driver;
        driver.expect<QFileDialog>([&](QFileDialog* dialog) {
            seen = QStringList{dialog->windowTitle(), dialog->selectedNameFilter()} +
                   dialog->nameFilters();
            dialog->reject();
        });
        button->click();
        return seen;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(folder.isValid());
        applicationFolder = folder.path();
        skinFile = folder.filePath("no-skin-here");
    }

    void openingNormalisesEveryKindOfPicture_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<unsigned>("depth");
        QTest::addColumn<bool>("transparent");

        auto add = [this](const char* name, fipImage picture, unsigned depth, bool transparent) {
            writePicture(picture, path(name));
            QTest::newRow(name) << path(name) << depth << transparent;
        };
        fipImage palette(FIT_BITMAP, 13, 9, 8);
        BYTE table[256];
        std::fill(std::begin(table), std::end(table), BYTE(255));
        table[0] = 0; // index 0 fully transparent
        palette.setTransparencyTable(table, 256);
        add("palette-trns.png", palette, 32, true);
        add("rgba16.png", fipImage(FIT_RGBA16, 13, 9, 64), 32, true);
        add("light.hdr", fipImage(FIT_RGBF, 13, 9, 96), 24, false);
    }

    void openingNormalisesEveryKindOfPicture()
    {
        QFETCH(QString, file);
        QFETCH(unsigned, depth);
        QFETCH(bool, transparent);
        Glassmere window;
        const QString box = through(A::ui(window).btAddPic, file);
        QVERIFY2(box.isEmpty(), qPrintable(box));
        const fipImage& source = A::source(window);
        QCOMPARE(source.getImageType(), FIT_BITMAP);
        QCOMPARE(source.getBitsPerPixel(), depth);
        QCOMPARE(bool(source.isTransparent()), transparent);
        QCOMPARE(A::ui(window).lbDim->text(), QString("13*9"));
    }

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
        QVERIFY(open(window, path(name)));
        QCOMPARE(through(A::ui(window).btSavePic, path("saved-" + name)),
                 QString("Success|Image has been saved.||"));
        QCOMPARE(describeResult(path("saved-" + name)), expected);
        const QStringList size = expected.section(' ', 0, 0).split('x');
        QCOMPARE(A::ui(window).lbDim->text(), size[0] + "*" + QString::number(size[1].toInt() / 2));
    }

    void labelsDescribeTheFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("fileSize");
        QTest::addColumn<QString>("shown"); // name|type|size
        QTest::newRow("dots in the name") << "a.b.png" << 123456 << "a.b|PNG|120.56KB";
        QTest::newRow("no dot") << "noext" << 2048 << "noext||2KB";
    }

    void labelsDescribeTheFile()
    {
        QFETCH(QString, name);
        QFETCH(int, fileSize);
        QFETCH(QString, shown);
        // A PNG padded after its end chunk has an exact size and still decodes.
        QFile file(path(name));
        file.remove();
        QVERIFY(QFile::rename(writeGradient("label-source.png", 24, 6, 4), file.fileName()));
        QVERIFY(file.open(QIODevice::Append) && file.size() < fileSize);
        file.write(QByteArray(int(fileSize - file.size()), '\0'));
        file.close();

        Glassmere window;
        QVERIFY(open(window, file.fileName()));
        const auto& ui = A::ui(window);
        QCOMPARE(ui.lbName->text() + "|" + ui.lbType->text() + "|" + ui.lbSize->text(), shown);
    }

    void cancelledOrFailedOpenKeepsThePreviousPicture()
    {
        Glassmere window;
        auto& ui = A::ui(window);
        QVERIFY(open(window, writeGradient("good.png", 24, 31, 20)));
        const QString labels = ui.lbName->text() + ui.lbDim->text();
        const fipImage before = A::result(window);

        // The filter text ends in a line feed, which the dialog shows as no further entry.
        QStringList seen = lookAtDialog(ui.btAddPic);
        seen.removeAll(QString());
        const QString all = "All Images(*.bmp *.jpg *.jpeg *jpe *.png *.ico *.gif *.tiff *.tif "
                            "*.tga *.pcx *.wbmp *.psd *.mng *.jng *.raw *.ras)";
        QCOMPARE(seen, (QStringList{"Load a picture", all, all}));

        // Recognised as PNG by its signature, but cut short: decoding fails.
        writeBytes(path("broken.png"), fileBytes(path("good.png")).left(60));
        const QString failure = through(ui.btAddPic, path("broken.png"));
        QVERIFY2(failure.startsWith("Failure|Image loads error.||"), qPrintable(failure));
        QVERIFY(failure.size() > QString("Failure|Image loads error.||").size()); // the reason
        QCOMPARE(ui.lbName->text() + ui.lbDim->text(), labels);
        COMPARE_IMAGES(A::result(window), before);

        // A later settings change still renders the previous picture.
        ui.checkBoxLeft->setChecked(true);
        QCOMPARE(A::result(window).getWidth(), 31u + 12u);
        QCOMPARE(A::result(window).getHeight(), 20u);
    }

    void saveDialogOffersTheFormats_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("transparency");
        QTest::addColumn<QString>("filter"); // the one selected
        QTest::newRow("the picture's type") << "photo.JPG" << false << "jpg(*.jpg)";
        QTest::newRow("transparency mode") << "photo.JPG" << true << "png(*.png)";
        QTest::newRow("nothing loaded: the first") << "" << false << "png(*.png)";
    }

    void saveDialogOffersTheFormats()
    {
        QFETCH(QString, file);
        QFETCH(bool, transparency);
        QFETCH(QString, filter);
        Glassmere window;
        if (!file.isEmpty())
            QVERIFY(open(window, writeGradient(file)));
        A::ui(window).cbTransparent->setChecked(transparency);
        const QStringList seen = lookAtDialog(A::ui(window).btSavePic);
        QCOMPARE(seen.mid(0, 3), (QStringList{"Save Image", filter, "png(*.png)"}));
        QCOMPARE(seen.size(), 2 + 26);
        QCOMPARE(seen.last(), QString("raw(*.raw)"));
    }

    // A refused or failed save leaves the file already there as it was; a
    // replaced file keeps its mode, a new one gets 0666 less the umask.
    void saving_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("transparency");
        QTest::addColumn<int>("mask"); // umask; -1: an older file with mode 0640 is there
        QTest::newRow("png, 32 bits, over a file") << "saved.png" << true << -1;
        QTest::newRow("jpg, new under umask 077") << "saved.jpg" << false << 077;
        QTest::newRow("jpg cannot store 32 bits: refused") << "saved.jpg" << true << -1;
        QTest::newRow("wmf: the library cannot write it") << "saved.wmf" << false << -1;
        QTest::newRow("a 255-byte name") << QString(251, 'n') + ".png" << false << 022;
    }

    void saving()
    {
        QFETCH(QString, name);
        QFETCH(bool, transparency);
        QFETCH(int, mask);
        Glassmere window;
        QVERIFY(open(window, writeGradient("source.png", 24, 96, 64)));
        A::ui(window).cbTransparent->setChecked(transparency);

        // The reference is the library writing the same result straight to a fresh file.
        const QString reference = path("reference." + QFileInfo(name).suffix());
        const QString target = path(name);
        QFile::remove(reference);
        QFile::remove(target);
        if (mask < 0) {
            writeBytes(target, "an older file");
            QVERIFY(QFile::setPermissions(target,
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        }
        const mode_t usualMask = ::umask(mask < 0 ? 022 : mode_t(mask));
        auto restoreMask = qScopeGuard([&] { ::umask(usualMask); });
        const bool libraryWrites = A::result(window).save(QFile::encodeName(reference).constData());
        const QString box = through(A::ui(window).btSavePic, target);
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
        QCOMPARE(fileBytes(target), fileBytes(reference));
        struct stat written;
        QVERIFY(::stat(QFile::encodeName(target).constData(), &written) == 0);
        QCOMPARE(written.st_mode & 0777, mask < 0 ? 0640u : 0666u & ~unsigned(mask));
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
        fipImage older = makeGradientPicture(30, 20, 24);
        writePicture(older, kept);
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
};

QTEST_MAIN(TestImaging)
#include "tst_imaging.moc"
