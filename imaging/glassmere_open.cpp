// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/glassmere.h"

#include "imaging/decoder/image_io.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsScene>
#include <QMessageBox>

void Glassmere::on_btAddPic_clicked()
{
    // "*jpe" without a dot matches every name ending in "jpe"; kept as users know it.
    const QString filter =
        tr("All Images") +
        "(*.bmp *.jpg *.jpeg *jpe *.png *.ico *.gif *.tiff *.tif *.tga *.pcx *.wbmp *.psd *.mng "
        "*.jng *.raw *.ras *.webp *.heic *.heif *.avif *.jxl)\n";
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Load a picture"), QString(), filter);
    if (path.isEmpty())
        return;
    OpenPicture(path);
}

void Glassmere::ShowFailure(const QString& text, const QString& why)
{
    QMessageBox box(QMessageBox::Warning, tr("Failure"), text, QMessageBox::Ok, this);
    box.setDefaultButton(QMessageBox::NoButton);
    box.setDetailedText(why);
    box.exec();
}

// The open command after its dialog; a picture dropped onto the window takes the
// same road, so both show the same labels, result, preview and failure box.
void Glassmere::OpenPicture(const QString& path)
{
    // A file that fails leaves the previous picture whole and usable.
    QString reason;
    bool loaded = false;
    RunBusy([&] { loaded = loadPicture(path, sourceImage, &reason, &pictureMemory); });
    if (!loaded) {
        ShowFailure(tr("Image loads error."), reason);
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor); // the first render of a large picture
    livePreview.forget(); // the drag preview's copy was of the previous picture

    const QFileInfo info(path);
    const QString suffix = info.suffix();
    ui.lbType->setText(suffix.toUpper());
    // A long name is shortened with an ellipsis where the label ends; its tool tip holds it all.
    const QString name = info.fileName().remove("." + suffix, Qt::CaseSensitive);
    ui.lbName->setText(ui.lbName->fontMetrics().elidedText(name, Qt::ElideMiddle,
                                                           ui.lbName->contentsRect().width()));
    ui.lbName->setToolTip(name);
    ui.lbSize->setText(QString("%1KB").arg(double(info.size()) / 1024.0, 0, 'g', 5, QChar(' ')));
    ui.lbDim->setText(QString("%1*%2").arg(sourceImage.getWidth()).arg(sourceImage.getHeight()));

    // The previous result and its preview go first: the memory limits allow
    // for one picture's road at a time.
    resultImage.clear();
    scene->clear();
    pixmapItem = nullptr;
    ui.graphicsView->resetTransform();
    RunReflection();
    QApplication::restoreOverrideCursor();
    if (!resultImage.isValid() || !pixmapItem) {
        // Memory ran out for the result or its preview: no half-shown picture.
        const QString shortage = memoryShortage(sourceImage.getWidth(), sourceImage.getHeight(),
                                                sourceImage.getBitsPerPixel());
        sourceImage.clear();
        resultImage.clear();
        for (QLabel* label : {ui.lbType, ui.lbName, ui.lbSize, ui.lbDim})
            label->clear();
        ui.lbName->setToolTip(QString());
        picturePath.clear();
        ui.btSavePic->setEnabled(false);
        ShowFailure(tr("Image loads error."), shortage);
        return;
    }
    picturePath = path;
    on_pbFit_clicked();

    // A damaged file opens as far as it could be read, and says so.
    if (const QString damage = pictureDamage(sourceImage); !damage.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, tr("Damaged picture"),
                        tr("The picture is damaged: only part of it could be read."),
                        QMessageBox::Ok, this);
        box.setDefaultButton(QMessageBox::NoButton);
        box.setInformativeText(damage);
        box.exec();
    }
}
