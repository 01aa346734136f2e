// SPDX-License-Identifier: GPL-3.0-or-later
#include "glassmere.h"

#include "app/globals.h"
#include "mainwindow/chrome_geometry.h"
#include "widgets/about.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QRegion>
#include <QScreen>
#include <QShortcut>
#include <QUrl>
#include <QWindow>

QRect visibleArea(const QSize& clientSize)
{
    const int band = Glassmere::maskBand;
    return QRect(band, band, clientSize.width() - 2 * band, clientSize.height() - 2 * band);
}

QRect maximizedGeometry(const QRect& available, int sideBorder, int topBorder)
{
    // move() places the frame: shifting it back by the frame's own border puts
    // the client area, and 11 pixels further the visible part, on `available`.
    const int band = Glassmere::maskBand;
    const QPoint framePosition =
        available.topLeft() - QPoint(band, band) - QPoint(sideBorder, topBorder);
    // The width takes one side border more and the height none, so a framed window's
    // visible part is that border wider than `available`; without a frame it fits exactly.
    const QSize clientSize(available.width() + sideBorder + 2 * band,
                           available.height() + 2 * band);
    return QRect(framePosition, clientSize);
}

static bool compositorMovesWindows()
{
    // A Wayland client cannot place its own window; the compositor must move it.
    return QGuiApplication::platformName() == QLatin1String("wayland");
}

void Glassmere::SetFramelessHint()
{
    // On X11 the window manager keeps drawing its frame and title bar around a
    // masked window; only this hint removes them.
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
}

void Glassmere::resizeEvent(QResizeEvent*)
{
    setMask(QRegion(visibleArea(size()), QRegion::Rectangle));
}

void Glassmere::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragPosition = event->globalPosition().toPoint() - frameGeometry().topLeft();
    dragging = true;
    event->accept();
}

void Glassmere::mouseReleaseEvent(QMouseEvent* event)
{
    // A button or slider that took the press ignores the moves that leave it,
    // and those reach the window too; they must not drag it from an old position.
    if (event->button() == Qt::LeftButton)
        dragging = false;
}

void Glassmere::mouseMoveEvent(QMouseEvent* event)
{
    if (maximized)
        return;
    if (!dragging || !(event->buttons() & Qt::LeftButton))
        return;
    // The system move starts on the first move, not on the press, so that the
    // presses of a double click on the title bar still reach the window.
    if (compositorMovesWindows() && windowHandle())
        windowHandle()->startSystemMove();
    else
        move(event->globalPosition().toPoint() - dragPosition);
    event->accept();
}

void Glassmere::on_btnMax_clicked()
{
    if (!maximized) {
        savedGeometry = geometry();
        // The frame is measured on the window itself rather than taken from the
        // style's title-bar height: a frameless window has no title bar (nor side
        // border) although the style still reports one, and the available area
        // need not start at the screen's corner (a panel at the top or left).
        const int sideBorder = (frameGeometry().width() - geometry().width()) / 2;
        const int topBorder = geometry().y() - frameGeometry().y();
        const QRect placement =
            maximizedGeometry(screen()->availableGeometry(), sideBorder, topBorder);
        move(placement.topLeft());
        setFixedSize(placement.width(), placement.height());
        maximized = true;
    } else {
        setGeometry(savedGeometry);
        setFixedSize(savedGeometry.width(), savedGeometry.height());
        maximized = false;
    }
    on_pbFit_clicked();
}

void Glassmere::on_btnMinimize_clicked()
{
    showMinimized();
}

void Glassmere::on_btnClose_clicked()
{
    close();
}

void Glassmere::on_btnHelp_clicked()
{
    // Posted, so the menu opens once the button has finished its click.
    const QPoint cursor = QCursor::pos();
    QCoreApplication::postEvent(
        this, new QContextMenuEvent(QContextMenuEvent::Mouse, mapFromGlobal(cursor), cursor));
}

void Glassmere::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu;
    // Menus without a parent menu or menu bar hide shortcuts on some desktops;
    // the help entry always shows its F1.
    ui.actionMenuHelper->setShortcutVisibleInContextMenu(true);
    menu.addAction(ui.actionMenuHelper);
    menu.addSeparator();
    menu.addAction(ui.actionCheck_for_New_Version);
    menu.addSeparator();
    menu.addAction(ui.actionVisit_Our_Web_Site);
    menu.addAction(ui.actionAbout_Us);
    menu.exec(mapToParent(event->pos()));
}

void Glassmere::on_actionMenuHelper_triggered()
{
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(helpPageAddress)));
}

void Glassmere::on_actionCheck_for_New_Version_triggered()
{
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(homePageAddress)));
}

void Glassmere::on_actionOnline_Support_triggered() {}

void Glassmere::on_actionVisit_Our_Web_Site_triggered()
{
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(homePageAddress)));
}

void Glassmere::on_actionAbout_Us_triggered()
{
    About();
}

void Glassmere::on_btReflection_clicked()
{
    About();
}

void Glassmere::About()
{
    about box(nullptr);
    box.exec();
}

void Glassmere::keyPressEvent(QKeyEvent* e)
{
    if (e->key() == Qt::Key_F1)
        on_actionMenuHelper_triggered();
}

// Shortcuts of the window rather than keys of whatever has the focus: a
// number field keeps Alt+O and Alt+S from reaching the window's key handler,
// and would take the clipboard and undo keys for its few digits (the
// window's event filter gives those back to the window). The folder fields
// keep their own clipboard and undo.
void Glassmere::CreateShortcuts()
{
    const auto command = [this](QKeyCombination keys, auto member) {
        connect(new QShortcut(QKeySequence(keys), this), &QShortcut::activated, this, member);
    };
    command(Qt::ALT | Qt::Key_O, &Glassmere::on_btAddPic_clicked);
    command(Qt::ALT | Qt::Key_S, [this] {
        if (ui.btSavePic->isEnabled())
            on_btSavePic_clicked();
    });
    command(Qt::CTRL | Qt::Key_Z, &Glassmere::UndoSettings);
    command(Qt::CTRL | Qt::SHIFT | Qt::Key_Z, &Glassmere::RedoSettings);
    command(Qt::CTRL | Qt::Key_C, &Glassmere::CopyResult);
    command(Qt::CTRL | Qt::Key_V, &Glassmere::PastePicture);
}

bool Glassmere::IsWindowKey(QObject* watched, QEvent* event) const
{
    if (event->type() != QEvent::ShortcutOverride || watched == ui.txtPicDir ||
        watched == ui.txtResultDir)
        return false;
    const QKeyCombination keys = static_cast<QKeyEvent*>(event)->keyCombination();
    for (QKeyCombination windowKeys : {Qt::CTRL | Qt::Key_Z, Qt::CTRL | Qt::SHIFT | Qt::Key_Z,
                                       Qt::CTRL | Qt::Key_C, Qt::CTRL | Qt::Key_V})
        if (keys == windowKeys)
            return true;
    return false;
}
