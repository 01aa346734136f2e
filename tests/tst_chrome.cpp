// The window's own chrome: the mask, dragging, maximising and restoring, the
// help menu and its commands, the keyboard commands and the about box.

#include "app/globals.h"
#include "mainwindow/chrome_geometry.h"
#include "mainwindow/glassmere.h"
#include "support/chrometest_urlsink.h"
#include "support/chrometest_watch.h"
#include "widgets/about.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <QWindow>

class GlassmereTestAccess {
public:
    static Ui::GlassmereClass& ui(Glassmere& w) { return w.ui; }
    static bool maximized(const Glassmere& w) { return w.maximized; }
    static QPoint dragPosition(const Glassmere& w) { return w.dragPosition; }
    static QRect savedGeometry(const Glassmere& w) { return w.savedGeometry; }
    static void maximise(Glassmere& w) { w.on_btnMax_clicked(); }
    static void help(Glassmere& w) { w.on_btnHelp_clicked(); }
    static void openCommand(Glassmere& w) { w.on_btAddPic_clicked(); }
    static void saveCommand(Glassmere& w) { w.on_btSavePic_clicked(); }
};
using A = GlassmereTestAccess;

namespace {

// The screens the offscreen platform is given by main() below: the usual
// 800 x 800 screen and a second one to its right.
const QRect leftScreen(0, 0, 800, 800);
const QRect rightScreen(800, 0, 1024, 600);

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

void sendMouse(QWidget* target, QEvent::Type type, const QPoint& global, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(target->mapFromGlobal(global)), QPointF(global), button,
                      buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// The part of the window that the mask leaves, in screen coordinates.
QRect visibleOnScreen(const Glassmere& window)
{
    const QRect inWindow = window.mask().boundingRect();
    return QRect(window.mapToGlobal(inWindow.topLeft()), inWindow.size());
}

// Whether a command shows a file dialog at all (cancelled at once).
bool showsFileDialog(Glassmere& window, void (*command)(Glassmere&))
{
    ChromeWatch watch;
    bool shown = false;
    watch.whenShown<QFileDialog>(
        [&](QFileDialog* dialog) {
            shown = true;
            dialog->reject();
        },
        2000);
    command(window);
    return shown;
}

struct MenuSeen {
    QStringList texts;
    QList<QAction*> actions;
    QPoint position;
    bool parentless = false;
    QPointer<QMenu> menu;
};

// Records the next menu that opens and closes it with Escape.
void recordNextMenu(ChromeWatch& watch, MenuSeen& seen)
{
    watch.whenShown<QMenu>([&seen](QMenu* menu) {
        seen.menu = menu;
        seen.position = menu->pos();
        seen.parentless = menu->parent() == nullptr;
        const QList<QAction*> actions = menu->actions();
        for (QAction* action : actions) {
            seen.actions << action;
            seen.texts << (action->isSeparator() ? QString("----") : action->text());
        }
        QTest::keyClick(menu, Qt::Key_Escape);
    });
}

} // namespace

class TestChrome : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void windowHasNoSystemFrameAndNoFixedSize();
    void visibleArea_data();
    void visibleArea();
    void maskFollowsEveryResize_data();
    void maskFollowsEveryResize();
    void visiblePartIsTheContentInsideTheBand();

    void maximizedGeometry_data();
    void maximizedGeometry();
    void maximiseAndRestore_data();
    void maximiseAndRestore();
    void doubleClickElsewhereDoesNotMaximise_data();
    void doubleClickElsewhereDoesNotMaximise();
    void maximiseUsesTheMeasuredSystemFrame();
    void maximisesOverItsOwnScreen();
    void minimiseKeepsTheMaximisedState();
    void closeButtonClosesTheWindow();

    void drag_data();
    void drag();

    void controlsKeepTheirPresses_data();
    void controlsKeepTheirPresses();

