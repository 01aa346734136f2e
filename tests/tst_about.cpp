// The about box: the texts it builds from the program's constants, the links
// it hands to the desktop and the ways it closes.

#include "app/globals.h"
#include "support/chrometest_urlsink.h"
#include "support/chrometest_watch.h"
#include "widgets/about.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTranslator>

namespace {

// Renders the product name in one context as `translation`, as an installed
// translation would; everything else stays untranslated.
class OneEntryTranslator : public QTranslator {
public:
    OneEntryTranslator(QByteArray context, QString translation)
        : context_(std::move(context)), translation_(std::move(translation))
    {
    }
    QString translate(const char* context, const char* sourceText, const char*, int) const override
    {
        return context_ == context && qstrcmp(sourceText, "Glassmere") == 0 ? translation_
                                                                            : QString();
    }
    bool isEmpty() const override { return false; }

private:
    QByteArray context_;
    QString translation_;
};

template <class T> T* child(QWidget& box, const char* name)
{
    T* widget = box.findChild<T*>(QString::fromLatin1(name));
    if (!widget)
        qFatal("the about box has no %s", name);
    return widget;
}

} // namespace

class TestAbout : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void formAndTexts();
    void translatedTitle();
    void links_data();
    void links();
    void closes_data();
    void closes();
};

void TestAbout::formAndTexts()
{
    about box(nullptr);
    // A popup: no frame, and a click outside closes it.
    QCOMPARE(box.windowType(), Qt::Popup);
    QVERIFY(box.parentWidget() == nullptr);
    QCOMPARE(box.windowTitle(), QString("About"));
    QVERIFY(!box.windowIcon().isNull());
    const QPixmap banner = child<QLabel>(box, "label")->pixmap();
    QVERIFY(!banner.isNull());
    QCOMPARE(banner.size(), QImage(":/Glassmere/Resources/aboutf.png").size());

    QCOMPARE(child<QLabel>(box, "lbTitle")->text(), QString("Glassmere 3.1.0"));
    QCOMPARE(child<QLabel>(box, "lbUrl")->text(),
             QString("<font color=gray>%1</font>").arg(noticeText));
    QCOMPARE(child<QLabel>(box, "lbUrl_2")->text(),
             QString("<a href=%1>%1</a>").arg(homePageAddress));
    QCOMPARE(child<QLabel>(box, "lbEmail")->text(),
             QString("<font color=gray>Email:</font> <a href =\"mailto:%1\">%1</a>")
                 .arg(supportMailAddress));
    QCOMPARE(child<QPushButton>(box, "pushButton")->text(), QString("OK"));
}

void TestAbout::translatedTitle()
{
    // The product name is translated in the dialog's context; the version is appended.
    OneEntryTranslator translator("about", QString("格拉斯米尔"));
    QVERIFY(QCoreApplication::installTranslator(&translator));
    about box(nullptr);
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(child<QLabel>(box, "lbTitle")->text(), QString("格拉斯米尔 3.1.0"));
}

void TestAbout::links_data()
{
    QTest::addColumn<QByteArray>("label");
    QTest::addColumn<QUrl>("opens"); // empty: nothing
    // The address is written without quotes: one that ended in '/' would make
    // the rich-text reader take "/>" as the end of an empty tag, and no link would be left.
    QTest::newRow("web link") << QByteArray("lbUrl_2") << QUrl(QString::fromUtf8(homePageAddress));
    QTest::newRow("mail link") << QByteArray("lbEmail")
                               << QUrl(QString("mailto:%1").arg(supportMailAddress));
    QTest::newRow("title") << QByteArray("lbTitle") << QUrl();
    QTest::newRow("notice") << QByteArray("lbUrl") << QUrl();
}

void TestAbout::links()
{
    QFETCH(QByteArray, label);
    QFETCH(QUrl, opens);
    about box(nullptr);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    auto* target = child<QLabel>(box, label.constData());

    // Clicks across the middle line, a few pixels apart.
    ChromeUrlSink sink;
    const int y = target->height() / 2;
    for (int x = 1; x < target->width(); x += 3)
        QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
    QCOMPARE(sink.urls.isEmpty(), opens.isEmpty());
    for (const QUrl& url : std::as_const(sink.urls))
        QCOMPARE(url, opens);

    if (label == "lbEmail") {
        // The grey caption in front of the address is not part of the link.
        ChromeUrlSink captionSink;
        QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, QPoint(2, y));
        QVERIFY(captionSink.urls.isEmpty());
    }
    box.close();
}

void TestAbout::closes_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("OK clicked") << "ok";
    QTest::newRow("Enter") << "enter";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("click outside") << "outside";
}

void TestAbout::closes()
{
    QFETCH(QString, how);
    about box(nullptr);
    ChromeWatch watch;
    watch.whenShown<about>([&](about* shown) {
        QVERIFY(shown == &box);
        if (how == "ok") {
            QTest::mouseClick(child<QPushButton>(box, "pushButton"), Qt::LeftButton);
        } else if (how == "outside") {
            QTest::mouseClick(shown->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                              QPoint(-20, shown->height() / 2));
        } else {
            QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : shown;
            QTest::keyClick(target, how == "enter" ? Qt::Key_Return : Qt::Key_Escape);
        }
    });

    QElapsedTimer clock;
    clock.start();
    box.exec();
    QCOMPARE(watch.seen, 1);
    QCOMPARE(watch.timedOut, 0);
    QVERIFY2(clock.elapsed() < 4000, "the box closed only when the test gave up");
    QVERIFY(!box.isVisible());
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
