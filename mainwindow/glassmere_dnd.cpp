// SPDX-License-Identifier: GPL-3.0-or-later
#include "glassmere.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
#include <QWheelEvent>

// Drag and drop stands in for two choosers:
// - one local file dropped anywhere on the window opens as if the open command
//   had chosen it, on either tab (the open button works on both too);
// - one local folder dropped anywhere on the window while the batch tab
//   ("all-at-once") shows, both folder fields included, becomes the picture
//   folder, as if its "Browse" had chosen it. On the first tab a folder is
//   refused: nothing there takes one.
// Several items, remote addresses and anything else are refused, so the cursor
// says so before the drop. The drop always copies: the source keeps its file.

namespace {

enum class DropKind { None, Picture, Folder };

DropKind dropKind(const QMimeData* data, bool batchTabShown, QString* path)
{
    if (!data || !data->hasUrls())
        return DropKind::None;
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return DropKind::None;
    *path = urls.first().toLocalFile();
    const QFileInfo info(*path);
    if (info.isDir())
        return batchTabShown ? DropKind::Folder : DropKind::None;
    // Whether it is a picture only decoding can tell; a file that is not gets
    // the open command's failure box.
    return info.isFile() ? DropKind::Picture : DropKind::None;
}

} // namespace

void Glassmere::AcceptDrops()
{
    setAcceptDrops(true);
    // Two kinds of children take drags themselves: a line edit would insert the
    // dragged file's address as text, and the preview would hand the drag to
    // its scene, which takes none. Drags that carry addresses are the window's
    // wherever they are dropped.
    const QList<QLineEdit*> fields = findChildren<QLineEdit*>();
    for (QLineEdit* field : fields)
        field->installEventFilter(this);
    ui.graphicsView->viewport()->installEventFilter(this);
}

void Glassmere::HandleDrag(QDropEvent* event)
{
    QString path;
    const bool batchTabShown = ui.tabWidget->currentWidget() == ui.tab_6;
    const DropKind kind = dropKind(event->mimeData(), batchTabShown, &path);
    if (kind == DropKind::None || !(event->possibleActions() & Qt::CopyAction)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (event->type() != QEvent::Drop)
        return;

    if (kind == DropKind::Folder) {
        ui.txtPicDir->setText(FormatDir(path));
        return;
    }
    // Opened once the drop has returned: the drag source waits for the drop to
    // end, and neither a large picture nor the failure box should keep it waiting.
    QMetaObject::invokeMethod(
        this, [this, path] { OpenPicture(path); }, Qt::QueuedConnection);
}

void Glassmere::dragEnterEvent(QDragEnterEvent* event)
{
    HandleDrag(event);
}

void Glassmere::dragMoveEvent(QDragMoveEvent* event)
{
    HandleDrag(event);
}

void Glassmere::dropEvent(QDropEvent* event)
{
    HandleDrag(event);
}

bool Glassmere::eventFilter(QObject* watched, QEvent* event)
{
    if (IsWindowKey(watched, event)) {
        event->ignore(); // not the field's: the window's shortcut takes it
        return true;
    }
    const QEvent::Type type = event->type();
    if (type == QEvent::Wheel && watched == ui.graphicsView->viewport() &&
        ZoomByWheel(static_cast<QWheelEvent*>(event)))
        return true;
    if (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop) {
        auto* drag = static_cast<QDropEvent*>(event);
        // Plain text stays the field's to take.
        const bool mine =
            qobject_cast<QLineEdit*>(watched) || watched == ui.graphicsView->viewport();
        if (mine && drag->mimeData() && drag->mimeData()->hasUrls()) {
            HandleDrag(drag);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