    void helpMenu_data();
    void helpMenu();
    void helpButtonPostsTheMenuRequest();
    void editFieldKeepsItsOwnMenu();
    void menuCommands_data();
    void menuCommands();
    void onlineSupportDoesNothing();
    void logoButtonShowsTheAboutBox();

    void keys_data();
    void keys();
};

void TestChrome::init()
{
    // Every on_<name>_<signal> slot of the window must find its signal.
    QTest::failOnWarning(QRegularExpression("No matching signal"));
}

void TestChrome::windowHasNoSystemFrameAndNoFixedSize()
{
    Glassmere window;
    QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(window.windowType(), Qt::Window);
    QCOMPARE(window.size(), QSize(827, 627));
    window.move(100, 60);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.frameGeometry(), window.geometry());
    QCOMPARE(window.geometry(), QRect(100, 60, 827, 627));
    QVERIFY(!A::maximized(window));
    // Only the maximise command fixes the size.
    QCOMPARE(window.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    QVERIFY(window.minimumSize() != window.size());
}

void TestChrome::visibleArea_data()
{
    QTest::addColumn<QSize>("client");
    QTest::addColumn<QRect>("visible");

    QTest::newRow("form size") << QSize(827, 627) << QRect(11, 11, 805, 605);
    QTest::newRow("maximised on 1920 x 1040") << QSize(1942, 1062) << QRect(11, 11, 1920, 1040);
    QTest::newRow("odd size") << QSize(1001, 333) << QRect(11, 11, 979, 311);
    QTest::newRow("nothing but the band") << QSize(22, 22) << QRect(11, 11, 0, 0);
}

void TestChrome::visibleArea()
{
    QFETCH(QSize, client);
    QFETCH(QRect, visible);
    QCOMPARE(::visibleArea(client), visible);
}

void TestChrome::maskFollowsEveryResize_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QRect>("visible");

    QTest::newRow("form size") << QSize(827, 627) << QRect(11, 11, 805, 605);
    QTest::newRow("larger") << QSize(1000, 700) << QRect(11, 11, 978, 678);
    QTest::newRow("taller") << QSize(900, 790) << QRect(11, 11, 878, 768);
}

void TestChrome::maskFollowsEveryResize()
{
    QFETCH(QSize, size);
    QFETCH(QRect, visible);

    Glassmere window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.resize(700, 650); // something else first, so every row is a real change
    window.resize(size);
    QCOMPARE(window.size(), size);
    QTRY_COMPARE(window.mask(), QRegion(visible, QRegion::Rectangle));
}

void TestChrome::visiblePartIsTheContentInsideTheBand()
{
    // The mask cuts exactly at the title bar and the lower border, no pixel more or less.
    Glassmere window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect visible = window.mask().boundingRect();
    QWidget* top = part(window, "frame_Top");
    QWidget* bottomRight = part(window, "label_BRight");
    QCOMPARE(top->mapTo(&window, QPoint(0, 0)), visible.topLeft());
    QCOMPARE(top->width(), visible.width());
    QCOMPARE(bottomRight->mapTo(&window, QPoint(bottomRight->width(), bottomRight->height())),
             visible.bottomRight() + QPoint(1, 1));
}

void TestChrome::maximizedGeometry_data()
{
    QTest::addColumn<QRect>("available");
    QTest::addColumn<int>("side");
    QTest::addColumn<int>("top");
    QTest::addColumn<QRect>("placement");

    // A window with a 4-pixel frame and a 24-pixel title bar: the width takes
    // the side border once more.
    QTest::newRow("1920 x 1040, framed")
        << QRect(0, 0, 1920, 1040) << 4 << 24 << QRect(-15, -35, 1946, 1062);
    QTest::newRow("1920 x 1040, frameless")
        << QRect(0, 0, 1920, 1040) << 0 << 0 << QRect(-11, -11, 1942, 1062);
    QTest::newRow("panel at the top")
        << QRect(0, 32, 1920, 1048) << 0 << 0 << QRect(-11, 21, 1942, 1070);
    QTest::newRow("panel at the left")
        << QRect(48, 0, 1872, 1080) << 0 << 0 << QRect(37, -11, 1894, 1102);
    QTest::newRow("second screen")
        << QRect(1920, 0, 1280, 1024) << 0 << 0 << QRect(1909, -11, 1302, 1046);
    QTest::newRow("screen above, framed")
        << QRect(0, -768, 1024, 768) << 2 << 2 << QRect(-13, -781, 1048, 790);
}

