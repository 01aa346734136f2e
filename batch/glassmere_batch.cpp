// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/glassmere.h"

#include "batch/batch_engine.h"
#include "batch/path_helpers.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>

#include <string>

namespace {

// A typed relative folder is taken from the current directory at the press,
// both fields alike, so the folder tests, the listing and the outputs all name
// the same folders although each test moves the current directory. Absolute
// texts (the choosers only give those) stay as they are.
std::string folderForRun(const QString& text)
{
    const std::string path = text.toLocal8Bit().toStdString();
    std::string absolute;
    if (!path.empty() && path.front() != '/' && AbsolutePath(path, absolute))
        return absolute;
    return path;
}

// At most this many names are listed in the box itself; the details hold all.
constexpr int namesShown = 10;

} // namespace

void Glassmere::on_btAddPicDir_clicked()
{
    QString dir = QFileDialog::getExistingDirectory(
        this, tr("Select a picture where the folder"), ui.txtPicDir->text(),
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (dir.isEmpty())
        return;
    ui.txtPicDir->setText(FormatDir(dir));
}

void Glassmere::on_btPicResultDir_clicked()
{
    // Starts at the picture folder too: results usually go next to the pictures.
    QString dir = QFileDialog::getExistingDirectory(
        this, tr("Select a folder to save processing results."), ui.txtPicDir->text(),
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (dir.isEmpty())
        return;
    ui.txtResultDir->setText(FormatDir(dir));
}

QString Glassmere::FormatDir(QString& dir)
{
    // On failure the text comes back as it was.
    std::string path = dir.toLocal8Bit().toStdString();
    (void)NormalizeDir(path);
    return QString::fromLocal8Bit(QByteArray::fromStdString(path));
}

QStringList Glassmere::DirTree(const QString& folder)
{
    return listPictures(folder);
}

void Glassmere::on_btCovPics_clicked()
{
    const std::string pictureDir = folderForRun(ui.txtPicDir->text());
    const std::string resultDir = folderForRun(ui.txtResultDir->text());

    // Entering a folder is the test that it exists; the result folder is
    // tried only when the picture folder passed.
    if (!EnterDir(pictureDir) || !EnterDir(resultDir)) {
        QMessageBox::warning(this, tr("Failure"), tr("Selected directory error."), QMessageBox::Ok,
                             QMessageBox::NoButton);
        return;
    }

    BatchRequest request;
    request.pictureDir = QString::fromLocal8Bit(QByteArray::fromStdString(pictureDir));
    request.resultDir = QString::fromLocal8Bit(QByteArray::fromStdString(resultDir));

    // Results among the pictures would be taken for pictures by the next run.
    // Both folders exist by now: a refusal means they are the same.
    if (!batchRefusal(request.pictureDir, request.resultDir).isEmpty()) {
        QMessageBox::warning(this, tr("Failure"),
                             tr("The result folder is the picture folder, so nothing was done: "
                                "the results would mix with the pictures, and a later run would "
                                "take them for pictures. Please choose another folder for the "
                                "results."),
                             QMessageBox::Ok, QMessageBox::NoButton);
        return;
    }

    // The bar starts from 0, not from where the last run left it.
    const QStringList files = DirTree(request.pictureDir);
    ui.progressBar->setRange(0, int(files.size()));
    ui.progressBar->setValue(0);
    ui.progressBar->setVisible(true);

    // Input is dropped until the last file is done, so the settings are the
    // same for every file of the run.
    request.params = currentParams();
    request.jobs = QThread::idealThreadCount();

    // The run holds its own pictures: the window keeps the user's picture and
    // result, so what it shows is what Save writes. Progress comes from the
    // jobs' threads in listing order; queued, it reaches the bar in that order.
    // Escape or closing the window stops the run once the files in hand are
    // written; a close asked for meanwhile follows the report.
    QProgressBar* bar = ui.progressBar;
    BatchReport report;
    std::atomic<bool> stop{false};
    bool closeAfterwards = false;
    request.stop = &stop;
    RunBusy(
        [&] {
            report = runBatch(request, files, [bar](int index, int) {
                QMetaObject::invokeMethod(
                    bar, [bar, index] { bar->setValue(index + 1); }, Qt::QueuedConnection);
            });
        },
        [&](bool closing) {
            stop = true;
            closeAfterwards = closeAfterwards || closing;
        });
    ShowBatchReport(report);
    if (closeAfterwards)
        close();
}

void Glassmere::ShowBatchReport(const BatchReport& report)
{
    if (report.refused()) {
        QMessageBox box(QMessageBox::Warning, tr("Failure"), tr("Selected directory error."),
                        QMessageBox::Ok, this);
        box.setDefaultButton(QMessageBox::NoButton);
        box.setInformativeText(report.refusal);
        box.exec();
        return;
    }
    // Every run ends with its report: glassmere-cli's closing line in the
    // window's language, its other lines in the details. The box lists the
    // files that did not go the usual way by name, at most namesShown of a
    // kind, and a run where something went wrong must not look like a success.
    const QStringList reportLines = batchReportLines(report);
    QString summary =
        batchSummary(report, 0,
                     {tr("%1 of %2 files written, %3 skipped, %4 not written, %5 renamed."),
                      tr("%1 not pictures, left alone."),
                      tr("%1 damaged, written as far as they could be read."), QString()});
    if (report.notBegun > 0)
        summary += QLatin1Char('\n') + tr("stopped: %1 files not begun.").arg(report.notBegun);
    QStringList lines;
    auto listFiles = [&lines, &report](const QString& heading, qsizetype count,
                                       const BatchLineForms& form) {
        if (count == 0)
            return;
        lines.append(heading.arg(count));
        const QStringList names = describeBatchFiles(report, form);
        for (int i = 0; i < names.size() && i < namesShown; ++i)
            lines.append(QStringLiteral("    ") + names[i]);
        if (names.size() > namesShown)
            lines.append(QStringLiteral("    ") +
                         tr("... and %1 more").arg(names.size() - namesShown));
    };
    const QString name = QStringLiteral("%3");
    listFiles(tr("Not read as pictures, skipped: %1"), report.skipped.size(), {name, {}, {}, {}});
    listFiles(tr("Not pictures, left alone: %1"), report.notPictures.size(), {{}, {}, {}, name});
    listFiles(tr("Results not written: %1"), report.failed.size(), {{}, name, {}, {}});
    listFiles(tr("Results written under another name: %1"), report.renamed.size(),
              {{}, {}, tr("%3 as %4"), {}});
    listFiles(tr("Damaged, written as far as they could be read: %1"), report.damaged.size(),
              {{}, {}, {}, {}, name});

    QString title = tr("Success");
    QMessageBox::Icon icon = QMessageBox::Information;
    if (report.failedSomewhere()) {
        title = tr("Failure");
        icon = QMessageBox::Warning;
    } else if (!report.clean()) {
        title = tr("Notice");
    }
    QMessageBox box(icon, title, summary, QMessageBox::Ok, this);
    box.setDefaultButton(QMessageBox::NoButton);
    box.setInformativeText(lines.join(QLatin1Char('\n')));
    if (!report.clean())
        box.setDetailedText(reportLines.join(QLatin1Char('\n')));
    box.exec();
}
