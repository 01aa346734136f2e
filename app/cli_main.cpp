// glassmere-cli: the window's reflection for scripts, on one picture or on
// every picture of a folder, with the window's start-up settings as defaults.

#include "app/huge_pages.h"
#include "batch/batch_engine.h"
#include "imaging/decoder/image_io.h"
#include "imaging/saving/picture_saving.h"
#include "product.h"
#include "reflection/renderer/reflection_renderer.h"

#include <FreeImagePlus.h>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <cstdio>
#include <unistd.h>

namespace {

enum ExitCode { AllWritten = 0, SomeFailed = 1, UsageError = 2 };

void printTo(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

int usageError(const QString& message)
{
    printTo(stderr, QStringLiteral("glassmere-cli: %1\nTry 'glassmere-cli --help' for more "
                                   "information.\n")
                        .arg(message));
    return UsageError;
}

int failure(const QString& message)
{
    printTo(stderr, QStringLiteral("glassmere-cli: %1\n").arg(message));
    return SomeFailed;
}

// A whole number in [low, high], or false.
bool readNumber(const QString& text, int low, int high, int& value)
{
    bool ok = false;
    const int number = text.trimmed().toInt(&ok, 10);
    if (!ok || number < low || number > high)
        return false;
    value = number;
    return true;
}

int runSingle(const QString& input, const QString& output, const ReflectionParams& params)
{
    fipImage source;
    fipImage result;
    QString error;
    if (!loadPicture(input, source, &error))
        return failure(QStringLiteral("cannot read %1: %2").arg(input, error));
    if (!renderReflection(source, result, params))
        return failure(QStringLiteral("cannot render %1: %2")
                           .arg(input, memoryShortage(source.getWidth(), source.getHeight(),
                                                      source.getBitsPerPixel())));
    if (!formatStores(result, output)) {
        const QString suffix = QFileInfo(output).suffix();
        const QString what = result.isTransparent()
                                 ? QStringLiteral("a %1-bit picture with transparency")
                                 : QStringLiteral("a %1-bit picture");
        return failure(
            QStringLiteral("cannot write %1: the format of the extension \"%2\" cannot store %3; "
                           "choose another extension (.png stores every result)")
                .arg(output, suffix.isEmpty() ? QStringLiteral("(none)") : suffix,
                     what.arg(result.getBitsPerPixel())));
    }
    if (!savePicture(result, output, &error))
        return failure(QStringLiteral("cannot write %1: %2").arg(output, error));
    return AllWritten;
}

int runFolder(const QString& pictureDir, const QString& resultDir, const ReflectionParams& params,
              int jobs)
{
    BatchRequest request;
    request.pictureDir = pictureDir;
    request.resultDir = resultDir;
    request.params = params;
    request.jobs = jobs;

    const QStringList files = listPictures(pictureDir);
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

} // namespace

int main(int argc, char* argv[])
{
    restartWithHugePages(argv);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("glassmere-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(GLASSMERE_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Adds a mirror reflection to a picture, or to every picture of a folder.\n"
                       "\n"
                       "  glassmere-cli [options] INPUT OUTPUT\n"
                       "      writes INPUT with its reflection to OUTPUT, in the format that\n"
                       "      OUTPUT's extension selects.\n"
                       "  glassmere-cli [options] --batch PICTURE_DIR RESULT_DIR\n"
                       "      reflects every picture of PICTURE_DIR into RESULT_DIR: results with\n"
                       "      transparency as NAME.png, others under the picture's own name.\n"
                       "\n"
                       "Exit status: 0 when everything was written, 1 when some file was not,\n"
                       "2 for a usage error."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption direction(
        QStringLiteral("direction"),
        QStringLiteral("Edge that gets the reflection: bottom, top, left or right (default: "
                       "bottom)."),
        QStringLiteral("edge"), QStringLiteral("bottom"));
    const QCommandLineOption size(
        QStringLiteral("size"),
        QStringLiteral("Reflection size in percent of the picture, 0-100 (default: 40)."),
        QStringLiteral("percent"), QStringLiteral("40"));
    const QCommandLineOption depth(
        QStringLiteral("depth"),
        QStringLiteral("Share of the reflection that keeps full strength, 0-100 (default: 30)."),
        QStringLiteral("percent"), QStringLiteral("30"));
    const QCommandLineOption color(
        QStringLiteral("color"),
        QStringLiteral("Colour the reflection fades into, as #rrggbb (default: #ffffff)."),
        QStringLiteral("#rrggbb"), QStringLiteral("#ffffff"));
    const QCommandLineOption transparentOption(
        QStringLiteral("transparent"),
        QStringLiteral("Fade the reflection into transparency instead of a colour."));
    const QCommandLineOption opacity(
        QStringLiteral("opacity"),
        QStringLiteral("Strength of the reflection where it touches the picture, 0-100 "
                       "(default: 100)."),
        QStringLiteral("percent"), QStringLiteral("100"));
    const QCommandLineOption gap(
        QStringLiteral("gap"),
        QStringLiteral("Background pixels between the picture and its reflection, 0-10000 "
                       "(default: 0)."),
        QStringLiteral("pixels"), QStringLiteral("0"));
    const QCommandLineOption blur(
        QStringLiteral("blur"),
        QStringLiteral("Blur radius at the reflection's outer end, growing from 0 where it "
                       "touches the picture, 0-%1 (default: 0).")
            .arg(maximumBlur),
        QStringLiteral("pixels"), QStringLiteral("0"));
    const QCommandLineOption jobsOption(
        QStringLiteral("jobs"),
        QStringLiteral("Pictures worked on at a time in a batch (default: the number of "
                       "processors, here %1).")
            .arg(QThread::idealThreadCount()),
        QStringLiteral("N"));
    const QCommandLineOption batch(
        QStringLiteral("batch"),
        QStringLiteral("Take the two arguments as a picture folder and a result folder."));
    parser.addOptions(
        {direction, size, depth, opacity, gap, blur, color, transparentOption, jobsOption, batch});
    parser.addPositionalArgument(QStringLiteral("INPUT"),
                                 QStringLiteral("The picture, or with --batch the picture folder."),
                                 QStringLiteral("INPUT|PICTURE_DIR"));
    parser.addPositionalArgument(
        QStringLiteral("OUTPUT"),
        QStringLiteral("The file to write, or with --batch the result folder."),
        QStringLiteral("OUTPUT|RESULT_DIR"));

    // process() would exit with 1 on a bad option; usage errors are 2 here.
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(AllWritten);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    ReflectionParams params; // the window's start-up settings
    const QString edge = parser.value(direction);
    if (edge == QLatin1String("bottom"))
        params.direction = Direction::Bottom;
    else if (edge == QLatin1String("top"))
        params.direction = Direction::Top;
    else if (edge == QLatin1String("left"))
        params.direction = Direction::Left;
    else if (edge == QLatin1String("right"))
        params.direction = Direction::Right;
    else
        return usageError(
            QStringLiteral("--direction must be bottom, top, left or right, not \"%1\"").arg(edge));

    if (!readNumber(parser.value(size), 0, 100, params.sizePercent))
        return usageError(QStringLiteral("--size must be a whole number from 0 to 100, not \"%1\"")
                              .arg(parser.value(size)));
    if (!readNumber(parser.value(depth), 0, 100, params.unfadedPercent))
        return usageError(QStringLiteral("--depth must be a whole number from 0 to 100, not \"%1\"")
                              .arg(parser.value(depth)));

    if (!readNumber(parser.value(opacity), 0, 100, params.opacity))
        return usageError(
            QStringLiteral("--opacity must be a whole number from 0 to 100, not \"%1\"")
                .arg(parser.value(opacity)));
    if (!readNumber(parser.value(gap), 0, 10000, params.gap))
        return usageError(QStringLiteral("--gap must be a whole number from 0 to 10000, not \"%1\"")
                              .arg(parser.value(gap)));
    if (!readNumber(parser.value(blur), 0, maximumBlur, params.blur))
        return usageError(QStringLiteral("--blur must be a whole number from 0 to %1, not \"%2\"")
                              .arg(maximumBlur)
                              .arg(parser.value(blur)));

    if (parser.isSet(color) && parser.isSet(transparentOption))
        return usageError(QStringLiteral("--color and --transparent exclude each other"));
    params.transparent = parser.isSet(transparentOption);
    const QString colorText = parser.value(color);
    static const QRegularExpression colorPattern(QStringLiteral("^#[0-9A-Fa-f]{6}$"));
    if (!colorPattern.match(colorText).hasMatch())
        return usageError(
            QStringLiteral("--color must be written #rrggbb, as in #ff8000, not \"%1\"")
                .arg(colorText));
    const uint rgb = colorText.mid(1).toUInt(nullptr, 16);
    params.color = {int((rgb >> 16) & 0xff), int((rgb >> 8) & 0xff), int(rgb & 0xff)};

    int jobs = QThread::idealThreadCount();
    if (parser.isSet(jobsOption) && !readNumber(parser.value(jobsOption), 1, 256, jobs))
        return usageError(QStringLiteral("--jobs must be a whole number from 1 to 256, not \"%1\"")
                              .arg(parser.value(jobsOption)));

    const QStringList arguments = parser.positionalArguments();
    const bool folders = parser.isSet(batch);
    if (arguments.size() != 2)
        return usageError(folders ? QStringLiteral("--batch takes a picture folder and a result "
                                                   "folder")
                                  : QStringLiteral("give an input picture and an output file"));
    if (arguments[0].isEmpty() || arguments[1].isEmpty())
        return usageError(QStringLiteral("an empty name was given"));

    return folders ? runFolder(arguments[0], arguments[1], params, jobs)
                   : runSingle(arguments[0], arguments[1], params);
}