void TestChrome::maximizedGeometry()
{
    QFETCH(QRect, available);
    QFETCH(int, side);
    QFETCH(int, top);
    QFETCH(QRect, placement);

    const QRect result = ::maximizedGeometry(available, side, top);
    QCOMPARE(result, placement);

    // The frame's top-left corner is moved; the client area lies (side, top) further in,
    // and the visible part 11 more: it starts at the available area's corner.
    const QPoint clientAt = result.topLeft() + QPoint(side, top);
    const QRect visible = ::visibleArea(result.size()).translated(clientAt);
    QCOMPARE(visible.topLeft(), available.topLeft());
    QCOMPARE(visible.height(), available.height());
    QCOMPARE(visible.width(), available.width() + side);
}

void TestChrome::maximiseAndRestore_data()
{
    QTest::addColumn<QString>("by");
    QTest::addColumn<int>("button");

    QTest::newRow("maximise button") << QString("btnMax") << int(Qt::LeftButton);
    QTest::newRow("double click on the title label") << QString("label_Top") << int(Qt::LeftButton);
    QTest::newRow("double click on the title area")
        << QString("frame_Title") << int(Qt::LeftButton);
    QTest::newRow("double click on the button area")
        << QString("frame_TopButton") << int(Qt::LeftButton);
    QTest::newRow("right double click on the title area")
        << QString("frame_Title") << int(Qt::RightButton);
}

void TestChrome::maximiseAndRestore()
{
    QFETCH(QString, by);
    QFETCH(int, button);

    Glassmere window;
    window.move(100, 60);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QRect before(100, 60, 827, 627);
    QCOMPARE(window.geometry(), before);
    QCOMPARE(window.screen()->availableGeometry(), leftScreen);

    QWidget* target = part(window, by);
    const QPoint spot = by == "btnMax" ? target->rect().center() : emptySpot(target);
    QVERIFY(target->rect().contains(spot));
    auto command = [&] {
        if (by == "btnMax")
            QTest::mouseClick(target, Qt::LeftButton, Qt::NoModifier, spot);
        else
            QTest::mouseDClick(target, Qt::MouseButton(button), Qt::NoModifier, spot);
    };

    for (int round = 0; round < 2; ++round) {
        command();
        QVERIFY(A::maximized(window));
        QCOMPARE(A::savedGeometry(window), before);
        QCOMPARE(window.geometry(), QRect(-11, -11, 822, 822));
        QCOMPARE(window.frameGeometry(), window.geometry());
        QCOMPARE(window.minimumSize(), QSize(822, 822));
        QCOMPARE(window.maximumSize(), QSize(822, 822));
        QTRY_COMPARE(visibleOnScreen(window), leftScreen);

        command();
        QVERIFY(!A::maximized(window));
        QCOMPARE(window.geometry(), before);
        QCOMPARE(window.minimumSize(), before.size());
        QCOMPARE(window.maximumSize(), before.size());
        QTRY_COMPARE(visibleOnScreen(window), before.adjusted(11, 11, -11, -11));
    }
}

void TestChrome::doubleClickElsewhereDoesNotMaximise_data()
{
    QTest::addColumn<QString>("on");
    QTest::newRow("left border") << QString("label_Left");
    QTest::newRow("lower border") << QString("label_Bottom");
    QTest::newRow("upper border strip") << QString("frame");
    QTest::newRow("settings box") << QString("groupBox_5");
}

