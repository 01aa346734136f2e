// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the command line into a request: each value checked, each fault a
// usage error that names the option and what was given.

#include "app/cli/cli_options.h"

#include "app/cli/cli_output.h"
#include "imaging/saving/picture_saving.h"

#include <QColor>
#include <QRegularExpression>
#include <QThread>

#include <FreeImagePlus.h>
#include <unistd.h>

namespace {

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

std::optional<int> readDirection(const QString& edge, ReflectionParams& params)
{
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
    return std::nullopt;
}

std::optional<int> readNumbers(const QCommandLineParser& parser, const CliOptions& options,
                               ReflectionParams& params)
{
    const struct {
        const QCommandLineOption& option;
        int low;
        int high;
        int& value;
    } numbers[] = {{options.size, 0, 100, params.sizePercent},
                   {options.depth, 0, 100, params.unfadedPercent},
                   {options.opacity, 0, 100, params.opacity},
                   {options.gap, 0, 10000, params.gap},
                   {options.blur, 0, maximumBlur, params.blur},
                   {options.skew, -maximumSkew, maximumSkew, params.skew}};
    for (const auto& number : numbers) {
        const QString text = parser.value(number.option);
        if (!readNumber(text, number.low, number.high, number.value))
            return usageError(
                QStringLiteral("--%1 must be a whole number from %2 to %3, not \"%4\"")
                    .arg(number.option.names().constFirst())
                    .arg(number.low)
                    .arg(number.high)
                    .arg(text));
    }
    params.contactEdge = parser.isSet(options.contactEdge);
    return std::nullopt;
}

std::optional<int> readBackground(const QCommandLineParser& parser, const CliOptions& options,
                                  ReflectionParams& params)
{
    if (parser.isSet(options.color) && parser.isSet(options.transparent))
        return usageError(QStringLiteral("--color and --transparent exclude each other"));
    params.transparent = parser.isSet(options.transparent);
    const QString colorText = parser.value(options.color).trimmed();
    // rgb(r,g,b) as in CSS; #rgb, #rrggbb and the names (red, steelblue) as Qt reads them.
    static const QRegularExpression rgbForm(
        QStringLiteral("^rgb\\(\\s*(\\d{1,3})\\s*,\\s*(\\d{1,3})\\s*,\\s*(\\d{1,3})\\s*\\)$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch rgb = rgbForm.match(colorText);
    QColor color;
    if (rgb.hasMatch()) {
        const int red = rgb.captured(1).toInt(), green = rgb.captured(2).toInt(),
                  blue = rgb.captured(3).toInt();
        if (red <= 255 && green <= 255 && blue <= 255)
            color = QColor(red, green, blue);
    } else if (!colorText.startsWith(QLatin1String("rgb"), Qt::CaseInsensitive)) {
        color = QColor::fromString(colorText);
    }
    // The background is opaque: transparency is --transparent's.
    if (!color.isValid() || color.alpha() != 255)
        return usageError(QStringLiteral("--color must be #rrggbb, #rgb, rgb(r,g,b) or a colour "
                                         "name such as white or steelblue, not \"%1\"")
                              .arg(colorText));
    params.color = {color.red(), color.green(), color.blue()};
    return std::nullopt;
}

// Whether the format of `extension` stores a picture of `bits` bits (32: with
// transparency).
bool formatTakes(const QString& extension, unsigned bits)
{
    fipImage picture(FIT_BITMAP, 8, 8, bits);
    return formatStores(picture, QStringLiteral("picture.") + extension);
}

std::optional<int> readOutput(const QCommandLineParser& parser, const CliOptions& options,
                              CliRequest& request)
{
    request.format = parser.value(options.format).trimmed().toLower();
    if (request.format.startsWith('.'))
        request.format.remove(0, 1);
    if (parser.isSet(options.format) && !formatTakes(request.format, 24) &&
        !formatTakes(request.format, 32))
        return usageError(QStringLiteral("--format: no format to write goes by the extension "
                                         "\"%1\"; png, jpg, webp and tiff do")
                              .arg(parser.value(options.format)));
    if (!request.format.isEmpty() && request.params.transparent && !formatTakes(request.format, 32))
        return usageError(QStringLiteral("--format %1 cannot store the transparency that "
                                         "--transparent gives; choose png, webp or tiff")
                              .arg(request.format));
    const QString report = parser.value(options.report);
    if (report != QLatin1String("text") && report != QLatin1String("json"))
        return usageError(QStringLiteral("--report must be text or json, not \"%1\"").arg(report));
    request.jsonReport = report == QLatin1String("json");
    request.recursive = parser.isSet(options.recursive);
    request.quiet = parser.isSet(options.quiet);
    return std::nullopt;
}

// The files' names against the kind of run.
std::optional<int> checkFiles(const QCommandLineParser& parser, const CliOptions& options,
                              const CliRequest& request)
{
    const QString dash = QStringLiteral("-");
    if (request.batch) {
        if (request.input == dash || request.output == dash)
            return usageError(QStringLiteral("--batch takes folders; - is for one picture"));
        return std::nullopt;
    }
    for (const QCommandLineOption* batchOnly : {&options.recursive, &options.report})
        if (parser.isSet(*batchOnly))
            return usageError(
                QStringLiteral("--%1 is for --batch").arg(batchOnly->names().constLast()));
    if (request.output == dash && request.format.isEmpty())
        return usageError(QStringLiteral("writing to standard output (-) needs --format, as in "
                                         "--format png"));
    if (request.output == dash && ::isatty(STDOUT_FILENO) == 1)
        return usageError(QStringLiteral("standard output is a terminal; send it to a file or a "
                                         "pipe"));
    if (request.input == dash && ::isatty(STDIN_FILENO) == 1)
        return usageError(QStringLiteral("standard input is a terminal; give it a picture from "
                                         "a file or a pipe"));
    return std::nullopt;
}

} // namespace

std::optional<int> readCommandLine(const QStringList& arguments, CliRequest& request)
{
    const CliOptions options;
    QCommandLineParser parser;
    describeCommandLine(parser, options);

    // process() would exit with 1 on a bad option; usage errors are 2 here.
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(AllWritten);
    // process() shows the help with Qt's own options and ends the program.
    if (parser.isSet(QStringLiteral("help-all")))
        parser.process(arguments);
    if (parser.isSet(options.version)) {
        printTo(stdout, versionText());
        return AllWritten;
    }

    if (const auto code = readDirection(parser.value(options.direction), request.params))
        return code;
    if (const auto code = readNumbers(parser, options, request.params))
        return code;
    if (const auto code = readBackground(parser, options, request.params))
        return code;
    if (const auto code = readOutput(parser, options, request))
        return code;

    request.jobs = QThread::idealThreadCount();
    if (parser.isSet(options.jobs) && !readNumber(parser.value(options.jobs), 1, 256, request.jobs))
        return usageError(QStringLiteral("--jobs must be a whole number from 1 to 256, not \"%1\"")
                              .arg(parser.value(options.jobs)));

    if (parser.isSet(options.quality)) {
        const QString asked = parser.value(options.quality);
        if (asked.trimmed() == QLatin1String("lossless"))
            request.quality.lossless = true;
        else if (!readNumber(asked, 1, 100, request.quality.quality))
            return usageError(QStringLiteral("--quality must be a whole number from 1 to 100 or "
                                             "lossless, not \"%1\"")
                                  .arg(asked));
    }

    const QStringList files = parser.positionalArguments();
    request.batch = parser.isSet(options.batch);
    if (files.size() != 2)
        return usageError(request.batch ? QStringLiteral("--batch takes a picture folder and a "
                                                         "result folder")
                                        : QStringLiteral("give an input picture and an output "
                                                         "file"));
    if (files[0].isEmpty() || files[1].isEmpty())
        return usageError(QStringLiteral("an empty name was given"));
    request.input = files[0];
    request.output = files[1];
    return checkFiles(parser, options, request);
}
