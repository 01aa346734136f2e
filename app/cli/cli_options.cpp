// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the command line into a request: each value checked, each fault a
// usage error that names the option and what was given.

#include "app/cli/cli_options.h"

#include "app/cli/cli_output.h"

#include <QRegularExpression>
#include <QThread>

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
    if (!readNumber(parser.value(options.size), 0, 100, params.sizePercent))
        return usageError(QStringLiteral("--size must be a whole number from 0 to 100, not \"%1\"")
                              .arg(parser.value(options.size)));
    if (!readNumber(parser.value(options.depth), 0, 100, params.unfadedPercent))
        return usageError(QStringLiteral("--depth must be a whole number from 0 to 100, not \"%1\"")
                              .arg(parser.value(options.depth)));
    if (!readNumber(parser.value(options.opacity), 0, 100, params.opacity))
        return usageError(
            QStringLiteral("--opacity must be a whole number from 0 to 100, not \"%1\"")
                .arg(parser.value(options.opacity)));
    if (!readNumber(parser.value(options.gap), 0, 10000, params.gap))
        return usageError(QStringLiteral("--gap must be a whole number from 0 to 10000, not \"%1\"")
                              .arg(parser.value(options.gap)));
    if (!readNumber(parser.value(options.blur), 0, maximumBlur, params.blur))
        return usageError(QStringLiteral("--blur must be a whole number from 0 to %1, not \"%2\"")
                              .arg(maximumBlur)
                              .arg(parser.value(options.blur)));
    return std::nullopt;
}

std::optional<int> readBackground(const QCommandLineParser& parser, const CliOptions& options,
                                  ReflectionParams& params)
{
    if (parser.isSet(options.color) && parser.isSet(options.transparent))
        return usageError(QStringLiteral("--color and --transparent exclude each other"));
    params.transparent = parser.isSet(options.transparent);
    const QString colorText = parser.value(options.color);
    static const QRegularExpression colorPattern(QStringLiteral("^#[0-9A-Fa-f]{6}$"));
    if (!colorPattern.match(colorText).hasMatch())
        return usageError(
            QStringLiteral("--color must be written #rrggbb, as in #ff8000, not \"%1\"")
                .arg(colorText));
    const uint rgb = colorText.mid(1).toUInt(nullptr, 16);
    params.color = {int((rgb >> 16) & 0xff), int((rgb >> 8) & 0xff), int(rgb & 0xff)};
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
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    if (const auto code = readDirection(parser.value(options.direction), request.params))
        return code;
    if (const auto code = readNumbers(parser, options, request.params))
        return code;
    if (const auto code = readBackground(parser, options, request.params))
        return code;

    request.jobs = QThread::idealThreadCount();
    if (parser.isSet(options.jobs) && !readNumber(parser.value(options.jobs), 1, 256, request.jobs))
        return usageError(QStringLiteral("--jobs must be a whole number from 1 to 256, not \"%1\"")
                              .arg(parser.value(options.jobs)));

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
    return std::nullopt;
}
