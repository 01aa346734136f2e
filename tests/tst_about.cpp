// The about box: its form, the texts it builds from the program's constants,
// the links it hands to the desktop and the ways it closes.

#include "app/globals.h"
#include "support/chrometest_urlsink.h"
#include "support/chrometest_watch.h"
#include "widgets/about.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTranslator>

namespace {

// Renders exactly one source text of one context differently, as an installed
// translation would; everything else stays untranslated.
class OneEntryTranslator : public QTranslator {
public:
    OneEntryTranslator(QByteArray context, QByteArray source, QString translation)
        : context_(std::move(context)), source_(std::move(source)),
          translation_(std::move(translation))
    {
    }

    QString translate(const char* context, const char* sourceText, const char*, int) const override
    {
        if (context_ == context && source_ == sourceText)
            return translation_;
        return QString();
    }

    bool isEmpty() const override { return false; }

private:
    QByteArray context_;
    QByteArray source_;
    QString translation_;
};

template <class T> T* child(QWidget& box, const char* name)
{
    T* widget = box.findChild<T*>(QString::fromLatin1(name));
    if (!widget)
        qFatal("the about box has no %s", name);
    return widget;
}

// Clicks across the middle line of a label, a few pixels apart, and collects
// every address that the clicks hand to the desktop.
QList<QUrl> addressesClickedAcross(QLabel* label)
{
    ChromeUrlSink sink;
    const int y = label->height() / 2;
    for (int x = 1; x < label->width(); x += 3)
        QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
    return sink.urls;
}

} // namespace

class TestAbout : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dialogIsAFramelessPopup();
    void formGeometry_data();
    void formGeometry();
    void childrenAreBuiltInOrder();
    void formProperties();
    void textsFromTheProgramConstants();
    void translatedTexts_data();
    void translatedTexts();
    void webLinkOpensTheHomePage();
    void mailLinkOpensTheSupportAddress();
    void titleAndNoticeOpenNothing();
    void bannerIsClippedToTheDialog();
    void closes_data();
    void closes();
    void isShownCentredOnTheScreen();
};

void TestAbout::dialogIsAFramelessPopup()
{
    about box(nullptr);
    QCOMPARE(box.metaObject()->className(), "about");
    QCOMPARE(box.objectName(), QString("aboutClass"));
    QCOMPARE(box.windowType(), Qt::Popup);
    QVERIFY(!(box.windowFlags() & Qt::FramelessWindowHint)); // a popup has no frame anyway
    QVERIFY(box.parentWidget() == nullptr);
    QCOMPARE(box.size(), QSize(369, 346));
    QCOMPARE(box.windowModality(), Qt::NonModal);
    QCOMPARE(box.windowTitle(), QString("About"));
    QVERIFY(!box.windowIcon().isNull());
}

void TestAbout::formGeometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QRect>("geometry");

    QTest::newRow("title") << QString("lbTitle") << QString("QLabel") << QRect(60, 80, 261, 20);
    QTest::newRow("mail link") << QString("lbEmail") << QString("QLabel")
                               << QRect(90, 250, 221, 16);
    QTest::newRow("notice") << QString("lbUrl") << QString("QLabel") << QRect(20, 190, 331, 21);
    QTest::newRow("OK") << QString("pushButton") << QString("QPushButton")
                        << QRect(140, 290, 81, 31);
    QTest::newRow("banner") << QString("label") << QString("QLabel") << QRect(0, 0, 371, 71);
    QTest::newRow("web link") << QString("lbUrl_2") << QString("QLabel") << QRect(90, 220, 211, 21);
}

void TestAbout::formGeometry()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QRect, geometry);

    about box(nullptr);
    auto* widget = box.findChild<QWidget*>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(QString(widget->metaObject()->className()), className);
    QCOMPARE(widget->parentWidget(), &box);
    QCOMPARE(widget->geometry(), geometry);
}

void TestAbout::childrenAreBuiltInOrder()
{
    // The order decides which label lies on top where they overlap.
    about box(nullptr);
    QStringList names;
    const QObjectList children = box.children();
    for (QObject* object : children) {
        if (object->isWidgetType())
            names << object->objectName();
    }
    QCOMPARE(names, QStringList({"lbTitle", "lbEmail", "lbUrl", "pushButton", "label", "lbUrl_2"}));
}