void TestChrome::doubleClickElsewhereDoesNotMaximise()
{
    QFETCH(QString, on);
    Glassmere window;
    window.move(100, 60);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QWidget* target = part(window, on);
    QTest::mouseDClick(target, Qt::LeftButton, Qt::NoModifier, emptySpot(target));
    QVERIFY(!A::maximized(window));
    QCOMPARE(window.geometry(), QRect(100, 60, 827, 627));
}

void TestChrome::maximiseUsesTheMeasuredSystemFrame()
{
    // Where a system frame exists (2 pixels on every side here), the frame is
    // moved so that the client area, not the frame, lands 11 pixels before the corner.
    Glassmere window;
    window.setWindowFlags(window.windowFlags() & ~Qt::FramelessWindowHint);
    window.move(100, 60);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.frameGeometry(), window.geometry().adjusted(-2, -2, 2, 2));
    const QRect before = window.geometry();

    // Compared with what the window asks for at once: the offscreen platform
    // afterwards pushes a framed window's frame back onto the screen, which
    // a real window manager need not do.
    A::maximise(window);
    QCOMPARE(window.geometry(), QRect(-11, -11, 800 + 2 + 22, 822));
    QCOMPARE(window.frameGeometry().topLeft(), QPoint(-13, -13));

    A::maximise(window);
    QCOMPARE(window.geometry(), before);
}

void TestChrome::maximisesOverItsOwnScreen()
{
    if (QGuiApplication::screens().size() < 2)
        QSKIP("the platform offers a single screen");
    Glassmere window;
    window.move(rightScreen.topLeft() + QPoint(50, 20));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(window.screen()->geometry(), rightScreen);

    A::maximise(window);
    QCOMPARE(window.geometry(), QRect(789, -11, 1046, 622));
    QCOMPARE(visibleOnScreen(window), rightScreen);
    A::maximise(window);
    QCOMPARE(window.geometry(), QRect(rightScreen.topLeft() + QPoint(50, 20), QSize(827, 627)));
}

void TestChrome::minimiseKeepsTheMaximisedState()
{
    Glassmere window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    A::maximise(window);
    QTest::mouseClick(A::ui(window).btnMinimize, Qt::LeftButton);
    QTRY_VERIFY(window.isMinimized());
    QVERIFY(A::maximized(window));
    QCOMPARE(window.geometry(), QRect(-11, -11, 822, 822));
}

void TestChrome::closeButtonClosesTheWindow()
{
    Glassmere window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(A::ui(window).btnClose, Qt::LeftButton);
    QVERIFY(!window.isVisible());
}

void TestChrome::drag_data()
{
    QTest::addColumn<QString>("on");
    QTest::addColumn<int>("pressed");
    QTest::addColumn<int>("held");
    QTest::addColumn<bool>("maximisedFirst");
    QTest::addColumn<QPoint>("delta");
    QTest::addColumn<bool>("recorded");
    QTest::addColumn<bool>("moves");

    const int left = Qt::LeftButton;
    QTest::newRow("title label") << QString("label_Top") << left << left << false << QPoint(120, 45)
                                 << true << true;
    QTest::newRow("title area") << QString("frame_Title") << left << left << false
                                << QPoint(-70, 30) << true << true;
    QTest::newRow("button area") << QString("frame_TopButton") << left << left << false
                                 << QPoint(-40, -20) << true << true;
    QTest::newRow("upper border strip")
        << QString("frame") << left << left << false << QPoint(30, 90) << true << true;
    QTest::newRow("left border") << QString("label_Left") << left << left << false
                                 << QPoint(60, -25) << true << true;
    QTest::newRow("lower border") << QString("label_Bottom") << left << left << false
                                  << QPoint(-15, 140) << true << true;
    QTest::newRow("settings box") << QString("groupBox_5") << left << left << false << QPoint(5, 5)
                                  << true << true;
    QTest::newRow("right button") << QString("label_Top") << int(Qt::RightButton)
                                  << int(Qt::RightButton) << false << QPoint(120, 45) << false
                                  << false;
    QTest::newRow("middle button")
        << QString("frame_Title") << int(Qt::MiddleButton) << int(Qt::MiddleButton) << false
        << QPoint(50, 50) << false << false;
    QTest::newRow("left press, move with the right button")
        << QString("label_Top") << left << int(Qt::RightButton) << false << QPoint(50, 50) << true
        << false;
    QTest::newRow("maximised") << QString("label_Top") << left << left << true << QPoint(120, 45)
                               << true << false;
}

