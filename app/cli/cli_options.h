// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// glassmere-cli's command line: the options with their --help texts
// (cli_help.cpp) and their reading into one request (cli_options.cpp).

#include "imaging/saving/result_quality.h"
#include "reflection/renderer/reflection_renderer.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <optional>

// What one run does: on which files, with which settings.
struct CliRequest {
    ReflectionParams params; // the window's start-up settings unless an option changes them
    int jobs = 1;
    QualityChoice quality; // --quality; unset: JPEG and WebP results keep the input's
    bool batch = false; // input and output are a picture folder and a result folder
    QString input;      // "-": standard input
    QString output;     // "-": standard output
    QString format;     // the extension of the format to write; empty: the output's own
    bool recursive = false;
    bool quiet = false;      // no progress, no lines about files that went well, no counts
    bool jsonReport = false; // the batch's report as JSON on stdout
};

// Every option glassmere-cli takes, with its --help text and default.
struct CliOptions {
    CliOptions();
    QCommandLineOption direction;
    QCommandLineOption size;
    QCommandLineOption depth;
    QCommandLineOption opacity;
    QCommandLineOption gap;
    QCommandLineOption blur;
    QCommandLineOption skew;
    QCommandLineOption contactEdge;
    QCommandLineOption color;
    QCommandLineOption transparent;
    QCommandLineOption jobs;
    QCommandLineOption quality;
    QCommandLineOption batch;
    QCommandLineOption format;
    QCommandLineOption recursive;
    QCommandLineOption quiet;
    QCommandLineOption report;
    QCommandLineOption version;
};

// Sets up the parser: description, usage and exit codes, the options and the
// two positional arguments.
void describeCommandLine(QCommandLineParser& parser, const CliOptions& options);

// Reads the arguments into request. Returns the exit code when the run ends
// here (a usage error, after its message on stderr); --help and --version
// print and end the program themselves.
std::optional<int> readCommandLine(const QStringList& arguments, CliRequest& request);

// What --version prints: the version, the licence and the libraries' versions.
QString versionText();
