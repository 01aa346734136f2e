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
    // "Actual" puts one picture pixel on one device pixel, as image tools do: on
    // a screen with a device pixel ratio of 2 the picture covers half as many
    // logical pixels each way and shows every pixel it has, not each one doubled.
    // The scene and the fit count in logical pixels.
    // previewImage already chose a format with or without alpha: no second scan for it.
    QPixmap pixmap = QPixmap::fromImage(std::move(shown), Qt::NoOpaqueDetection);
    pixmap.setDevicePixelRatio(ui.graphicsView->devicePixelRatioF());
    const QRectF sceneRect(QPointF(0, 0), pixmap.deviceIndependentSize());

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
    // that fits is never enlarged and a zoom the user chose stays. Sizes are
    // logical, so a picture that fits at "Actual" is left as it is.
    const QSizeF shown = pixmapItem->pixmap().deviceIndependentSize();
    if (shown.width() > ui.graphicsView->width() || shown.height() > ui.graphicsView->height()) {
        ui.graphicsView->resetTransform();
        ui.graphicsView->fitInView(scene->sceneRect(), Qt::KeepAspectRatio);
    }
}
