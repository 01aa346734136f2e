#include "mainwindow/glassmere.h"

#include "imaging/preview_image.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QPixmap>

void Glassmere::ShowImage(fipImage* image)
{
    // One pass from the FreeImage buffer to a top-down image the pixmap takes as
    // it is; a result that cannot be converted leaves the previous preview.
    QImage shown = previewImage(*image);
    if (shown.isNull())
        return;
    const QRectF sceneRect(shown.rect());
    QPixmap pixmap = QPixmap::fromImage(std::move(shown));

    scene->clear();
    scene->setSceneRect(sceneRect);
    pixmapItem = scene->addPixmap(pixmap);
}

void Glassmere::on_pbZoomIn_clicked()
{
    ui.graphicsView->scale(1.2, 1.2);
}

void Glassmere::on_pbZoomOut_clicked()
{
    ui.graphicsView->scale(0.8, 0.8);
}

void Glassmere::on_pbRawSize_clicked()
{
    ui.graphicsView->resetTransform();
}

void Glassmere::on_pbFit_clicked()
{
    if (!pixmapItem)
        return;
    // Compared with the whole view widget, regardless of the zoom: a picture
    // that fits is never enlarged and a zoom the user chose stays.
    const QPixmap pixmap = pixmapItem->pixmap();
    if (pixmap.width() > ui.graphicsView->width() || pixmap.height() > ui.graphicsView->height()) {
        ui.graphicsView->resetTransform();
        ui.graphicsView->fitInView(scene->sceneRect(), Qt::KeepAspectRatio);
    }
}
