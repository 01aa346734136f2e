// SPDX-License-Identifier: GPL-3.0-or-later
// The window's own chrome: the mask, dragging, maximising and restoring, the
// commands of the help menu and the keyboard, and the about box: the links it
// hands to the desktop and the ways it closes.

#include "app/globals.h"
#include "support/chrometest_urlsink.h"
#include "support/dialogdriver.h"
#include "support/testaccess.h"
#include "support/testpictures.h"
#include "widgets/about.h"

#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryFile>
#include <QTest>
#include <QWindow>

namespace {

// The screens main() below gives the offscreen platform.
const QRect leftScreen(0, 0, 800, 800);
const QRect rightScreen(800, 0, 1024, 600);

bool shown(Glassmere& window, const QPoint& at = QPoint(100, 60))
{
    window.move(at);
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

QWidget* part(QWidget& window, const QString& name)
{
    auto* widget = window.findChild<QWidget*>(name);
    if (!widget)
        qFatal("no %s", qPrintable(name));
    return widget;
}

// A point of `widget`, in its own coordinates, where none of its children lies.
QPoint emptySpot(QWidget* widget)
{
    for (int y = widget->height() / 2; y < widget->height(); ++y) {
        for (int x = widget->width() / 2; x >= 0; --x) {
            if (!widget->childAt(x, y))
                return {x, y};
        }
    }
    return {-1, -1};
}

void dragBy(QWidget* target, const QPoint& start, const QPoint& delta, Qt::MouseButton button)
{
    const auto send = [target](QEvent::Type type, const QPoint& at, Qt::MouseButton pressed,
                               Qt::MouseButtons held) {
        QMouseEvent event(type, QPointF(target->mapFromGlobal(at)), QPointF(at), pressed, held,
                          Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    };
    send(QEvent::MouseButtonPress, start, button, button);
    send(QEvent::MouseMove, start + delta / 2, Qt::NoButton, button);
    send(QEvent::MouseMove, start + delta, Qt::NoButton, button);
    send(QEvent::MouseButtonRelease, start + delta, button, Qt::NoButton);
}

// The part of the window that the mask leaves, in screen coordinates.
QRect visibleOnScreen(const Glassmere& window)
{
    const QRect inWindow = window.mask().boundingRect();
    return QRect(window.mapToGlobal(inWindow.topLeft()), inWindow.size());
}

} // namespace

class TestChrome : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        // Every on_<name>_<signal> slot of the window must find its signal.
        QTest::failOnWarning(QRegularExpression("No matching signal"));
    }

    void maximiseAndRestore_data()
    {
        QTest::addColumn<QString>("on");
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<bool>("maximises");
        QTest::newRow("maximise button") << "btnMax" << leftScreen << true;
        QTest::newRow("maximise button on the second screen") << "btnMax" << rightScreen << true;
        QTest::newRow("double click on the title") << "label_Top" << leftScreen << true;
        QTest::newRow("double click on the left border") << "label_Left" << leftScreen << false;
    }

    void maximiseAndRestore()
    {
        QFETCH(QString, on);
        QFETCH(QRect, screen);
        QFETCH(bool, maximises);
        if (!QGuiApplication::screenAt(screen.center()))
            QSKIP("the platform offers a single screen");

        Glassmere window;
        const QRect before(screen.topLeft() + QPoint(100, 60), QSize(827, 671));
        QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(shown(window, before.topLeft()));
        QTRY_COMPARE(window.screen()->availableGeometry(), screen);
        // The mask leaves the window inside the 11-pixel band, where its title bar starts.
        QCOMPARE(visibleOnScreen(window), before.adjusted(11, 11, -11, -11));
        QCOMPARE(part(window, "frame_Top")->mapTo(&window, QPoint(0, 0)), QPoint(11, 11));
        QWidget* target = part(window, on);
        auto command = [&] {
            if (on == "btnMax")
                QTest::mouseClick(target, Qt::LeftButton);
            else
                QTest::mouseDClick(target, Qt::LeftButton, Qt::NoModifier, emptySpot(target));
        };

        // Twice round: a restore must leave nothing behind for the next maximise.
        for (int round = 0; round < 2; ++round) {
            command();
            QCOMPARE(A::maximized(window), maximises);
            if (!maximises) {
                QCOMPARE(window.geometry(), before);
                return;
            }
            QCOMPARE(window.geometry(), screen.adjusted(-11, -11, 11, 11));
            QTRY_COMPARE(visibleOnScreen(window), screen);
            command();
            QVERIFY(!A::maximized(window));
            QCOMPARE(window.geometry(), before);
            QTRY_COMPARE(visibleOnScreen(window), before.adjusted(11, 11, -11, -11));
        }
    }

