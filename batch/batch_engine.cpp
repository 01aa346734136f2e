// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch_engine.h"

#include "imaging/decoder/image_io.h"
#include "imaging/pixels/format_names.h"
#include "imaging/pixels/pixel_memory.h"
#include "imaging/pixels/work_share.h"
#include "imaging/saving/picture_saving.h"

#include <FreeImagePlus.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <dirent.h>
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

// Whether a picture format goes by the name's extension: a file that does not
// read as a picture under such a name is a damaged picture, under any other
// (notes.txt, Thumbs.db) a file that is no picture at all.
bool namedAsPicture(const QString& name)
{
    const QByteArray suffix = QFileInfo(name).suffix().toLower().toLatin1();
    if (suffix.isEmpty())
        return false;
    if (formatFromFileName(QByteArray("picture." + suffix)) != FIF_UNKNOWN)
        return true;
    static const QSet<QByteArray> others = {"heic", "heif", "avif", "jxl", "svg"};
    return others.contains(suffix);
}

// Pictures whose opaque results are written as JPEG where their own format
// is not written.
bool becomesJpeg(const QFileInfo& picture)
{
    static const QStringList formats = {"heic", "heif", "hif", "avif", "jxl"};
    return formats.contains(picture.suffix().toLower());
}

// One listed file's fate, filled by whichever job took the file.
struct Outcome {
    enum Kind { Written, Skipped, NotPicture, Failed, NotBegun } kind = NotBegun;
    QString output;
    QString usualOutput;
    QStringList renameReasons;
    QString reason;
    QString damage; // what the reader reported as damage
    // Between its encoding and its writing: the name it asks for (empty when
    // there is nothing to write) and the file's bytes.
    bool encoded = false;
    QString wantedName;
    QByteArray bytes;

    void fail(const QString& why)
    {
        kind = Failed;
        reason = why;
    }
};

// Lets a picture in only while the memory of the pictures already in flight
// leaves room for it, so that more jobs never turn a run that fits into one
// the kernel ends: until a picture's size is known the next one counts as
// large as the largest so far, and the first goes alone. A picture alone is
// always let in (its decode then says whether it fits).
class Admission {
public:
    std::uint64_t enter()
    {
        std::unique_lock<std::mutex> lock(mutex);
        freed.wait(lock, [&] {
            return inFlight == 0 || (largest > 0 && reserved + largest <= availableMemory());
        });
        ++inFlight;
        reserved += largest;
        return largest;
    }
    // The picture's true need, once decoded.
    void known(std::uint64_t& held, std::uint64_t need)
    {
        std::lock_guard<std::mutex> lock(mutex);
        reserved = reserved - held + need;
        held = need;
        largest = std::max(largest, need);
    }
    void leave(std::uint64_t held)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            reserved -= held;
            --inFlight;
        }
        freed.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable freed;
    std::uint64_t reserved = 0;
    std::uint64_t largest = 0;
    int inFlight = 0;
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

    // One job: its share of the cores for the blur and the PNG writer, and
    // its blocks, kept from picture to picture.
    void work()
    {
        const WorkBudget share{unsigned(encoderThreads)};
        PixelMemory memory; // outlives the pictures over it
        fipImage source;
        fipImage result;
        for (;;) {
            int index;
            {
                std::unique_lock<std::mutex> lock(mutex);
                // Files waiting to be written hold their bytes: only a few at a time.
                claimed.wait(lock, [&] { return nextFile < nextClaim + lookahead; });
                if (nextFile >= files.size() || (request.stop && request.stop->load()))
                    return;
                index = nextFile++;
                if (progress)
                    progress(index, int(files.size()));
            }
            process(index, source, result, memory);
        }
    }

    BatchReport report() const
    {
        BatchReport report;
        report.total = int(files.size());
        for (int i = 0; i < files.size(); ++i) {
            const Outcome& outcome = outcomes[size_t(i)];
            const QString& input = files[i];
            if (outcome.kind == Outcome::NotBegun) {
                ++report.notBegun;
                continue;
            }
            if (outcome.kind == Outcome::Skipped || outcome.kind == Outcome::NotPicture) {
                (outcome.kind == Outcome::Skipped ? report.skipped : report.notPictures)
                    .append({input, outcome.reason});
                continue;
            }
            if (!outcome.output.isEmpty() && outcome.output != outcome.usualOutput)
                report.renamed.append({input, outcome.usualOutput, outcome.output,
                                       outcome.renameReasons.join(QLatin1String("; "))});
            if (outcome.kind == Outcome::Written)
                report.written.append({input, outcome.output});
            else
                report.failed.append({input, outcome.output, outcome.reason});
            if (!outcome.damage.isEmpty())
                report.damaged.append(
                    {input, outcome.kind == Outcome::Written ? outcome.output : QString(),
                     outcome.damage});
        }
        return report;
    }

