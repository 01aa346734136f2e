// SPDX-License-Identifier: GPL-3.0-or-later
// The batch's report in words: a line for each file that was not simply
// written, and the summary of the run.
#include "batch_engine.h"

#include <QFileInfo>

namespace {

// `form` with %1 to %6 replaced by `values`; the values themselves are not
// looked into, so a '%' in a file name stays as it is.
QString fillForm(const QString& form, const QString (&values)[6])
{
    QString line;
    for (qsizetype i = 0; i < form.size(); ++i) {
        const QChar next = i + 1 < form.size() ? form[i + 1] : QChar();
        if (form[i] == QLatin1Char('%') && next >= QLatin1Char('1') && next <= QLatin1Char('6')) {
            line += values[next.unicode() - '1'];
            ++i;
        } else {
            line += form[i];
        }
    }
    return line;
}

QString fileNameOf(const QString& path)
{
    return path.isEmpty() ? QString() : QFileInfo(path).fileName();
}

void describe(QStringList& lines, const QString& form, const QString& input, const QString& output,
              const QString& usualOutput, const QString& reason)
{
    if (form.isEmpty())
        return;
    const QString values[6] = {
        input, output, fileNameOf(input), fileNameOf(output), fileNameOf(usualOutput), reason};
    lines.append(fillForm(form, values));
}

} // namespace

QStringList describeBatchFiles(const BatchReport& report, const BatchLineForms& forms)
{
    QStringList lines;
    for (const BatchReport::Skipped& file : report.skipped)
        describe(lines, forms.skipped, file.input, {}, {}, file.reason);
    for (const BatchReport::Skipped& file : report.notPictures)
        describe(lines, forms.notPicture, file.input, {}, {}, file.reason);
    for (const BatchReport::Failed& file : report.failed)
        describe(lines, forms.failed, file.input, file.output, {}, file.reason);
    for (const BatchReport::Renamed& file : report.renamed)
        describe(lines, forms.renamed, file.input, file.output, file.usualOutput, file.reason);
    for (const BatchReport::Damaged& file : report.damaged)
        describe(lines, forms.damaged, file.input, file.output, {}, file.damage);
    return lines;
}

BatchLineForms batchLineForms()
{
    return {QStringLiteral("skipped: %1: %6"), QStringLiteral("not written: %1: %6"),
            QStringLiteral("renamed: %1 written as %2 (%6)"),
            QStringLiteral("not a picture: %1: %6"),
            QStringLiteral("damaged: %1: only part of it could be read: %6")};
}

BatchSummaryForms batchSummaryForms()
{
    return {QStringLiteral("%1 of %2 files written, %3 skipped, %4 not written, %5 renamed."),
            QStringLiteral("%1 not pictures, left alone."),
            QStringLiteral("%1 damaged, written as far as they could be read."),
            QStringLiteral("%1 sub-folders not entered (--recursive enters them).")};
}

QString batchSummary(const BatchReport& report, qsizetype notEntered,
                     const BatchSummaryForms& forms)
{
    QString counts = forms.counts.arg(report.written.size())
                         .arg(report.total)
                         .arg(report.skipped.size())
                         .arg(report.failed.size())
                         .arg(report.renamed.size());
    auto add = [&counts](const QString& form, qsizetype count) {
        if (count == 0 || form.isEmpty())
            return;
        // A full-width full stop (Chinese, Japanese) is followed by no space.
        if (!counts.endsWith(QChar(0x3002)))
            counts += QLatin1Char(' ');
        counts += form.arg(count);
    };
    add(forms.notPictures, report.notPictures.size());
    add(forms.damaged, report.damaged.size());
    add(forms.notEntered, notEntered);
    return counts;
}

QStringList batchReportLines(const BatchReport& report)
{
    QStringList lines = describeBatchFiles(report, batchLineForms());
    lines.append(batchSummary(report));
    if (report.notBegun > 0)
        lines.append(QStringLiteral("stopped: %1 files not begun.").arg(report.notBegun));
    return lines;
}
