// Start-up: the files the program refuses to run without, the translation
// installed before the window, centring, and the exit code.

#include "app/globals.h"
#include "app/startup.h"
#include "mainwindow/glassmere.h"
#include "support/chrometest_urlsink.h"
#include "support/dialogdriver.h"

#include <QGroupBox>
#include <QTemporaryDir>
#include <QTest>

class TestStartup : public QObject {
    Q_OBJECT

    ChromeUrlSink sink;

private Q_SLOTS:
    void init() { sink.urls.clear(); }

    void refusesWithoutItsFiles_data()
    {
        QTest::addColumn<QString>("present");
        QTest::newRow("neither file") << "";
        QTest::newRow("translation missing") << "skin";
        QTest::newRow("skin missing") << "app_zh.qm";
    }

    // One critical box, the home page, no window, exit code 0.
    void refusesWithoutItsFiles()
    {
        QFETCH(QString, present);
        QTemporaryDir folder;
        if (!present.isEmpty())
            QVERIFY(QFile(folder.filePath(present)).open(QIODevice::WriteOnly));
        MessageBoxCatcher box;
        QCOMPARE(runGlassmere(*qApp, folder.path()), 0);
        QCOMPARE(box.said, QString("error|Error||"));
        QCOMPARE(sink.urls, QList<QUrl>{QUrl(homePageAddress)});
        for (QWidget* widget : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<Glassmere*>(widget));
    }

    // The window is built with the translation installed, the exit code is the
    // event loop's, and the translator goes with the window.
    void startsTranslated()
    {
        QTemporaryDir folder;
        QVERIFY(QFile(folder.filePath("skin")).open(QIODevice::WriteOnly));
        QVERIFY(QFile::copy(TEST_TRANSLATION, folder.filePath("app_zh.qm")));
        QString settingTitle;
        QTimer::singleShot(200, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* window = qobject_cast<Glassmere*>(widget); window && window->isVisible())
                    settingTitle = window->findChild<QGroupBox*>("groupBox_5")->title();
            QCoreApplication::exit(7);
        });
        QCOMPARE(runGlassmere(*qApp, folder.path()), 7);
        qApp->setStyleSheet(QString());
        QCOMPARE(settingTitle, QString::fromUtf8("设置"));
        QVERIFY(sink.urls.isEmpty());
        QCOMPARE(skinFile, folder.filePath("skin"));
        QCOMPARE(QCoreApplication::translate("GlassmereClass", "Setting"), QString("Setting"));
    }

    void centring_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<QSize>("window");
        QTest::addColumn<QPoint>("position");
        QTest::newRow("odd difference") << QSize(1024, 768) << QSize(827, 627) << QPoint(98, 70);
        QTest::newRow("larger window, no clamping")
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
