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
      skew(QStringLiteral("skew"),
           QStringLiteral("Pixels the reflection's outer end moves along the edge, as on a floor: "
                          "rightwards for bottom and top, downwards for left and right, the "
                          "other way when negative; the result grows by as much, -%1-%1 "
                          "(default: 0).")
               .arg(maximumSkew),
           QStringLiteral("pixels"), QStringLiteral("0")),
      contactEdge(QStringLiteral("contact-edge"),
                  QStringLiteral("Leave out the picture's empty margin at the reflecting edge "
                                 "(transparent, or the colour of its outermost line's first "
                                 "pixel), so that the reflection touches what it shows.")),
      color(QStringLiteral("color"),
            QStringLiteral("Colour the reflection fades into: #rrggbb, #rgb, rgb(r,g,b) or a "
                           "name such as white or steelblue (default: #ffffff)."),
            QStringLiteral("colour"), QStringLiteral("#ffffff")),
      transparent(QStringLiteral("transparent"),
                  QStringLiteral("Fade the reflection into transparency instead of a colour.")),
      jobs(QStringLiteral("jobs"),
           QStringLiteral("Pictures worked on at a time in a batch (default: the number of "
                          "processors, here %1).")
               .arg(QThread::idealThreadCount()),
           QStringLiteral("N")),
      quality(QStringLiteral("quality"),
              QStringLiteral("Quality of JPEG, WebP and AVIF results, 1-100, or lossless for "
                             "WebP and AVIF (default: the input's own: a JPEG's quality and "
                             "chroma sampling, lossless WebP and AVIF from a lossless file, "
                             "otherwise 90)."),
              QStringLiteral("N|lossless")),
      batch(QStringLiteral("batch"),
            QStringLiteral("Take the two arguments as a picture folder and a result folder.")),
      format(QStringLiteral("format"),
             QStringLiteral("Write in the format of this extension (png, jpg, webp, tiff, ...): "
                            "required when OUTPUT is -; with --batch every result as "
                            "NAME.EXT."),
             QStringLiteral("EXT")),
      recursive(QStringLiteral("recursive"),
                QStringLiteral("With --batch, also the pictures of PICTURE_DIR's sub-folders, "
                               "each result into the same sub-folder of RESULT_DIR.")),
      quiet(QStringLiteral("quiet"),
            QStringLiteral("No progress and no counts: only what went wrong.")),
      report(QStringLiteral("report"),
             QStringLiteral("With --batch, the report as text or as json: one object per file "
                            "with input, output, outcome and reason (default: text)."),
             QStringLiteral("text|json"), QStringLiteral("text")),
      version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
              QStringLiteral("Displays the version, the licence and the libraries' versions."))
{
}

void describeCommandLine(QCommandLineParser& parser, const CliOptions& options)
{
    parser.setApplicationDescription(
        QStringLiteral("Adds a mirror reflection to a picture, or to every picture of a folder.\n"
                       "\n"
                       "  glassmere-cli [options] INPUT OUTPUT\n"
                       "      writes INPUT with its reflection to OUTPUT, in the format that\n"
                       "      OUTPUT's extension (or --format) selects. INPUT - reads the\n"
                       "      picture from standard input, OUTPUT - writes the result to\n"
                       "      standard output in the format --format names.\n"
                       "  glassmere-cli [options] --batch PICTURE_DIR RESULT_DIR\n"
                       "      reflects every picture of PICTURE_DIR into RESULT_DIR: results with\n"
                       "      transparency as NAME.png, others under the picture's own name.\n"
                       "      Files that are not pictures are listed and left alone.\n"
                       "\n"
                       "Exit status: 0 when everything was written, 1 when some file was not\n"
                       "or was written from a damaged picture, 2 for a usage error, 130 when a\n"
                       "--batch run was interrupted (Ctrl-C)."));
    parser.addHelpOption();
    parser.addOption(options.version);
    parser.addOptions({options.direction, options.size, options.depth, options.opacity, options.gap,
                       options.blur, options.skew, options.contactEdge, options.color,
                       options.transparent, options.format, options.jobs, options.quality,
                       options.batch, options.recursive, options.quiet, options.report});
    parser.addPositionalArgument(QStringLiteral("INPUT"),
                                 QStringLiteral("The picture, or with --batch the picture folder."),
                                 QStringLiteral("INPUT|PICTURE_DIR"));
    parser.addPositionalArgument(
        QStringLiteral("OUTPUT"),
        QStringLiteral("The file to write, or with --batch the result folder."),
        QStringLiteral("OUTPUT|RESULT_DIR"));
}
