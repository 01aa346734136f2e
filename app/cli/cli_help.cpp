// SPDX-License-Identifier: GPL-3.0-or-later
// The options' names, values and --help texts.

#include "app/cli/cli_options.h"

#include <QThread>

CliOptions::CliOptions()
    : direction(QStringLiteral("direction"),
                QStringLiteral("Edge that gets the reflection: bottom, top, left or right "
                               "(default: bottom)."),
                QStringLiteral("edge"), QStringLiteral("bottom")),
      size(QStringLiteral("size"),
           QStringLiteral("Reflection size in percent of the picture, 0-100 (default: 40)."),
           QStringLiteral("percent"), QStringLiteral("40")),
      depth(QStringLiteral("depth"),
            QStringLiteral("Share of the reflection that keeps full strength, 0-100 (default: "
                           "30)."),
            QStringLiteral("percent"), QStringLiteral("30")),
      opacity(QStringLiteral("opacity"),
              QStringLiteral("Strength of the reflection where it touches the picture, 0-100 "
                             "(default: 100)."),
              QStringLiteral("percent"), QStringLiteral("100")),
      gap(QStringLiteral("gap"),
          QStringLiteral("Background pixels between the picture and its reflection, 0-10000 "
                         "(default: 0)."),
          QStringLiteral("pixels"), QStringLiteral("0")),
      blur(QStringLiteral("blur"),
           QStringLiteral("Blur radius at the reflection's outer end, growing from 0 where it "
                          "touches the picture, 0-%1 (default: 0).")
               .arg(maximumBlur),
           QStringLiteral("pixels"), QStringLiteral("0")),
      color(QStringLiteral("color"),
            QStringLiteral("Colour the reflection fades into, as #rrggbb (default: #ffffff)."),
            QStringLiteral("#rrggbb"), QStringLiteral("#ffffff")),
      transparent(QStringLiteral("transparent"),
                  QStringLiteral("Fade the reflection into transparency instead of a colour.")),
      jobs(QStringLiteral("jobs"),
           QStringLiteral("Pictures worked on at a time in a batch (default: the number of "
                          "processors, here %1).")
               .arg(QThread::idealThreadCount()),
           QStringLiteral("N")),
      batch(QStringLiteral("batch"),
            QStringLiteral("Take the two arguments as a picture folder and a result folder."))
{
}

void describeCommandLine(QCommandLineParser& parser, const CliOptions& options)
{
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
    parser.addOptions({options.direction, options.size, options.depth, options.opacity, options.gap,
                       options.blur, options.color, options.transparent, options.jobs,
                       options.batch});
    parser.addPositionalArgument(QStringLiteral("INPUT"),
                                 QStringLiteral("The picture, or with --batch the picture folder."),
                                 QStringLiteral("INPUT|PICTURE_DIR"));
    parser.addPositionalArgument(
        QStringLiteral("OUTPUT"),
        QStringLiteral("The file to write, or with --batch the result folder."),
        QStringLiteral("OUTPUT|RESULT_DIR"));
}
