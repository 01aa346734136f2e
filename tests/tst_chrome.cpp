// The window's own chrome: the mask, dragging, maximising and restoring, the
// help menu and its commands, and the keyboard commands.

#include "app/globals.h"
#include "mainwindow/chrome_geometry.h"
#include "mainwindow/glassmere.h"
#include "support/chrometest_urlsink.h"
#include "support/chrometest_watch.h"
#include "widgets/about.h"

#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSlider>
#include <QTemporaryFile>
#include <QTest>
#include <QWindow>

class GlassmereTestAccess {
public:
    static Ui::GlassmereClass& ui(Glassmere& w) { return w.ui; }
    static bool maximized(const Glassmere& w) { return w.maximized; }
    static void maximise(Glassmere& w) { w.on_btnMax_clicked(); }
    static void help(Glassmere& w) { w.on_btnHelp_clicked(); }
};
using A = GlassmereTestAccess;

namespace {

// The screens main() below gives the offscreen platform: 800 x 800 and a second one to its right.
const QRect leftScreen(0, 0, 800, 800);
const QRect rightScreen(800, 0, 1024, 600);

bool shown(Glassmere& window, const QPoint& at = QPoint(100, 60))
{
    window.move(at);
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

QWidget* part(Glassmere& window, const QString& name)
{
    auto* widget = window.findChild<QWidget*>(name);
    if (!widget)
        qFatal("the window has no %s", qPrintable(name));
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

// Press, two moves (the second starts from where the first left the window) and release.
void dragBy(QWidget* target, const QPoint& start, const QPoint& delta, Qt::MouseButton pressed,
            Qt::MouseButtons held)
{
    const auto send = [target](QEvent::Type type, const QPoint& at, Qt::MouseButton button,
                               Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(target->mapFromGlobal(at)), QPointF(at), button, buttons,
                          Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    };
    send(QEvent::MouseButtonPress, start, pressed, pressed);
    send(QEvent::MouseMove, start + delta / 2, Qt::NoButton, held);
    send(QEvent::MouseMove, start + delta, Qt::NoButton, held);
    send(QEvent::MouseButtonRelease, start + delta, pressed, Qt::NoButton);
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
    void init();
    void maskCutsAtTheVisibleWindow();
    void maximizedGeometry_data();
    void maximizedGeometry();
    void maximiseAndRestore_data();
    void maximiseAndRestore();
    void maximiseUsesTheMeasuredSystemFrame();
    void minimiseAndClose();
    void drag_data();
    void drag();
    void helpMenu_data();
    void helpMenu();
    void keys_data();
    void keys();
};

void TestChrome::init()
{
    // Every on_<name>_<signal> slot of the window must find its signal.
    QTest::failOnWarning(QRegularExpression("No matching signal"));
}

void TestChrome::maskCutsAtTheVisibleWindow()
{
    Glassmere window;
    QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(shown(window));
    QCOMPARE(window.frameGeometry(), window.geometry());
    // Only the maximise command fixes the size.
    QCOMPARE(window.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));

    // Exactly at the title bar and the lower right corner, no pixel more or less.
    const QRect visible(11, 11, 827 - 22, 627 - 22);
    QCOMPARE(window.mask(), QRegion(visible, QRegion::Rectangle));
    QWidget* top = part(window, "frame_Top");
    QWidget* corner = part(window, "label_BRight");
    QCOMPARE(top->mapTo(&window, QPoint(0, 0)), visible.topLeft());
    QCOMPARE(top->width(), visible.width());
    QCOMPARE(corner->mapTo(&window, QPoint(corner->width(), corner->height())),
             visible.bottomRight() + QPoint(1, 1));
}

void TestChrome::maximizedGeometry_data()
{
    QTest::addColumn<QRect>("available");
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("top");
    QTest::newRow("4-pixel frame, 24-pixel title bar") << QRect(0, 0, 1920, 1040) << 4 << 24;
    QTest::newRow("panel at the top") << QRect(0, 32, 1920, 1048) << 0 << 0;
    QTest::newRow("screen above, framed") << QRect(0, -768, 1024, 768) << 2 << 2;
}

void TestChrome::maximizedGeometry()
{
    QFETCH(QRect, available);
    QFETCH(int, side);
    QFETCH(int, top);

    // The frame's corner is moved; the client area lies (side, top) further in
    // and its visible part starts at the available area's corner. The width takes
    // the side border once more.
    const QRect result = ::maximizedGeometry(available, side, top);
    const QRect visible =
        ::visibleArea(result.size()).translated(result.topLeft() + QPoint(side, top));
    QCOMPARE(visible, QRect(available.topLeft(), available.size() + QSize(side, 0)));
}

void TestChrome::maximiseAndRestore_data()
{
    QTest::addColumn<QString>("on");
    QTest::addColumn<int>("button");
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<bool>("maximises");

    const auto row = [](const char* name, const char* on, int button, QRect screen,
                        bool maximises) {
        QTest::newRow(name) << QString(on) << button << screen << maximises;
    };
    const int left = Qt::LeftButton;
    row("maximise button", "btnMax", left, leftScreen, true);
    row("maximise button on the second screen", "btnMax", left, rightScreen, true);
    row("double click on the title label", "label_Top", left, leftScreen, true);
    row("double click on the button area", "frame_TopButton", left, leftScreen, true);
    row("right double click on the title area", "frame_Title", Qt::RightButton, leftScreen, true);
    row("double click on the left border", "label_Left", left, leftScreen, false);
    row("double click on the upper border strip", "frame", left, leftScreen, false);
    row("double click on the settings box", "groupBox_5", left, leftScreen, false);
}

void TestChrome::maximiseAndRestore()
{
    QFETCH(QString, on);
    QFETCH(int, button);
    QFETCH(QRect, screen);
    QFETCH(bool, maximises);
    if (!QGuiApplication::screenAt(screen.center()))
        QSKIP("the platform offers a single screen");

    Glassmere window;
    const QRect before(screen.topLeft() + QPoint(100, 60), QSize(827, 627));
    QVERIFY(shown(window, before.topLeft()));
    QCOMPARE(window.geometry(), before);
    QTRY_COMPARE(window.screen()->availableGeometry(), screen);

    QWidget* target = part(window, on);
    const QPoint spot = on == "btnMax" ? target->rect().center() : emptySpot(target);
    QVERIFY(target->rect().contains(spot));
    auto command = [&] {
        if (on == "btnMax")
            QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, spot);
        else
            QTest::mouseDClick(target, Qt::MouseButton(button), Qt::NoModifier, spot);
    };

    // Twice round: a restore must leave nothing behind for the next maximise. The
    // mask follows each change of size.
    for (int round = 0; round < (maximises ? 2 : 1); ++round) {
        command();
        QCOMPARE(A::maximized(window), maximises);
        if (!maximises) {
            QCOMPARE(window.geometry(), before);
            return;
        }
        QCOMPARE(window.geometry(), screen.adjusted(-11, -11, 11, 11));
        QCOMPARE(window.maximumSize(), window.size());
        QTRY_COMPARE(visibleOnScreen(window), screen);

        command();
        QVERIFY(!A::maximized(window));
        QCOMPARE(window.geometry(), before);
        QCOMPARE(window.minimumSize(), before.size());
        QTRY_COMPARE(visibleOnScreen(window), before.adjusted(11, 11, -11, -11));
    }
}

void TestChrome::maximiseUsesTheMeasuredSystemFrame()
{
    // With a system frame (2 pixels on every side here) the client area, not
    // the frame, lands 11 pixels before the corner.
    Glassmere window;
    window.setWindowFlags(window.windowFlags() & ~Qt::FramelessWindowHint);
    QVERIFY(shown(window));
    QCOMPARE(window.frameGeometry(), window.geometry().adjusted(-2, -2, 2, 2));
    const QRect before = window.geometry();

    // Read at once: the offscreen platform afterwards pushes a framed window's
    // frame back onto the screen, which a real window manager need not do.
    A::maximise(window);
    QCOMPARE(window.geometry(), QRect(-11, -11, 800 + 2 + 22, 822));
    QCOMPARE(window.frameGeometry().topLeft(), QPoint(-13, -13));
    A::maximise(window);
    QCOMPARE(window.geometry(), before);
}

void TestChrome::minimiseAndClose()
{
    Glassmere window;
    QVERIFY(shown(window));
    A::maximise(window);
    QTest::mouseClick(A::ui(window).btnMinimize, Qt::LeftButton);
    QTRY_VERIFY(window.isMinimized());
    QVERIFY(A::maximized(window));
    QCOMPARE(window.geometry(), QRect(-11, -11, 822, 822));

    QTest::mouseClick(A::ui(window).btnClose, Qt::LeftButton);
    QVERIFY(!window.isVisible());
}

void TestChrome::drag_data()
{
    QTest::addColumn<QString>("on");
    QTest::addColumn<int>("pressed");
    QTest::addColumn<int>("held");
    QTest::addColumn<bool>("maximisedFirst");
    QTest::addColumn<bool>("moves");

    const auto row = [](const char* name, const char* on, int pressed, int held, bool maximised,
                        bool moves) {
        QTest::newRow(name) << QString(on) << pressed << held << maximised << moves;
    };
    const int left = Qt::LeftButton, right = Qt::RightButton, middle = Qt::MiddleButton;
    row("title label", "label_Top", left, left, false, true);
    row("upper border strip", "frame", left, left, false, true);
    row("lower border", "label_Bottom", left, left, false, true);
    row("settings box", "groupBox_5", left, left, false, true);
    row("right button", "label_Top", right, right, false, false);
    row("middle button", "frame_Title", middle, middle, false, false);
    row("left press, right button held", "label_Top", left, right, false, false);
    row("maximised", "label_Top", left, left, true, false);
    // A control that took the press lets the moves that leave it pass on to the window.
    row("push button", "btnHelp", left, left, false, false);
    row("slider groove", "refSize", left, left, false, false);
    row("edit field", "txtSize", left, left, false, false);
}

void TestChrome::drag()
{
    QFETCH(QString, on);
    QFETCH(int, pressed);
    QFETCH(int, held);
    QFETCH(bool, maximisedFirst);
    QFETCH(bool, moves);

    Glassmere window;
    QVERIFY(shown(window));
    // An earlier drag first: nothing may move the window from where it left its grab point.
    QWidget* title = part(window, "label_Top");
    dragBy(title, title->mapToGlobal(emptySpot(title)), QPoint(30, 20), Qt::LeftButton,
           Qt::LeftButton);
    QCOMPARE(window.pos(), QPoint(130, 80));
    if (maximisedFirst)
        A::maximise(window);

    QWidget* target = part(window, on);
    // On a slider's groove, away from its handle.
    const QPoint spot = qobject_cast<QSlider*>(target)
                            ? QPoint(target->width() - 4, target->height() / 2)
                            : emptySpot(target);
    QVERIFY(target->rect().contains(spot));
    const QPoint start = target->mapToGlobal(spot);
    const QRect before = window.frameGeometry();
    const QPoint grabbed = window.mapFromGlobal(start);
    const QPoint delta(127, 42);
    dragBy(target, start, delta, Qt::MouseButton(pressed), Qt::MouseButtons(held));
    if (moves) {
        QCOMPARE(window.frameGeometry(), before.translated(delta));
        QCOMPARE(window.mapFromGlobal(start + delta), grabbed);
    } else {
        QCOMPARE(window.frameGeometry(), before);
    }
}

void TestChrome::helpMenu_data()
{
    QTest::addColumn<QString>("from");  // clicked if a button, else right-clicked
    QTest::addColumn<QString>("entry"); // chosen in the menu
    QTest::addColumn<QUrl>("opens");
    QTest::addColumn<bool>("showsAbout");

    const auto row = [](const char* name, const char* from, const char* entry, const char* opens,
                        bool showsAbout) {
        QTest::newRow(name) << QString(from) << QString(entry) << QUrl(QString::fromUtf8(opens))
                            << showsAbout;
    };
    row("help button: Help Manual", "btnHelp", "Help Manual", helpPageAddress, false);
    row("title label: Check for New Version", "label_Top", "&Check for New Version",
        homePageAddress, false);
    row("left border: Visit Our Web Site", "label_Left", "&Visit Our Web Site", homePageAddress,
        false);
    row("image information: About Us", "groupBox_6", "&About Us", "", true);
    row("edit field: its own menu", "txtSize", "", "", false);
    row("logo button: no menu", "btReflection", "", "", true);
}

void TestChrome::helpMenu()
{
    QFETCH(QString, from);
    QFETCH(QString, entry);
    QFETCH(QUrl, opens);
    QFETCH(bool, showsAbout);

    Glassmere window;
    QVERIFY(shown(window));
    ChromeUrlSink sink;
    ChromeWatch menuWatch;
    QStringList texts;
    QPoint openedAt;
    QPointer<QMenu> seen;
    menuWatch.whenShown<QMenu>([&](QMenu* menu) {
        seen = menu;
        openedAt = menu->pos();
        const QList<QAction*> actions = menu->actions();
        for (QAction* action : actions)
            texts << (action->isSeparator() ? QString("----") : action->text());
        for (QAction* action : actions) {
            if (!entry.isEmpty() && action->text() == entry) {
                QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                                  menu->actionGeometry(action).center());
                return;
            }
        }
        menu->close();
    });
    ChromeWatch aboutWatch;
    QPointer<about> box;
    bool parentlessAndModal = false;
    aboutWatch.whenShown<about>([&](about* shown) {
        box = shown;
        parentlessAndModal = !shown->parentWidget() && shown->isModal();
        shown->close();
    });