void TestAbout::formProperties()
{
    about box(nullptr);
    QCOMPARE(child<QLabel>(box, "lbTitle")->alignment(), Qt::AlignCenter);
    QCOMPARE(child<QLabel>(box, "lbUrl")->alignment(), Qt::AlignCenter);
    QCOMPARE(child<QLabel>(box, "lbUrl")->textFormat(), Qt::AutoText);
    QCOMPARE(child<QPushButton>(box, "pushButton")->text(), QString("OK"));

    auto* banner = child<QLabel>(box, "label");
    QCOMPARE(banner->frameShape(), QFrame::NoFrame);
    QCOMPARE(banner->alignment(), Qt::AlignLeft | Qt::AlignTop);
    QVERIFY(!banner->hasScaledContents());
    const QPixmap picture = banner->pixmap();
    QCOMPARE(picture.size(), QImage(":/Glassmere/Resources/aboutf.png").size());
    QCOMPARE(picture.size(), QSize(372, 67));
}

void TestAbout::textsFromTheProgramConstants()
{
    about box(nullptr);
    QCOMPARE(child<QLabel>(box, "lbTitle")->text(), QString("Glassmere 3.1.0"));
    QCOMPARE(child<QLabel>(box, "lbUrl")->text(),
             QString("<font color=gray>%1</font>").arg(noticeText));
    QCOMPARE(child<QLabel>(box, "lbUrl_2")->text(),
             QString("<a href=%1>%1</a>").arg(homePageAddress));
    QCOMPARE(child<QLabel>(box, "lbEmail")->text(),
             QString("<font color=gray>Email:</font> <a href =\"mailto:%1\">%1</a>")
                 .arg(supportMailAddress));

    QVERIFY(child<QLabel>(box, "lbUrl_2")->openExternalLinks());
    QVERIFY(child<QLabel>(box, "lbEmail")->openExternalLinks());
    QVERIFY(!child<QLabel>(box, "lbUrl")->openExternalLinks());
}

void TestAbout::translatedTexts_data()
{
    QTest::addColumn<QByteArray>("context");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>("translation");
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("expected");

    QTest::newRow("product name, dialog's context")
        << QByteArray("about") << QByteArray("Glassmere") << QString("格拉斯米尔")
        << QString("lbTitle") << QString("格拉斯米尔 3.1.0");
    QTest::newRow("product name in the form's context is not used")
        << QByteArray("aboutClass") << QByteArray("Glassmere") << QString("Glasmeer")
        << QString("lbTitle") << QString("Glassmere 3.1.0");
    QTest::newRow("OK button, form's context")
        << QByteArray("aboutClass") << QByteArray("OK") << QString("确定") << QString("pushButton")
        << QString("确定");
    QTest::newRow("window title, form's context")
        << QByteArray("aboutClass") << QByteArray("About") << QString("关于") << QString()
        << QString("关于");
}

void TestAbout::translatedTexts()
{
    QFETCH(QByteArray, context);
    QFETCH(QByteArray, source);
    QFETCH(QString, translation);
    QFETCH(QString, widget);
    QFETCH(QString, expected);

    OneEntryTranslator translator(context, source, translation);
    QVERIFY(QCoreApplication::installTranslator(&translator));
    about box(nullptr);
    QCoreApplication::removeTranslator(&translator);

    QString shown;
    if (widget.isEmpty())
        shown = box.windowTitle();
    else if (auto* label = box.findChild<QLabel*>(widget))
        shown = label->text();
    else if (auto* button = box.findChild<QPushButton*>(widget))
        shown = button->text();
    QCOMPARE(shown, expected);
}

void TestAbout::webLinkOpensTheHomePage()
{
    about box(nullptr);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QList<QUrl> urls = addressesClickedAcross(child<QLabel>(box, "lbUrl_2"));
    // The address is written without quotes: one that ended in '/' would make
    // the rich-text reader take "/>" as the end of an empty tag, and no link
    // would be left.
    QVERIFY2(!urls.isEmpty(), "no click on the web link reached the desktop");
    for (const QUrl& url : urls)
        QCOMPARE(url, QUrl(QString::fromUtf8(homePageAddress)));
    box.close();
}