    void drag_data()
    {
        QTest::addColumn<QString>("on");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("maximisedFirst");
        QTest::addColumn<bool>("moves");
        QTest::newRow("title") << "label_Top" << int(Qt::LeftButton) << false << true;
        QTest::newRow("right button") << "label_Top" << int(Qt::RightButton) << false << false;
        QTest::newRow("maximised") << "label_Top" << int(Qt::LeftButton) << true << false;
        // The moves that leave a control which took the press pass on to the window.
        QTest::newRow("push button") << "btnHelp" << int(Qt::LeftButton) << false << false;
    }

    void drag()
    {
        QFETCH(QString, on);
        QFETCH(int, button);
        QFETCH(bool, maximisedFirst);
        QFETCH(bool, moves);

        Glassmere window;
        QVERIFY(shown(window));
        // An earlier drag first: nothing may move the window from where it left its grab point.
        QWidget* title = part(window, "label_Top");
        dragBy(title, title->mapToGlobal(emptySpot(title)), QPoint(30, 20), Qt::LeftButton);
        QCOMPARE(window.pos(), QPoint(130, 80));
        if (maximisedFirst)
            A::maximise(window);

        QWidget* target = part(window, on);
        const QPoint start = target->mapToGlobal(emptySpot(target));
        const QRect before = window.frameGeometry();
        const QPoint delta(127, 42);
        dragBy(target, start, delta, Qt::MouseButton(button));
        QCOMPARE(window.frameGeometry(), moves ? before.translated(delta) : before);
    }

    void commands_data()
    {
        QTest::addColumn<QString>("from");  // empty: a key; a button is clicked, else right-clicked
        QTest::addColumn<QString>("input"); // the key, or the entry chosen in the menu
        QTest::addColumn<QString>("does");
        const auto key = [](const char* keys, const char* does) {
            QTest::newRow(keys) << QString() << QString(keys) << QString(does);
        };
        const auto menu = [](const char* name, const char* from, const char* entry,
                             const char* does) {
            QTest::newRow(name) << QString(from) << QString(entry) << QString(does);
        };
        key("F1", "help page");
        key("Alt+O", "open dialog");
        key("Alt+S", "save dialog");
        // A number field, where the focus is after typing a value, leaves them to the window.
        QTest::newRow("Alt+O in the size field") << "txtSize"
                                                 << "Alt+O"
                                                 << "open dialog";
        QTest::newRow("Alt+S in the blur field") << "txtBlur"
                                                 << "Alt+S"
                                                 << "save dialog";
        key("Ctrl+O", "");
        key("Ctrl+S", "");
        key("Alt+Shift+O", "");
        key("O", "");
        menu("help button: Help Manual", "btnHelp", "Help Manual", "help page");
        menu("title: Check for New Version", "label_Top", "&Check for New Version", "home page");
        menu("border: Visit Our Web Site", "label_Left", "&Visit Our Web Site", "home page");
        menu("settings: About Us", "groupBox_5", "&About Us", "about box");
        menu("logo button", "btReflection", "", "about box");
    }