    // The menu opens at the cursor, wherever the request came from.
    QWidget* target = part(window, from);
    QPoint cursor(250, 300);
    if (qobject_cast<QPushButton*>(target)) {
        QCursor::setPos(cursor);
        QTest::mouseClick(target, Qt::LeftButton);
        // Posted: the menu opens once the button has finished its click.
        QCOMPARE(menuWatch.seen, 0);
    } else {
        const QPoint inWindow = target->mapTo(&window, emptySpot(target));
        cursor = window.mapToGlobal(inWindow);
        QTest::mouseClick(window.windowHandle(), Qt::RightButton, Qt::NoModifier, inWindow);
    }
    if (from != "btReflection") {
        QTRY_COMPARE(menuWatch.seen, 1);
        QCOMPARE(menuWatch.timedOut, 0);
        QTRY_VERIFY(seen.isNull()); // a new menu for every request, gone once closed
    }
    if (from == "txtSize") {
        QVERIFY(!texts.contains("Help Manual"));
    } else if (from != "btReflection") {
        QCOMPARE(texts, QStringList({"Help Manual", "----", "&Check for New Version", "----",
                                     "&Visit Our Web Site", "&About Us"}));
        QCOMPARE(openedAt, cursor);
        QCOMPARE(A::ui(window).actionMenuHelper->shortcut(), QKeySequence(Qt::Key_F1));
        QVERIFY(A::ui(window).actionMenuHelper->isShortcutVisibleInContextMenu());
    }
    QCOMPARE(sink.urls, opens.isEmpty() ? QList<QUrl>() : QList<QUrl>({opens}));
    if (showsAbout) {
        QTRY_COMPARE(aboutWatch.seen, 1);
        QVERIFY(parentlessAndModal);
        QTRY_VERIFY(box.isNull()); // built for this showing only
    } else {
        QCOMPARE(aboutWatch.seen, 0);
    }
}