void TestChrome::drag()
{
    QFETCH(QString, on);
    QFETCH(int, pressed);
    QFETCH(int, held);
    QFETCH(bool, maximisedFirst);
    QFETCH(QPoint, delta);
    QFETCH(bool, recorded);
    QFETCH(bool, moves);

    Glassmere window;
    window.move(100, 60);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (maximisedFirst)
        A::maximise(window);

    QWidget* target = part(window, on);
    const QPoint spot = emptySpot(target);
    QVERIFY(target->rect().contains(spot));
    const QPoint start = target->mapToGlobal(spot);
    const QPoint windowAt = window.frameGeometry().topLeft();
    const QPoint grabbed = window.mapFromGlobal(start);

    sendMouse(target, QEvent::MouseButtonPress, start, Qt::MouseButton(pressed),
              Qt::MouseButtons(pressed));
    if (recorded)
        QCOMPARE(A::dragPosition(window), start - windowAt);
    else
        QCOMPARE(A::dragPosition(window), QPoint());

    // Two steps: the second starts from where the first left the window.
    const QPoint end = start + delta + QPoint(7, -3);
    sendMouse(target, QEvent::MouseMove, start + delta, Qt::NoButton, Qt::MouseButtons(held));
    sendMouse(target, QEvent::MouseMove, end, Qt::NoButton, Qt::MouseButtons(held));
    sendMouse(target, QEvent::MouseButtonRelease, end, Qt::MouseButton(pressed), Qt::NoButton);

    if (moves) {
        QCOMPARE(window.frameGeometry().topLeft(), windowAt + delta + QPoint(7, -3));
        // The point that was grabbed is still under the cursor.
        QCOMPARE(window.mapFromGlobal(end), grabbed);
    } else {
        QCOMPARE(window.frameGeometry().topLeft(), windowAt);
    }
    QCOMPARE(window.size(), maximisedFirst ? QSize(822, 822) : QSize(827, 627));
}

void TestChrome::controlsKeepTheirPresses_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QPoint>("pressAt"); // negative: from the right or bottom edge
    QTest::addColumn<bool>("earlierDrag");

    QTest::newRow("push button") << QString("btnHelp") << QPoint(10, 10) << false;
    QTest::newRow("push button, after a drag") << QString("btnHelp") << QPoint(10, 10) << true;
    QTest::newRow("slider groove") << QString("refSize") << QPoint(-4, 10) << false;
    QTest::newRow("slider groove, after a drag") << QString("refSize") << QPoint(-4, 10) << true;
    QTest::newRow("edit field, after a drag") << QString("txtSize") << QPoint(5, 5) << true;
}

