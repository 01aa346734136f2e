// Start-up: the files the program refuses to run without, the translation
// installed before the window, centring, and the exit code.

#include "app/globals.h"
#include "app/startup.h"
#include "mainwindow/glassmere.h"
#include "support/dialogdriver.h"

#include <QDesktopServices>
#include <QGroupBox>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

class UrlSink : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl& url) { opened.append(url); }
};

class TestStartup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void refusesWithoutItsFiles_data();
    void refusesWithoutItsFiles();
    void startsWithAFolderNamedSkin();
    void translationIsInstalledBeforeTheWindow();
    void centring_data();
    void centring();

private:
    UrlSink sink;
};

void TestStartup::initTestCase()
{
    QDesktopServices::setUrlHandler("https", &sink, "open");
    QDesktopServices::setUrlHandler("http", &sink, "open");
}

void TestStartup::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("http");
}

void TestStartup::refusesWithoutItsFiles_data()
{
    QTest::addColumn<bool>("withSkin");
    QTest::addColumn<bool>("withTranslation");
    QTest::newRow("neither file") << false << false;
    QTest::newRow("translation missing") << true << false;
    QTest::newRow("skin missing") << false << true;
}

void TestStartup::refusesWithoutItsFiles()
{
    QFETCH(bool, withSkin);
    QFETCH(bool, withTranslation);
    QTemporaryDir folder;
    if (withSkin)
        QFile(folder.filePath("skin")).open(QIODevice::WriteOnly);
    if (withTranslation)
        QFile(folder.filePath("app_zh.qm")).open(QIODevice::WriteOnly);
    sink.opened.clear();

    DialogDriver driver;
    QString title, text;
    int buttons = 0;
    driver.expect<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        buttons = box->buttons().size();
        QCOMPARE(box->icon(), QMessageBox::Critical);
        box->button(QMessageBox::Ok)->click();
    });
    const int exitCode = runGlassmere(*qApp, folder.path());

    QCOMPARE(exitCode, 0);
    QCOMPARE(driver.answered, 1);
    QCOMPARE(title, QString("error"));
    QCOMPARE(text, QString("Error"));
    QCOMPARE(buttons, 1);
    QCOMPARE(sink.opened, QList<QUrl>{QUrl(homePageAddress)});
    for (QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<Glassmere*>(widget));
}

void TestStartup::startsWithAFolderNamedSkin()
{
    // Only existence is tested, so a folder named "skin" lets the program start
    // (with the default look, since a folder reads as no style sheet).
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkdir("skin"));
    QFile(folder.filePath("app_zh.qm")).open(QIODevice::WriteOnly);
    sink.opened.clear();

    bool shown = false;
    QTimer::singleShot(200, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* window = qobject_cast<Glassmere*>(widget))
                shown = window->isVisible();
        QCoreApplication::exit(7);
    });
    QCOMPARE(runGlassmere(*qApp, folder.path()), 7); // the event loop's own result
    QVERIFY(shown);
    QVERIFY(sink.opened.isEmpty());
    QCOMPARE(skinFile, folder.filePath("skin"));
    QCOMPARE(applicationFolder, folder.path());
    qApp->setStyleSheet(QString());
}

void TestStartup::translationIsInstalledBeforeTheWindow()
{
    QTemporaryDir folder;
    QFile(folder.filePath("skin")).open(QIODevice::WriteOnly);
    QVERIFY(QFile::copy(TEST_TRANSLATION, folder.filePath("app_zh.qm")));

    QString settingTitle;
    QTimer::singleShot(200, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* window = qobject_cast<Glassmere*>(widget))
                settingTitle = window->findChild<QGroupBox*>("groupBox_5")->title();
        QCoreApplication::exit(0);
    });
    QCOMPARE(runGlassmere(*qApp, folder.path()), 0);
    QCOMPARE(settingTitle, QString::fromUtf8("设置"));
    // The translator goes with the window: nothing stays translated afterwards.
    QCOMPARE(QCoreApplication::translate("GlassmereClass", "Setting"), QString("Setting"));
}

void TestStartup::centring_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QPoint>("position");
    QTest::newRow("smaller window") << QSize(1920, 1080) << QSize(827, 627) << QPoint(546, 226);
    QTest::newRow("odd difference") << QSize(1024, 768) << QSize(827, 627) << QPoint(98, 70);
    QTest::newRow("3 pixels larger truncates to -1")
        << QSize(800, 600) << QSize(803, 603) << QPoint(-1, -1);
    QTest::newRow("much larger, no clamping")
        << QSize(800, 600) << QSize(827, 627) << QPoint(-13, -13);
}

void TestStartup::centring()
{
    QFETCH(QSize, screen);
    QFETCH(QSize, window);
    QFETCH(QPoint, position);
    QCOMPARE(centredPosition(screen, window), position);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
