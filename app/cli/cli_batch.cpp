// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli/cli_batch.h"

#include "app/cli/cli_output.h"
#include "batch/batch_engine.h"
#include "imaging/saving/save_temporaries.h"

#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <unistd.h>

namespace {

// The report for scripts: a JSON array, one object per listed file in
// listing order, each on a line of its own.
QString jsonReport(const QStringList& files, const BatchReport& report)
{
    QHash<QString, QJsonObject> entries;
    auto entry = [&entries](const QString& input, const QString& output, const char* outcome,
                            const QString& reason) {
        entries[input] = QJsonObject{
            {QStringLiteral("input"), input},
            {QStringLiteral("output"), output.isEmpty() ? QJsonValue() : QJsonValue(output)},
            {QStringLiteral("outcome"), QLatin1String(outcome)},
            {QStringLiteral("reason"), reason.isEmpty() ? QJsonValue() : QJsonValue(reason)}};
    };
    for (const BatchReport::Written& file : report.written)
        entry(file.input, file.output, "written", {});
    // Written under another name; one that was then not written at all says so below.
    for (const BatchReport::Renamed& file : report.renamed)
        if (entries.value(file.input).value(QStringLiteral("outcome")) == QLatin1String("written"))
            entry(file.input, file.output, "renamed", file.reason);
    for (const BatchReport::Failed& file : report.failed)
        entry(file.input, file.output, "not written", file.reason);
    for (const BatchReport::Skipped& file : report.skipped)
        entry(file.input, {}, "skipped", file.reason);
    for (const BatchReport::Skipped& file : report.notPictures)
        entry(file.input, {}, "not a picture", file.reason);
    // Written from a damaged picture: the outcome stays, the damage is added.
    for (const BatchReport::Damaged& file : report.damaged)
        entries[file.input].insert(QStringLiteral("damage"), file.damage);

    QString text = QStringLiteral("[");
    for (qsizetype i = 0; i < files.size(); ++i)
        text += QLatin1String(i == 0 ? "\n" : ",\n") +
                QString::fromUtf8(
                    QJsonDocument(entries.value(files[i])).toJson(QJsonDocument::Compact));
    return text + QStringLiteral("\n]\n");
}

// Ctrl-C stops the run after the pictures in hand, which are written, so
// that the report tells what is there; a second one ends it at once.
std::atomic<bool> interrupted{false};

void onInterrupt(int)
{
    if (!interrupted.exchange(true))
        return;
    removeTemporariesNow();
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
}

} // namespace

int runFolder(const CliRequest& cli)
{
    BatchRequest request;
    request.pictureDir = cli.input;
    request.resultDir = cli.output;
    request.params = cli.params;
    request.jobs = cli.jobs;
    request.format = cli.format;
    request.recursive = cli.recursive;
    request.quality = cli.quality;
    request.stop = &interrupted;
    struct sigaction stop {};
    sigaction(SIGINT, nullptr, &stop);
    if (stop.sa_handler != SIG_IGN) {
        stop.sa_handler = onInterrupt;
        stop.sa_flags = SA_RESTART;
        sigemptyset(&stop.sa_mask);
        sigaction(SIGINT, &stop, nullptr);
    }

    const QStringList files = listPictures(request.pictureDir, request.recursive);
    const bool terminal = ::isatty(STDERR_FILENO) == 1 && !cli.quiet;
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

    // What went wrong always; what only went otherwise than usual, unless quiet.
    BatchLineForms forms = batchLineForms();
    if (cli.quiet)
        forms.renamed = forms.notPicture = QString();
    const QStringList lines = describeBatchFiles(report, forms);
    for (const QString& line : lines)
        printTo(stderr, line + QLatin1Char('\n'));

    const qsizetype notEntered = request.recursive ? 0 : listSubFolders(request.pictureDir).size();
    if (cli.jsonReport) {
        printTo(stdout, jsonReport(files, report));
        if (notEntered > 0 && !cli.quiet)
            printTo(stderr, QStringLiteral("glassmere-cli: %1 sub-folders not entered "
                                           "(--recursive enters them)\n")
                                .arg(notEntered));
    } else if (!cli.quiet) {
        printTo(stdout, batchSummary(report, notEntered) + QLatin1Char('\n'));
    }
    if (interrupted.load()) {
        printTo(stderr, QStringLiteral("glassmere-cli: interrupted; %1 of %2 files not begun\n")
                            .arg(report.notBegun)
                            .arg(report.total));
        return Interrupted;
    }
    return report.failedSomewhere() ? SomeFailed : AllWritten;
}