private:
    void process(int index, fipImage& source, fipImage& result, PixelMemory& memory)
    {
        Outcome& outcome = outcomes[size_t(index)];
        const QString& input = files[index];
        const QFileInfo info(input);

        QString error;
        QByteArray encoded = spareFile();
        QString name;
        // Results go into the same sub-folder of the result folder as the picture's.
        const QString relative = QDir(QFileInfo(request.pictureDir).absoluteFilePath())
                                     .relativeFilePath(info.absolutePath());
        const QString folder = relative == QLatin1String(".") ? QString() : relative + '/';
        std::uint64_t held = admission.enter();
        struct Leave {
            Admission& admission;
            std::uint64_t& held;
            ~Leave() { admission.leave(held); }
        } leave{admission, held};
        const bool loaded = loadPicture(input, source, &error, &memory);
        if (loaded)
            admission.known(held, programBytes(source.getWidth(), source.getHeight(),
                                               source.getBitsPerPixel(), pictureLimits()));
        if (!loaded) {
            outcome.kind = namedAsPicture(info.fileName()) ? Outcome::Skipped : Outcome::NotPicture;
            outcome.reason = error;
        } else if (outcome.damage = pictureDamage(source);
                   !renderReflection(source, result, request.params, &memory, &error)) {
            outcome.fail(error);
        } else if (!request.format.isEmpty()) {
            name = folder + info.baseName() + '.' + request.format;
            outcome.usualOutput = joinPath(request.resultDir, name);
            if (!formatStores(result, name, &error) ||
                !encodePicture(result, name, &encoded, &error)) {
                outcome.fail(error);
                name.clear();
            }
        } else {
            // Transparency survives only in PNG; an opaque result keeps the input's name and
            // format, unless that format cannot store it (its depth, or its size: icons).
            const QString png = folder + info.baseName() + QLatin1String(".png");
            name = result.isTransparent() ? png : folder + info.fileName();
            outcome.usualOutput = joinPath(request.resultDir, name);
            QString refusal;
            // Phone photographs in formats Glassmere reads but does not write become
            // JPEGs, which every shop system takes.
            if (!result.isTransparent() && becomesJpeg(info) &&
                !formatStores(result, name, &refusal)) {
                outcome.renameReasons.append(refusal);
                name = folder + info.baseName() + QLatin1String(".jpg");
            }
            if (!formatStores(result, name, &refusal) ||
                !encodePicture(result, name, &encoded, &refusal, request.quality)) {
                if (name != png) {
                    outcome.renameReasons.append(refusal);
                    name = png;
                }
                if (!encodePicture(result, name, &encoded, &error, request.quality)) {
                    outcome.fail(error);
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
        const QString folder = QFileInfo(outcome.output).path();
        if (!QDir().mkpath(folder))
            outcome.fail(QStringLiteral("The folder %1 could not be made").arg(folder));
        else if (writeFileSafely(outcome.output, outcome.bytes, &error))
            outcome.kind = Outcome::Written;
        else
            outcome.fail(error);
        keepSpare(std::move(outcome.bytes));
    }

    // A written file's memory holds the next file encoded, so that a batch
    // does not ask the kernel for fresh pages for every picture.
    QByteArray spareFile()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (spareFiles.empty())
            return {};
        QByteArray spare = std::move(spareFiles.back());
        spareFiles.pop_back();
        return spare;
    }
    void keepSpare(QByteArray&& bytes)
    {
        // Not a large one: what memory the pictures in flight may take is
        // counted without it.
        constexpr qsizetype largestSpare = qsizetype(64) << 20;
        bytes.resize(0);
        const std::lock_guard<std::mutex> lock(mutex);
        if (bytes.capacity() <= largestSpare && qsizetype(spareFiles.size()) < lookahead)
            spareFiles.push_back(std::move(bytes));
        bytes = QByteArray();
    }

    // Called in listing order, under the lock.
    QString claim(const QString& name, QStringList& reasons)
    {
        QString chosen = name;
        if (const QString why = conflict(chosen); !why.isEmpty()) {
            reasons.append(why);
            const QFileInfo parts(name);
            const QString folder =
                parts.path() == QLatin1String(".") ? QString() : parts.path() + '/';
            for (int n = 2; !conflict(chosen).isEmpty(); ++n)
                chosen = folder + parts.completeBaseName() + '-' + QString::number(n) + '.' +
                         parts.suffix();
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
    const int encoderThreads;   // the jobs share the cores; each works on its share
    QSet<QString> inputs;       // canonical paths of the listed files
    QSet<QString> claimedNames; // output names given out so far

    Admission admission;
    std::mutex mutex;
    std::condition_variable claimed; // nextClaim moved on
    qsizetype nextFile = 0;
    qsizetype nextClaim = 0;
    const qsizetype lookahead;
    std::vector<QByteArray> spareFiles; // written files' memory, empty
};

} // namespace

QStringList listPictures(const QString& folder, bool recursive)
{
    const QStringList names = QDir(folder).entryList(QStringList(QStringLiteral("*.*")),
                                                     QDir::Files, QDir::Name | QDir::Reversed);
    QStringList paths;
    paths.reserve(names.size());
    for (const QString& name : names)
        paths.append(joinPath(folder, name));
    if (recursive)
        for (const QString& subFolder : listSubFolders(folder))
            paths += listPictures(subFolder, true);
    return paths;
}

QStringList listSubFolders(const QString& folder)
{
    const QStringList names = QDir(folder).entryList(
        QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name | QDir::Reversed);
    QStringList paths;
    for (const QString& name : names)
        paths.append(joinPath(folder, name));
    return paths;
}

QString batchRefusal(const QString& pictureDir, const QString& resultDir, bool recursive)
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
    const QString result = QFileInfo(resultDir).canonicalFilePath();
    if (recursive && result.startsWith(canonical + '/'))
        return QStringLiteral("The result folder %1 lies inside the picture folder %2: with its "
                              "sub-folders entered, the results would be taken for pictures. "
                              "Choose a result folder outside it.")
            .arg(result, canonical);
    return {};
}

namespace {

// The folder's names that are not UTF-8, which no QString holds: they cannot
// be opened by the name the listing gives, so the report tells each one.
QStringList namesNotUtf8(const QString& folder)
{
    QStringList names;
    DIR* listing = ::opendir(QFile::encodeName(folder).constData());
    if (!listing)
        return names;
    while (const dirent* entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (name.startsWith('.') || !name.contains('.') ||
            (entry->d_type != DT_REG && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN))
            continue;
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = utf8.decode(name);
        if (utf8.hasError())
            names.append(joinPath(folder, decoded));
    }
    ::closedir(listing);
    names.sort();
    return names;
}

} // namespace

BatchReport runBatch(const BatchRequest& request, const QStringList& files,
                     const BatchProgress& progress)
{
    BatchReport report;
    report.refusal = batchRefusal(request.pictureDir, request.resultDir, request.recursive);
    if (report.refused())
        return report;
    initialiseFreeImage();

    const int jobs = std::max(1, std::min(request.jobs, int(files.size())));
    Run run(request, files, progress, jobs);
    auto job = [&run] { run.work(); };
    std::vector<std::thread> helpers;
    for (int i = 1; i < jobs; ++i)
        helpers.emplace_back(job);
    job(); // the calling thread is one of the jobs
    for (std::thread& helper : helpers)
        helper.join();
    BatchReport done = run.report();
    for (const QString& name : namesNotUtf8(request.pictureDir)) {
        done.skipped.append({name, QStringLiteral("the file's name is not valid UTF-8, and "
                                                  "Glassmere cannot open it by that name; "
                                                  "rename the file")});
        ++done.total;
    }
    return done;
}

BatchReport runBatch(const BatchRequest& request, const BatchProgress& progress)
{
    // A missing folder lists nothing, and the run refuses it.
    return runBatch(request, listPictures(request.pictureDir, request.recursive), progress);
}
