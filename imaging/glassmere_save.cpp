// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/glassmere.h"

#include "imaging/decoder/image_io.h"
#include "imaging/saving/picture_saving.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {
const char* const saveFilters = "png(*.png)\njpg(*.jpg)\njpeg(*.jpeg)\njpe(*.jpe)\nbmp(*.bmp)\n"
                                "ico(*.ico)\ngif(*.gif)\ntiff(*.tiff)\ntif(*.tif)\ntga(*.tga)\n"
                                "pcx(*.pcx)\nwbmp(*.wbmp)\nwmf(*.wmf)\nemf(*.emf)\njp2(*.jp2)\n"
                                "j2c(*.j2c)\njpc(*.jpc)\npgx(*.pgx)\npnm(*.pnm)\npgm(*.pgm)\n"
                                "ppm(*.ppm)\nras(*.ras)\nmng(*.mng)\njng(*.jng)\nska(*.ska)\n"
                                "raw(*.raw)\nwebp(*.webp)\navif(*.avif)";

// The extension a filter such as "png(*.png)" stands for.
QString filterSuffix(const QString& filter)
{
    const qsizetype dot = filter.indexOf(QLatin1String("(*."));
    return dot < 0 ? QString() : filter.mid(dot + 3).chopped(1);
}
} // namespace

void Glassmere::on_btSavePic_clicked()
{
    // Only a hint: the format always follows the chosen name's extension.
    const QString type = ui.lbType->text().toLower();
    QString selectedFilter = type + "(*." + type + ")";
    if (resultImage.isTransparent())
        selectedFilter = "png(*.png)";
    const QStringList filters = QString::fromLatin1(saveFilters).split(QLatin1Char('\n'));
    // A type the list lacks shows the first entry.
    const QString shownFilter = filters.contains(selectedFilter) ? selectedFilter : filters.first();

    // The picture's name with "-reflected" and the shown filter's extension,
    // in the picture's own folder.
    QString start;
    if (!picturePath.isEmpty()) {
        const QFileInfo picture(picturePath);
        start = picture.dir().filePath(picture.completeBaseName() + "-reflected." +
                                       filterSuffix(shownFilter));
    }
    QFileDialog dialog(this, tr("Save Image"), start, saveFilters);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.selectNameFilter(shownFilter);
    // A name typed without an extension gets the selected filter's.
    dialog.setDefaultSuffix(filterSuffix(shownFilter));
    connect(&dialog, &QFileDialog::filterSelected, &dialog,
            [&dialog](const QString& filter) { dialog.setDefaultSuffix(filterSuffix(filter)); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    QString path = dialog.selectedFiles().first();
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty()) // a dialog that does not add it itself
        path += "." + filterSuffix(dialog.selectedNameFilter());

    // Encoding a large picture takes seconds: the window repaints where the
    // dialog was and shows that it is busy; "Success" comes once the file is whole.
    QString reason;
    bool saved = false;
    RunBusy([&] { saved = savePicture(resultImage, path, &reason); });
    if (saved)
        QMessageBox::information(this, tr("Success"), tr("Image has been saved."), QMessageBox::Ok,
                                 QMessageBox::NoButton);
    else
        ShowFailure(tr("Failed to save image."), reason);
}
