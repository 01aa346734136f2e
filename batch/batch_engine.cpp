#include "batch_engine.h"

#include "imaging/decoder/image_io.h"
#include "imaging/saving/picture_saving.h"

#include <FreeImagePlus.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

QString joinPath(const QString& folder, const QString& name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// The shared library initialises itself when it is loaded; a statically
// linked one does not. The call only counts references after the first.
void initialiseFreeImage()
{
    static std::once_flag once;
    std::call_once(once, [] { FreeImage_Initialise(FALSE); });
}

// One listed file's fate, filled by whichever job took the file.
struct Outcome {
    enum Kind { Written, Skipped, Failed } kind = Skipped;
    QString output;
    QString usualOutput;
    QStringList renameReasons;
    QString reason;
    // Between its encoding and its writing: the name it asks for (empty when
    // there is nothing to write) and the file's bytes.
    bool encoded = false;
    QString wantedName;
    QByteArray bytes;
};

// The run's shared state. Pictures are taken in listing order and decoded,
// rendered and encoded side by side; output names are claimed in listing
// order, so they come out as one job would give them. A job that finishes
// before the pictures listed ahead of it leaves its file with the run and
// goes on; whoever finishes the picture next in line claims and writes every
// file that waited for it.
class Run {
public:
    Run(const BatchRequest& batchRequest, const QStringList& listed, const BatchProgress& callback,
        int jobs)
        : request(batchRequest), files(listed), progress(callback), outcomes(listed.size()),
          encoderThreads(std::max(1, QThread::idealThreadCount() / jobs)),
          lookahead(2 * qsizetype(jobs))
    {
        for (const QString& file : listed) {
            const QString canonical = QFileInfo(file).canonicalFilePath();
            if (!canonical.isEmpty())
                inputs.insert(canonical);
        }
    }

    void work(fipImage& source, fipImage& result)
    {
        for (;;) {
            int index;
            {
                std::unique_lock<std::mutex> lock(mutex);
                // Files waiting to be written hold their bytes: only a few at a time.
                claimed.wait(lock, [&] { return nextFile < nextClaim + lookahead; });
                if (nextFile >= files.size())
                    return;
                index = nextFile++;
                if (progress)
                    progress(index, int(files.size()));
            }
            process(index, source, result);
        }
    }

    BatchReport report() const
    {
        BatchReport report;
        report.total = int(files.size());
        for (int i = 0; i < files.size(); ++i) {
            const Outcome& outcome = outcomes[size_t(i)];
            const QString& input = files[i];
            if (outcome.kind == Outcome::Skipped) {
                report.skipped.append({input, outcome.reason});
                continue;
            }
            if (!outcome.output.isEmpty() && outcome.output != outcome.usualOutput)
                report.renamed.append({input, outcome.usualOutput, outcome.output,
                                       outcome.renameReasons.join(QLatin1String("; "))});
            if (outcome.kind == Outcome::Written)
                report.written.append({input, outcome.output});
            else
                report.failed.append({input, outcome.output, outcome.reason});
        }
        return report;
    }

private:
    void process(int index, fipImage& source, fipImage& result)
    {
        Outcome& outcome = outcomes[size_t(index)];
        const QString& input = files[index];
        const QFileInfo info(input);

        QString error;
        QByteArray encoded;
        QString name;
        if (!loadPicture(input, source, &error)) {
            outcome.kind = Outcome::Skipped;
            outcome.reason = error;
        } else if (!renderReflection(source, result, request.params)) {
            outcome.kind = Outcome::Failed;
            outcome.reason = QStringLiteral("The reflection could not be rendered: %1")
                                 .arg(memoryShortage(source.getWidth(), source.getHeight(),
                                                     source.getBitsPerPixel()));
        } else {
            // Transparency survives only in PNG; an opaque result keeps the input's name and
            // format, unless that format cannot store it (its depth, or its size: icons).
            const QString png = info.baseName() + QLatin1String(".png");
            name = result.isTransparent() ? png : info.fileName();
            outcome.usualOutput = joinPath(request.resultDir, name);
            QString refusal;
            if (!formatStores(result, name, &refusal) ||
                !encodePicture(result, name, &encoded, &refusal, encoderThreads)) {
                if (name != png) {
                    outcome.renameReasons.append(refusal);
                    name = png;
                }
                if (!encodePicture(result, name, &encoded, &error, encoderThreads)) {
                    outcome.kind = Outcome::Failed;
                    outcome.reason = error;
                    name.clear();
                }
            }
        }

        std::vector<qsizetype> toWrite;
        {
            std::lock_guard<std::mutex> lock(mutex);
            outcome.encoded = true;
            outcome.wantedName = name;
            outcome.bytes = std::move(encoded);
            for (; nextClaim < files.size() && outcomes[size_t(nextClaim)].encoded; ++nextClaim) {
                Outcome& next = outcomes[size_t(nextClaim)];
                if (next.wantedName.isEmpty())
                    continue;
                next.output =
                    joinPath(request.resultDir, claim(next.wantedName, next.renameReasons));
                toWrite.push_back(nextClaim);
            }
        }
        claimed.notify_all();
        for (qsizetype claimedIndex : toWrite)
            write(outcomes[size_t(claimedIndex)]);
    }

    void write(Outcome& outcome)
    {
        QString error;
        if (writeFileSafely(outcome.output, outcome.bytes, &error)) {
            outcome.kind = Outcome::Written;
        } else {
            outcome.kind = Outcome::Failed;
            outcome.reason = error;
        }
        outcome.bytes = QByteArray();
    }

    // Called in listing order, under the lock.
    QString claim(const QString& name, QStringList& reasons)
    {
        QString chosen = name;
        if (const QString why = conflict(chosen); !why.isEmpty()) {
            reasons.append(why);
            const QFileInfo parts(name);
            for (int n = 2; !conflict(chosen).isEmpty(); ++n)
                chosen = QStringLiteral("%1-%2.%3")
                             .arg(parts.completeBaseName())
                             .arg(n)
                             .arg(parts.suffix());
        }
        claimedNames.insert(chosen);
        return chosen;
    }

    // Why `name` must not be written in the result folder, or an empty text.
    // Files from before the run are replaced (safely); outputs of this run and
    // the inputs themselves, reached through a link, are not.
    QString conflict(const QString& name) const
    {
        if (claimedNames.contains(name))
            return QStringLiteral("an earlier picture of this run was written as %1").arg(name);
        const QString canonical = QFileInfo(joinPath(request.resultDir, name)).canonicalFilePath();
        if (!canonical.isEmpty() && inputs.contains(canonical))
            return QStringLiteral("%1 is the input picture %2").arg(name, canonical);
        return {};
    }

    const BatchRequest& request;
    const QStringList& files;
    const BatchProgress& progress;
    std::vector<Outcome> outcomes;
    const int encoderThreads;   // the jobs share the cores; each encodes on its share
    QSet<QString> inputs;       // canonical paths of the listed files
    QSet<QString> claimedNames; // output names given out so far

    std::mutex mutex;
    std::condition_variable claimed; // nextClaim moved on
    qsizetype nextFile = 0;
    qsizetype nextClaim = 0;
    const qsizetype lookahead;
};

} // namespace

