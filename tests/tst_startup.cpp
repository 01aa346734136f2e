// Start-up: the files the program refuses to run without, the translation
// installed before the window, centring, and the exit code.

#include "app/globals.h"
#include "app/startup.h"
#include "mainwindow/glassmere.h"
#include "support/chrometest_urlsink.h"
#include "support/dialogdriver.h"

#include <QGroupBox>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

class TestStartup : public QObject {
    Q_OBJECT

    ChromeUrlSink sink;

private Q_SLOTS:
    void init() { sink.urls.clear(); }

    void refusesWithoutItsFiles_data()
    {
        QTest::addColumn<bool>("withSkin");
        QTest::addColumn<bool>("withTranslation");
        QTest::newRow("neither file") << false << false;
        QTest::newRow("translation missing") << true << false;
        QTest::newRow("skin missing") << false << true;
    }

    void refusesWithoutItsFiles()
    {
        QFETCH(bool, withSkin);
        QFETCH(bool, withTranslation);
        QTemporaryDir folder;
        if (withSkin)
            QFile(folder.filePath("skin")).open(QIODevice::WriteOnly);
        if (withTranslation)
            QFile(folder.filePath("app_zh.qm")).open(QIODevice::WriteOnly);

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
        QCOMPARE(runGlassmere(*qApp, folder.path()), 0);
        QCOMPARE(driver.answered, 1);
        QCOMPARE(title, QString("error"));
        QCOMPARE(text, QString("Error"));
        QCOMPARE(buttons, 1);
        QCOMPARE(sink.urls, QList<QUrl>{QUrl(homePageAddress)});
        for (QWidget* widget : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<Glassmere*>(widget));
    }

    void startsWithItsFiles_data()
    {
        QTest::addColumn<bool>("skinIsFolder");
        QTest::addColumn<bool>("translated");
        QTest::addColumn<QString>("title");
        QTest::newRow("skin and translation") << false << true << QString::fromUtf8("设置");
        // Only existence is asked for: a folder reads as no style sheet, an
        // empty file as no translation.
        QTest::newRow("folder named skin, empty translation") << true << false << "Setting";
    }

    // The window is built with the translation installed, the program's exit
    // code is the event loop's, and the translator goes with the window.
    void startsWithItsFiles()
    {
        QFETCH(bool, skinIsFolder);
        QFETCH(bool, translated);
        QFETCH(QString, title);
        QTemporaryDir folder;
        if (skinIsFolder)
            QVERIFY(QDir(folder.path()).mkdir("skin"));
        else
            QFile(folder.filePath("skin")).open(QIODevice::WriteOnly);
        if (translated)
            QVERIFY(QFile::copy(TEST_TRANSLATION, folder.filePath("app_zh.qm")));
        else
            QFile(folder.filePath("app_zh.qm")).open(QIODevice::WriteOnly);

        bool shown = false;
        QString settingTitle;
        QTimer::singleShot(200, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* window = qobject_cast<Glassmere*>(widget)) {
                    shown = window->isVisible();
                    settingTitle = window->findChild<QGroupBox*>("groupBox_5")->title();
                }
            }
            QCoreApplication::exit(7);
        });
        QCOMPARE(runGlassmere(*qApp, folder.path()), 7);
        qApp->setStyleSheet(QString());
        QVERIFY(shown);
        QCOMPARE(settingTitle, title);
        QVERIFY(sink.urls.isEmpty());
        QCOMPARE(skinFile, folder.filePath("skin"));
        QCOMPARE(applicationFolder, folder.path());
        QCOMPARE(QCoreApplication::translate("GlassmereClass", "Setting"), QString("Setting"));
    }

    void centring_data()
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

    void centring()
    {
        QFETCH(QSize, screen);
        QFETCH(QSize, window);
        QFETCH(QPoint, position);
        QCOMPARE(centredPosition(screen, window), position);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
