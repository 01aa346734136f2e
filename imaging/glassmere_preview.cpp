// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/glassmere.h"

#include "imaging/preview/preview_image.h"

#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QPixmap>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

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
    const ViewSpot spot = ViewedSpot();
    scene->setSceneRect(QRectF(QPointF(0, 0), QSizeF(full) / ratio));
    sceneLayout = params;
    if (viewFitted)
        KeepFitted();
    else
        ReturnToSpot(spot);

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

// Where the picture lies in the scene that the layout of `params` gives it:
// after the strip and gap for the top and left edges, at the corner otherwise.
QPointF Glassmere::PictureOffset(const ReflectionParams& params)
{
    if (!sourceImage.isValid())
        return {};
    const int width = int(sourceImage.getWidth());
    const int height = int(sourceImage.getHeight());
    // The result's size has the contact edge's margin taken off already, so
    // the picture's first line lies that margin before the lines shown.
    const QSize full = reflectionResultSize(sourceImage, params);
    const QSize grown(full.width() - width, full.height() - height);
    // A negative skew shifts the picture along the edge by what it adds.
    const bool shiftedAlong = params.skew < 0;
    QPointF offset;
    switch (params.direction) {
    case Direction::Top:
        offset = QPointF(shiftedAlong ? grown.width() : 0, grown.height());
        break;
    case Direction::Bottom:
        offset = QPointF(shiftedAlong ? grown.width() : 0, 0);
        break;
    case Direction::Left:
        offset = QPointF(grown.width(), shiftedAlong ? grown.height() : 0);
        break;
    case Direction::Right:
        offset = QPointF(0, shiftedAlong ? grown.height() : 0);
        break;
    }
    return offset / ui.graphicsView->devicePixelRatioF();
}

Glassmere::ViewSpot Glassmere::ViewedSpot()
{
    QGraphicsView* view = ui.graphicsView;
    ViewSpot spot;
    spot.scene = scene->sceneRect();
    const QRectF seen = view->mapToScene(view->viewport()->rect()).boundingRect();
    spot.onPicture = seen.center() - PictureOffset(sceneLayout);
    spot.wholeWidth = seen.left() <= spot.scene.left() && seen.right() >= spot.scene.right();
    spot.wholeHeight = seen.top() <= spot.scene.top() && seen.bottom() >= spot.scene.bottom();
    return spot;
}

// A result that changed size keeps in view the part of the picture that was
// looked at; along a side that was wholly in view, the new result is centred,
// so a growing strip comes into view as far as it fits.
void Glassmere::ReturnToSpot(const ViewSpot& spot)
{
    const QRectF now = scene->sceneRect();
    if (now == spot.scene)
        return;
    QPointF centre = spot.onPicture + PictureOffset(sceneLayout);
    if (spot.wholeWidth)
        centre.setX(now.center().x());
    if (spot.wholeHeight)
        centre.setY(now.center().y());
    ui.graphicsView->centerOn(centre);
}

// Ctrl and the wheel zoom about the pointer: the point under it stays there.
bool Glassmere::ZoomByWheel(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier))
        return false;
    const int steps = event->angleDelta().y();
    if (steps == 0)
        return true;
    QGraphicsView* view = ui.graphicsView;
    const QPointF pointer = event->position();
    const QPointF under = view->mapToScene(pointer.toPoint());
    viewFitted = false;
    const double factor = std::pow(1.2, steps / 120.0);
    view->scale(factor, factor);
    const QPointF shift = view->mapFromScene(under) - pointer;
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->value() + qRound(shift.x()));
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->value() + qRound(shift.y()));
    return true;
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
