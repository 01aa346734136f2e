// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli/cli_batch.h"

#include "app/cli/cli_output.h"
#include "batch/batch_engine.h"

#include <QFileInfo>

#include <unistd.h>

int runFolder(const CliRequest& cli)
{
    BatchRequest request;
    request.pictureDir = cli.input;
    request.resultDir = cli.output;
    request.params = cli.params;
    request.jobs = cli.jobs;

    const QStringList files = listPictures(request.pictureDir);
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    BatchProgress progress;
    if (terminal)
        progress = [&files](int index, int total) {
            // "\33[K" clears what a longer name left on the line.
            printTo(stderr, QStringLiteral("\r[%1/%2] %3\33[K")
                                .arg(index + 1)
                                .arg(total)
                                .arg(QFileInfo(files[index]).fileName()));
        };
    const BatchReport report = runBatch(request, files, progress);
    if (report.refused())
        return usageError(report.refusal);
    if (terminal && !files.isEmpty())
        printTo(stderr, QStringLiteral("\r\33[K"));

    const QStringList lines = describeBatchFiles(
        report, {QStringLiteral("skipped: %1: %6"), QStringLiteral("not written: %1: %6"),
                 QStringLiteral("renamed: %1 written as %2 (%6)")});
    for (const QString& line : lines)
        printTo(stderr, line + QLatin1Char('\n'));

    printTo(stdout, QStringLiteral("%1 of %2 files written, %3 skipped, %4 not written, %5 "
                                   "renamed.\n")
                        .arg(report.written.size())
                        .arg(report.total)
                        .arg(report.skipped.size())
                        .arg(report.failed.size())
                        .arg(report.renamed.size()));
    return report.skipped.isEmpty() && report.failed.isEmpty() ? AllWritten : SomeFailed;
}