void TestAbout::mailLinkOpensTheSupportAddress()
{
    about box(nullptr);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    auto* label = child<QLabel>(box, "lbEmail");
    const QList<QUrl> urls = addressesClickedAcross(label);
    QVERIFY2(!urls.isEmpty(), "no click on the mail link reached the desktop");
    for (const QUrl& url : urls)
        QCOMPARE(url, QUrl(QString("mailto:%1").arg(supportMailAddress)));

    // The grey caption in front of the address is not part of the link.
    ChromeUrlSink sink;
    QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(2, label->height() / 2));
    QVERIFY(sink.urls.isEmpty());
    box.close();
}

void TestAbout::titleAndNoticeOpenNothing()
{
    about box(nullptr);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QVERIFY(addressesClickedAcross(child<QLabel>(box, "lbTitle")).isEmpty());
    QVERIFY(addressesClickedAcross(child<QLabel>(box, "lbUrl")).isEmpty());
    box.close();
}

void TestAbout::bannerIsClippedToTheDialog()
{
    about box(nullptr);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const QImage shot = box.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage banner =
        QImage(":/Glassmere/Resources/aboutf.png").convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shot.size(), QSize(369, 346));

    // Drawn unscaled from the top-left corner; the dialog's edge cuts the last column.
    int differing = 0;
    QPoint first(-1, -1);
    for (int y = 0; y < banner.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            if (shot.pixel(x, y) != banner.pixel(x, y)) {
                if (differing++ == 0)
                    first = QPoint(x, y);
            }
        }
    }
    QVERIFY2(differing == 0, qPrintable(QString("%1 banner pixels differ, the first at (%2, %3)")
                                            .arg(differing)
                                            .arg(first.x())
                                            .arg(first.y())));

    // Below the picture the 71-pixel label stays empty: the dialog's own background.
    const QRgb background = shot.pixel(5, 75);
    for (int y = banner.height(); y < 71; ++y) {
        for (int x = 0; x < shot.width(); x += 7)
            QCOMPARE(shot.pixel(x, y), background);
    }
    box.close();
}

void TestAbout::closes_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("OK clicked") << QString("ok");
    QTest::newRow("Enter") << QString("enter");
    QTest::newRow("Escape") << QString("escape");
    QTest::newRow("click outside, beside the box") << QString("outside");
    QTest::newRow("click outside, on another window") << QString("other window");
}

void TestAbout::closes()
{
    QFETCH(QString, how);

    QWidget other;
    other.setGeometry(0, 0, 120, 120);
    other.show();
    QVERIFY(QTest::qWaitForWindowExposed(&other));

    about box(nullptr);
    ChromeWatch watch;
    bool wasVisible = false;
    watch.whenShown<about>([&](about* shown) {
        wasVisible = shown == &box;
        if (how == "ok") {
            QTest::mouseClick(child<QPushButton>(box, "pushButton"), Qt::LeftButton);
        } else if (how == "enter" || how == "escape") {
            QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : shown;
            QTest::keyClick(target, how == "enter" ? Qt::Key_Return : Qt::Key_Escape);
        } else if (how == "outside") {
            QTest::mouseClick(shown->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                              QPoint(-20, shown->height() / 2));
        } else {
            QTest::mouseClick(other.windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        }
    });

    QElapsedTimer clock;
    clock.start();
    box.exec();
    QVERIFY(wasVisible);
    QCOMPARE(watch.timedOut, 0);
    QVERIFY2(clock.elapsed() < 4000, "the box closed only when the test gave up");
    QVERIFY(!box.isVisible());
}

void TestAbout::isShownCentredOnTheScreen()
{
    about box(nullptr);
    ChromeWatch watch;
    QRect shownAt;
    watch.whenShown<about>([&](about* shown) {
        shownAt = shown->geometry();
        shown->close();
    });
    box.exec();
    QCOMPARE(shownAt.size(), QSize(369, 346));
    // The toolkit centres a parentless dialog together with the system frame it
    // expects around it (up to 10 pixels at the sides, 40 above), which a popup
    // does not have: the box sits at most that much left of and above the centre.
    const QPoint offset = shownAt.center() - box.screen()->availableGeometry().center();
    QVERIFY2(offset.x() <= 1 && offset.x() >= -10 && offset.y() <= 1 && offset.y() >= -40,
             qPrintable(QString("centre off by %1, %2").arg(offset.x()).arg(offset.y())));
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
