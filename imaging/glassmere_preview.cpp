// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/glassmere.h"

#include "imaging/preview/preview_image.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QPixmap>

#include <algorithm>

void Glassmere::ShowImage(fipImage* image)
{
    // An empty result leaves the previous preview.
    if (!image->isValid())
        return;
    // The pixmap shown lets go of its memory, which then takes the new
    // preview without fresh pages; then one pass from the FreeImage buffer to
    // a top-down image the pixmap takes as it is.
    if (pixmapItem)
        pixmapItem->setPixmap(QPixmap());
    QImage shown = previewImage(*image, &previewMemory);
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

// A frame of the result for the settings as they are while a slider is
// dragged: the scene takes the full result's size, so zoom, scroll and a fit
// behave as they will for the full render, and the item shows only the
// part in view, scaled up to where it lies. The full render replaces it.
void Glassmere::ShowLiveFrame()
{
    if (!sourceImage.isValid() || !pixmapItem)
        return;
    QGraphicsView* view = ui.graphicsView;
    const ReflectionParams params = currentParams();
    const qreal ratio = view->devicePixelRatioF();
    const QSize full = livePreview.resultSize(sourceImage, params);
    scene->setSceneRect(QRectF(QPointF(0, 0), QSizeF(full) / ratio));
    if (viewFitted)
        KeepFitted();

    // Device pixels per result pixel. A fitted view zooms out as the result
    // grows; the picture is drawn at the zoom it has alone, the finest that
    // fit reaches, so that one copy serves the whole drag.
    double scale = view->transform().m11();
    if (viewFitted) {
        const QSizeF room = QSizeF(view->viewport()->size()) * ratio;
        scale = std::min(
            {1.0, room.width() / sourceImage.getWidth(), room.height() / sourceImage.getHeight()});
    }
    const QRectF inView =
        view->mapToScene(view->viewport()->rect()).boundingRect() & scene->sceneRect();
    const QRectF visible(inView.topLeft() * ratio, inView.size() * ratio);
    LivePreview::Frame frame = livePreview.render(sourceImage, params, scale, visible);
    if (frame.image.isNull())
        return;

    const QSizeF shown = frame.image.size();
    pixmapItem->setPixmap(QPixmap::fromImage(std::move(frame.image), Qt::NoOpaqueDetection));
    pixmapItem->setPos(frame.target.topLeft() / ratio);
    pixmapItem->setTransform(QTransform::fromScale(frame.target.width() / ratio / shown.width(),
                                                   frame.target.height() / ratio / shown.height()));
}

void Glassmere::KeepFitted()
{
    ui.graphicsView->resetTransform();
    on_pbFit_clicked();
}

void Glassmere::on_pbZoomIn_clicked()
{
    viewFitted = false;
    ui.graphicsView->scale(1.2, 1.2);
}

void Glassmere::on_pbZoomOut_clicked()
{
    viewFitted = false;
    ui.graphicsView->scale(0.8, 0.8);
}

void Glassmere::on_pbRawSize_clicked()
{
    viewFitted = false;
    ui.graphicsView->resetTransform();
}

void Glassmere::on_pbFit_clicked()
{
    if (!pixmapItem)
        return;
    // Compared with the whole view widget, regardless of the zoom: a picture
    // that fits is never enlarged and a zoom the user chose stays. Sizes are
    // logical (the scene's), so a picture that fits at "Actual" is left as it is.
    const QSizeF shown = scene->sceneRect().size();
    if (shown.width() > ui.graphicsView->width() || shown.height() > ui.graphicsView->height()) {
        ui.graphicsView->resetTransform();
        ui.graphicsView->fitInView(scene->sceneRect(), Qt::KeepAspectRatio);
        viewFitted = true;
    } else {
        // The whole result at its actual size is fitted too, unless zoomed.
        viewFitted = ui.graphicsView->transform().isIdentity();
    }
}