void TestChrome::controlsKeepTheirPresses()
{
    // A control that took the press lets the moves that leave it pass on to
    // the window; they must not drag the window, not even from where an
    // earlier drag left its grab point.
    QFETCH(QString, control);
    QFETCH(QPoint, pressAt);
    QFETCH(bool, earlierDrag);

    Glassmere window;
    window.move(100, 60);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (earlierDrag) {
        QWidget* title = part(window, "label_Top");
        const QPoint from = title->mapToGlobal(emptySpot(title));
        sendMouse(title, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
        sendMouse(title, QEvent::MouseMove, from + QPoint(30, 20), Qt::NoButton, Qt::LeftButton);
        sendMouse(title, QEvent::MouseButtonRelease, from + QPoint(30, 20), Qt::LeftButton,
                  Qt::NoButton);
        QCOMPARE(window.pos(), QPoint(130, 80));
    }
    const QPoint windowAt = window.pos();

    QWidget* target = part(window, control);
    const QPoint spot(pressAt.x() < 0 ? target->width() + pressAt.x() : pressAt.x(),
                      pressAt.y() < 0 ? target->height() + pressAt.y() : pressAt.y());
    const QPoint start = target->mapToGlobal(spot);
    sendMouse(target, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    for (const QPoint step : {QPoint(40, 15), QPoint(120, 45), QPoint(200, 90)})
        sendMouse(target, QEvent::MouseMove, start + step, Qt::NoButton, Qt::LeftButton);
    sendMouse(target, QEvent::MouseButtonRelease, start + QPoint(200, 90), Qt::LeftButton,
              Qt::NoButton);
    QCOMPARE(window.pos(), windowAt);
}

void TestChrome::helpMenu_data()
{
    QTest::addColumn<QString>("from");
    QTest::newRow("help button") << QString("btnHelp");
    QTest::newRow("right click on the title label") << QString("label_Top");
    QTest::newRow("right click on the lower border") << QString("label_Bottom");
    QTest::newRow("right click on the left border") << QString("label_Left");
    QTest::newRow("right click on the image information") << QString("groupBox_6");
}

void TestChrome::helpMenu()
{
    QFETCH(QString, from);

    Glassmere window;
    window.move(100, 60);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Ui::GlassmereClass& ui = A::ui(window);

    ChromeWatch watch;
    MenuSeen seen;
    recordNextMenu(watch, seen);
    QPoint expectedAt;
    if (from == "btnHelp") {
        // The menu opens at the cursor, wherever the click came from.
        expectedAt = QPoint(250, 300);
        QCursor::setPos(expectedAt);
        QTest::mouseClick(ui.btnHelp, Qt::LeftButton);
    } else {
        QWidget* target = part(window, from);
        const QPoint inWindow = target->mapTo(&window, emptySpot(target));
        expectedAt = window.mapToGlobal(inWindow);
        QTest::mouseClick(window.windowHandle(), Qt::RightButton, Qt::NoModifier, inWindow);
    }
    QTRY_COMPARE(watch.seen, 1);
    QCOMPARE(watch.timedOut, 0);

    QCOMPARE(seen.texts, QStringList({"Help Manual", "----", "&Check for New Version", "----",
                                      "&Visit Our Web Site", "&About Us"}));
    QCOMPARE(seen.actions[0], ui.actionMenuHelper);
    QCOMPARE(seen.actions[2], ui.actionCheck_for_New_Version);
    QCOMPARE(seen.actions[4], ui.actionVisit_Our_Web_Site);
    QCOMPARE(seen.actions[5], ui.actionAbout_Us);
    QCOMPARE(ui.actionMenuHelper->shortcut(), QKeySequence(Qt::Key_F1));
    QVERIFY(ui.actionMenuHelper->isShortcutVisibleInContextMenu());
    QCOMPARE(seen.position, expectedAt);
    QVERIFY(seen.parentless);
    // A new menu for every request, gone once it has closed.
    QTRY_VERIFY(seen.menu.isNull());
}

void TestChrome::helpButtonPostsTheMenuRequest()
{
    Glassmere window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ChromeWatch watch;
    MenuSeen seen;
    recordNextMenu(watch, seen);

    A::help(window);
    QCOMPARE(watch.seen, 0);
    QVERIFY(!ChromeWatch::visibleTopLevel<QMenu>());
    QTRY_COMPARE(watch.seen, 1);
    QCOMPARE(seen.actions.value(0), A::ui(window).actionMenuHelper);
}

void TestChrome::editFieldKeepsItsOwnMenu()
{
    Glassmere window;
    window.move(100, 60);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ChromeWatch watch;
    MenuSeen seen;
    recordNextMenu(watch, seen);
    QWidget* field = A::ui(window).txtSize;
    QTest::mouseClick(window.windowHandle(), Qt::RightButton, Qt::NoModifier,
                      field->mapTo(&window, field->rect().center()));
    QTRY_COMPARE(watch.seen, 1);
    QVERIFY(!seen.actions.contains(A::ui(window).actionMenuHelper));
}

void TestChrome::menuCommands_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QUrl>("opens");
    QTest::addColumn<bool>("showsAbout");

    QTest::newRow("Help Manual") << QString("Help Manual")
                                 << QUrl(QString::fromUtf8(helpPageAddress)) << false;
    QTest::newRow("Check for New Version")
        << QString("&Check for New Version") << QUrl(QString::fromUtf8(homePageAddress)) << false;
    QTest::newRow("Visit Our Web Site")
        << QString("&Visit Our Web Site") << QUrl(QString::fromUtf8(homePageAddress)) << false;
    QTest::newRow("About Us") << QString("&About Us") << QUrl() << true;
}

void TestChrome::menuCommands()
{
    QFETCH(QString, entry);
    QFETCH(QUrl, opens);
    QFETCH(bool, showsAbout);

    Glassmere window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ChromeUrlSink sink;

    ChromeWatch menuWatch;
    menuWatch.whenShown<QMenu>([&](QMenu* menu) {
        const QList<QAction*> actions = menu->actions();
        for (QAction* action : actions) {
            if (action->text() == entry) {
                QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                                  menu->actionGeometry(action).center());
                return;
            }
        }
        menu->close();
    });
    ChromeWatch aboutWatch;
    QString aboutTitle;
    QPointer<about> box;
    if (showsAbout) {
        aboutWatch.whenShown<about>([&](about* shown) {
            box = shown;
            aboutTitle = shown->findChild<QLabel*>("lbTitle")->text();
            shown->close();
        });
    }

    QCursor::setPos(250, 300);
    A::help(window);
    QTRY_COMPARE(menuWatch.seen, 1);
    QCOMPARE(menuWatch.timedOut, 0);
    if (showsAbout) {
        QTRY_COMPARE(aboutWatch.seen, 1);
        QCOMPARE(aboutTitle, QString("Glassmere 3.1.0"));
        QTRY_VERIFY(box.isNull());
        QVERIFY(sink.urls.isEmpty());
    } else {
        QCOMPARE(sink.urls, QList<QUrl>({opens}));
    }
}