QStringList listPictures(const QString& folder)
{
    const QStringList names = QDir(folder).entryList(QStringList(QStringLiteral("*.*")),
                                                     QDir::Files, QDir::Name | QDir::Reversed);
    QStringList paths;
    paths.reserve(names.size());
    for (const QString& name : names)
        paths.append(joinPath(folder, name));
    return paths;
}

QString batchRefusal(const QString& pictureDir, const QString& resultDir)
{
    if (!QFileInfo(pictureDir).isDir())
        return QStringLiteral("The picture folder \"%1\" does not exist or is not a folder.")
            .arg(pictureDir);
    if (!QFileInfo(resultDir).isDir())
        return QStringLiteral("The result folder \"%1\" does not exist or is not a folder.")
            .arg(resultDir);
    const QString canonical = QFileInfo(pictureDir).canonicalFilePath();
    if (canonical == QFileInfo(resultDir).canonicalFilePath())
        return QStringLiteral("The result folder is the picture folder (%1): the results would "
                              "mix with the pictures, and a later run would take them for "
                              "pictures. Choose another result folder.")
            .arg(canonical);
    return {};
}

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
    for (const BatchReport::Failed& file : report.failed)
        describe(lines, forms.failed, file.input, file.output, {}, file.reason);
    for (const BatchReport::Renamed& file : report.renamed)
        describe(lines, forms.renamed, file.input, file.output, file.usualOutput, file.reason);
    return lines;
}

BatchReport runBatch(const BatchRequest& request, const QStringList& files,
                     const BatchProgress& progress)
{
    BatchReport report;
    report.refusal = batchRefusal(request.pictureDir, request.resultDir);
    if (report.refused())
        return report;
    initialiseFreeImage();

    const int jobs = std::max(1, std::min(request.jobs, int(files.size())));
    Run run(request, files, progress, jobs);
    auto job = [&run] {
        fipImage source;
        fipImage result;
        run.work(source, result);
    };
    std::vector<std::thread> helpers;
    for (int i = 1; i < jobs; ++i)
        helpers.emplace_back(job);
    job(); // the calling thread is one of the jobs
    for (std::thread& helper : helpers)
        helper.join();
    return run.report();
}

BatchReport runBatch(const BatchRequest& request, const BatchProgress& progress)
{
    // A missing folder lists nothing, and the run refuses it.
    return runBatch(request, listPictures(request.pictureDir), progress);
}
