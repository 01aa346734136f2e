// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/glassmere.h"

#include "imaging/decoder/image_io.h"
#include "imaging/saving/picture_saving.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {
const char* const saveFilters = "png(*.png)\njpg(*.jpg)\njpeg(*.jpeg)\njpe(*.jpe)\nbmp(*.bmp)\n"
                                "ico(*.ico)\ngif(*.gif)\ntiff(*.tiff)\ntif(*.tif)\ntga(*.tga)\n"
                                "pcx(*.pcx)\nwbmp(*.wbmp)\nwmf(*.wmf)\nemf(*.emf)\njp2(*.jp2)\n"
                                "j2c(*.j2c)\njpc(*.jpc)\npgx(*.pgx)\npnm(*.pnm)\npgm(*.pgm)\n"
                                "ppm(*.ppm)\nras(*.ras)\nmng(*.mng)\njng(*.jng)\nska(*.ska)\n"
                                "raw(*.raw)\nwebp(*.webp)\navif(*.avif)";
}

void Glassmere::on_btSavePic_clicked()
{
    // Only a hint: the format always follows the chosen name's extension.
    const QString type = ui.lbType->text().toLower();
    QString selectedFilter = type + "(*." + type + ")";
    if (resultImage.isTransparent())
        selectedFilter = "png(*.png)";

    const QString path = QFileDialog::getSaveFileName(this, tr("Save Image"), QString(),
                                                      saveFilters, &selectedFilter);
    if (path.isEmpty())
        return;

    // Encoding a large picture takes seconds: the window repaints where the
    // dialog was and shows that it is busy; "Success" comes once the file is whole.
    QString reason;
    bool saved = false;
    RunBusy([&] { saved = savePicture(resultImage, path, &reason); });
    if (saved) {
        QMessageBox::information(this, tr("Success"), tr("Image has been saved."), QMessageBox::Ok,
                                 QMessageBox::NoButton);
    } else {
        QMessageBox box(QMessageBox::Warning, tr("Failure"), tr("Failed to save image."),
                        QMessageBox::Ok, this);
        box.setDefaultButton(QMessageBox::NoButton);
        box.setDetailedText(reason);
        box.exec();
    }
}