void TestChrome::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("onFocusedButton");
    QTest::addColumn<QString>("command");

    const auto row = [](const char* name, int key, int modifiers, bool focused, const char* does) {
        QTest::newRow(name) << key << modifiers << focused << QString(does);
    };
    const int none = Qt::NoModifier, alt = Qt::AltModifier, ctrl = Qt::ControlModifier;
    const int shift = Qt::ShiftModifier;
    // F1 takes any modifiers; Alt+O and Alt+S only Alt.
    row("F1", Qt::Key_F1, none, false, "help");
    row("Shift+F1", Qt::Key_F1, shift, false, "help");
    row("F1 on a focused button", Qt::Key_F1, none, true, "help");
    row("Alt+O", Qt::Key_O, alt, false, "open");
    row("Alt+S", Qt::Key_S, alt, false, "save");
    row("Alt+O on a focused button", Qt::Key_O, alt, true, "open");
    row("Ctrl+O", Qt::Key_O, ctrl, false, "nothing");
    row("Ctrl+S", Qt::Key_S, ctrl, false, "nothing");
    row("Alt+Shift+O", Qt::Key_O, alt | shift, false, "nothing");
    row("Alt+Shift+S", Qt::Key_S, alt | shift, false, "nothing");
    row("Ctrl+Alt+O", Qt::Key_O, ctrl | alt, false, "nothing");
    row("O", Qt::Key_O, none, false, "nothing");
    row("S", Qt::Key_S, none, false, "nothing");
    row("Alt+P", Qt::Key_P, alt, false, "nothing");
    row("F2", Qt::Key_F2, none, false, "nothing");
}