void TestChrome::onlineSupportDoesNothing()
{
    Glassmere window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ChromeUrlSink sink;
    A::ui(window).actionOnline_Support->trigger();
    QTest::qWait(50);
    QVERIFY(sink.urls.isEmpty());
    QVERIFY(!ChromeWatch::visibleTopLevel<QMenu>());
    QVERIFY(!ChromeWatch::visibleTopLevel<about>());
}

void TestChrome::logoButtonShowsTheAboutBox()
{
    Glassmere window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ChromeWatch watch;
    QPointer<about> box;
    bool parentless = false;
    bool modal = false;
    watch.whenShown<about>([&](about* shown) {
        box = shown;
        parentless = shown->parentWidget() == nullptr;
        modal = shown->isModal();
        QTest::mouseClick(shown->findChild<QPushButton*>("pushButton"), Qt::LeftButton);
    });
    QTest::mouseClick(A::ui(window).btReflection, Qt::LeftButton);
    QCOMPARE(watch.seen, 1);
    QCOMPARE(watch.timedOut, 0);
    QVERIFY(parentless);
    QVERIFY(modal);
    // Built for this showing only.
    QTRY_VERIFY(box.isNull());
}

void TestChrome::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("onFocusedButton");
    QTest::addColumn<QString>("command");

    const int none = Qt::NoModifier;
    const int alt = Qt::AltModifier;
    QTest::newRow("F1") << int(Qt::Key_F1) << none << false << QString("help");
    QTest::newRow("Shift+F1") << int(Qt::Key_F1) << int(Qt::ShiftModifier) << false
                              << QString("help");
    QTest::newRow("Ctrl+Alt+F1") << int(Qt::Key_F1) << int(Qt::ControlModifier | Qt::AltModifier)
                                 << false << QString("help");
    QTest::newRow("Meta+F1") << int(Qt::Key_F1) << int(Qt::MetaModifier) << false
                             << QString("help");
    QTest::newRow("F1 on a focused button") << int(Qt::Key_F1) << none << true << QString("help");
    QTest::newRow("Alt+O") << int(Qt::Key_O) << alt << false << QString("open");
    QTest::newRow("Alt+S") << int(Qt::Key_S) << alt << false << QString("save");
    QTest::newRow("Alt+O on a focused button") << int(Qt::Key_O) << alt << true << QString("open");
    QTest::newRow("Ctrl+O") << int(Qt::Key_O) << int(Qt::ControlModifier) << false
                            << QString("nothing");
    QTest::newRow("Ctrl+S") << int(Qt::Key_S) << int(Qt::ControlModifier) << false
                            << QString("nothing");
    QTest::newRow("Alt+Shift+O") << int(Qt::Key_O) << int(Qt::AltModifier | Qt::ShiftModifier)
                                 << false << QString("nothing");
    QTest::newRow("Alt+Shift+S") << int(Qt::Key_S) << int(Qt::AltModifier | Qt::ShiftModifier)
                                 << false << QString("nothing");
    QTest::newRow("Ctrl+Alt+O") << int(Qt::Key_O) << int(Qt::AltModifier | Qt::ControlModifier)
                                << false << QString("nothing");
    QTest::newRow("O") << int(Qt::Key_O) << none << false << QString("nothing");
    QTest::newRow("S") << int(Qt::Key_S) << none << false << QString("nothing");
    QTest::newRow("Alt+P") << int(Qt::Key_P) << alt << false << QString("nothing");
    QTest::newRow("F2") << int(Qt::Key_F2) << none << false << QString("nothing");
}

