// The about box: the links it hands to the desktop and the ways it closes.

#include "app/globals.h"
#include "support/chrometest_urlsink.h"
#include "support/dialogdriver.h"
#include "widgets/about.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

QLabel* label(QWidget& box, const QString& name)
{
    auto* widget = box.findChild<QLabel*>(name);
    if (!widget)
        qFatal("the about box has no %s", qPrintable(name));
    return widget;
}

} // namespace

class TestAbout : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void links_data();
    void links();
    void closes_data();
    void closes();
};

void TestAbout::links_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QUrl>("opens");
    // The address is written without quotes: one that ended in '/' would make
    // the rich-text reader take "/>" as the end of an empty tag, and no link would be left.
    QTest::newRow("web link") << "lbUrl_2" << QUrl(QString::fromUtf8(homePageAddress));
    QTest::newRow("mail link") << "lbEmail" << QUrl(QString("mailto:%1").arg(supportMailAddress));
}

void TestAbout::links()
{
    QFETCH(QString, label);
    QFETCH(QUrl, opens);
    about box(nullptr);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QLabel* target = ::label(box, label);

    // Clicks across the middle line, a few pixels apart.
    ChromeUrlSink sink;
    for (int x = 1; x < target->width(); x += 3)
        QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, QPoint(x, target->height() / 2));
    QVERIFY(!sink.urls.isEmpty());
    for (const QUrl& url : std::as_const(sink.urls))
        QCOMPARE(url, opens);
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
    DialogDriver watch;
    watch.expect<about>([&](about* shown) {
        if (how == "ok") {
            QTest::mouseClick(shown->findChild<QPushButton*>("pushButton"), Qt::LeftButton);
        } else if (how == "outside") {
            QTest::mouseClick(shown->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                              QPoint(-20, shown->height() / 2));
        } else {
            QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : shown;
            QTest::keyClick(target, how == "enter" ? Qt::Key_Return : Qt::Key_Escape);
        }
    });
    box.exec();
    QCOMPARE(watch.answered, 1);
    QCOMPARE(watch.timedOut, 0); // not closed by the watch giving up
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