void TestChrome::keys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, onFocusedButton);
    QFETCH(QString, command);

    Glassmere window;
    QVERIFY(shown(window));
    ChromeUrlSink sink;
    ChromeWatch watch;
    QList<QFileDialog::AcceptMode> dialogs;
    watch.whenShown<QFileDialog>(
        [&](QFileDialog* dialog) {
            dialogs << dialog->acceptMode();
            dialog->reject();
        },
        3000);
    QWidget* target = &window;
    if (onFocusedButton) {
        target = A::ui(window).btnHelp;
        target->setFocus();
    }
    // The commands run inside the key press: a dialog has come and gone when it returns.
    QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

    const QList<QUrl> help{QUrl(QString::fromUtf8(helpPageAddress))};
    QCOMPARE(sink.urls, command == "help" ? help : QList<QUrl>());
    QList<QFileDialog::AcceptMode> expected;
    if (command == "open")
        expected << QFileDialog::AcceptOpen;
    else if (command == "save")
        expected << QFileDialog::AcceptSave;
    QCOMPARE(dialogs, expected);
}

// Two screens side by side instead of the offscreen platform's single one, so
// that the window maximises over the screen it is on.
int main(int argc, char* argv[])
{
    QTemporaryFile config(QDir::temp().filePath("glassmere-chrome-screens-XXXXXX.json"));
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen" && config.open()) {
        const auto screen = [](const char* name, const QRect& r) {
            return QString("{\"name\": \"%1\", \"x\": %2, \"y\": %3, \"width\": %4, \"height\": "
                           "%5, \"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}")
                .arg(name)
                .arg(r.x())
                .arg(r.y())
                .arg(r.width())
                .arg(r.height());
        };
        config.write(QString("{\"synchronousWindowSystemEvents\": false, "
                             "\"windowFrameMargins\": true, \"screens\": [%1, %2]}")
                         .arg(screen("left", leftScreen), screen("right", rightScreen))
                         .toUtf8());
        config.close();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config.fileName()));
    }
    QApplication app(argc, argv);
    TestChrome test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_chrome.moc"