    void commands()
    {
        QFETCH(QString, from);
        QFETCH(QString, input);
        QFETCH(QString, does);

        Glassmere window;
        QVERIFY(shown(window));
        A::open(window, makeGradientPicture(20, 10, 24)); // something to save
        ChromeUrlSink sink;
        DialogDriver driver;
        QStringList done;
        driver.expect<QMenu>([&](QMenu* menu) {
            const QList<QAction*> actions = menu->actions();
            for (QAction* action : actions)
                if (action->text() == input && !input.isEmpty())
                    return QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                                             menu->actionGeometry(action).center());
            menu->close();
        });
        driver.expect<about>([&](about* box) {
            done << "about box";
            box->close();
        });
        driver.expect<QFileDialog>([&](QFileDialog* dialog) {
            done << (dialog->acceptMode() == QFileDialog::AcceptOpen ? "open dialog"
                                                                     : "save dialog");
            dialog->reject();
        });

        if (from.isEmpty() || from.startsWith("txt")) {
            // The commands run inside the key press: a dialog has come and gone when it returns.
            QWidget* focus = from.isEmpty() ? &window : part(window, from);
            focus->setFocus();
            const QKeyCombination keys = QKeySequence(input)[0];
            QTest::keyClick(focus, keys.key(), keys.keyboardModifiers());
        } else if (from.startsWith("bt")) {
            QTest::mouseClick(part(window, from), Qt::LeftButton);
        } else {
            QWidget* target = part(window, from);
            const QPoint inWindow = target->mapTo(&window, emptySpot(target));
            QTest::mouseClick(window.windowHandle(), Qt::RightButton, Qt::NoModifier, inWindow);
        }
        if (!does.isEmpty())
            QTRY_VERIFY(!done.isEmpty() || !sink.urls.isEmpty());
        for (const QUrl& url : std::as_const(sink.urls)) {
            done << (url.toString() == helpPageAddress   ? "help page"
                     : url.toString() == homePageAddress ? "home page"
                                                         : url.toString());
        }
        QCOMPARE(done.join(", "), does);
    }

    void aboutLinks_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QUrl>("opens");
        // The address is written without quotes: one that ended in '/' would make
        // the rich-text reader take "/>" as the end of an empty tag, and no link would be left.
        QTest::newRow("web link") << "lbUrl_2" << QUrl(QString::fromUtf8(homePageAddress));
        QTest::newRow("mail link")
            << "lbEmail" << QUrl(QString("mailto:%1").arg(supportMailAddress));
    }

    void aboutLinks()
    {
        QFETCH(QString, label);
        QFETCH(QUrl, opens);
        about box(nullptr);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QWidget* target = part(box, label);

        // Clicks across the middle line, a few pixels apart.
        ChromeUrlSink sink;
        for (int x = 1; x < target->width(); x += 3)
            QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier,
                              QPoint(x, target->height() / 2));
        QVERIFY(!sink.urls.isEmpty());
        for (const QUrl& url : std::as_const(sink.urls))
            QCOMPARE(url, opens);
    }

    void aboutCloses_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("OK clicked") << "ok";
        QTest::newRow("Enter") << "enter";
        QTest::newRow("Escape") << "escape";
        QTest::newRow("click outside") << "outside";
    }

    void aboutCloses()
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
};

// Two screens side by side instead of the offscreen platform's single one, so
// that the window maximises over the screen it is on.
int main(int argc, char* argv[])
{
    QTemporaryFile config(QDir::temp().filePath("glassmere-chrome-screens-XXXXXX.json"));
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen" && config.open()) {
        config.write(R"({"synchronousWindowSystemEvents": false, "screens": [
            {"name": "left", "x": 0, "y": 0, "width": 800, "height": 800, "dpr": 1},
            {"name": "right", "x": 800, "y": 0, "width": 1024, "height": 600, "dpr": 1}]})");
        config.close();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config.fileName()));
    }
    QApplication app(argc, argv);
    TestChrome test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_chrome.moc"