void TestChrome::keys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, onFocusedButton);
    QFETCH(QString, command);

    Glassmere window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    if (command == "open" && !showsFileDialog(window, &A::openCommand))
        QSKIP("the open command shows no dialog yet");
    if (command == "save" && !showsFileDialog(window, &A::saveCommand))
        QSKIP("the save command shows no dialog yet");

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
    if (command == "open")
        QCOMPARE(dialogs, QList<QFileDialog::AcceptMode>({QFileDialog::AcceptOpen}));
    else if (command == "save")
        QCOMPARE(dialogs, QList<QFileDialog::AcceptMode>({QFileDialog::AcceptSave}));
    else
        QVERIFY(dialogs.isEmpty());
}

// Two screens side by side instead of the offscreen platform's single one, so
// that the window maximises over the screen it is on.
int main(int argc, char* argv[])
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    QString config;
    if (platform == "offscreen") {
        config = QDir::temp().filePath(
            QString("glassmere-chrome-screens-%1.json").arg(QCoreApplication::applicationPid()));
        QFile file(config);
        if (file.open(QIODevice::WriteOnly)) {
            const QString screen("{\"name\": \"%1\", \"x\": %2, \"y\": %3, \"width\": %4, "
                                 "\"height\": %5, \"logicalDpi\": 96, \"logicalBaseDpi\": 96, "
                                 "\"dpr\": 1}");
            const QString json =
                QString("{\"synchronousWindowSystemEvents\": false, \"windowFrameMargins\": true, "
                        "\"screens\": [%1, %2]}")
                    .arg(screen.arg("left")
                             .arg(leftScreen.x())
                             .arg(leftScreen.y())
                             .arg(leftScreen.width())
                             .arg(leftScreen.height()),
                         screen.arg("right")
                             .arg(rightScreen.x())
                             .arg(rightScreen.y())
                             .arg(rightScreen.width())
                             .arg(rightScreen.height()));
            file.write(json.toUtf8());
            file.close();
            qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config));
        }
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        TestChrome test;
        QTEST_SET_MAIN_SOURCE_PATH
        result = QTest::qExec(&test, argc, argv);
    }
    if (!config.isEmpty())
        QFile::remove(config);
    return result;
}

#include "tst_chrome.moc"
