// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/saving/result_quality.h"
#include "reflection/renderer/reflection_renderer.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// One run over a picture folder: every listed picture is loaded, reflected
// with the same settings and written into the result folder.
struct BatchRequest {
    QString pictureDir; // listed as it stands; output paths start with resultDir as it stands
    QString resultDir;
    ReflectionParams params;
    int jobs = 1;               // pictures worked on at a time
    QualityChoice quality = {}; // JPEG and WebP results: the quality rule unless set
    // The extension of the one format every result is written in (NAME.EXT,
    // NAME up to the first dot); empty: each result's usual name and format.
    QString format = {};
    // Sub-folders too (not hidden ones, not links), each picture's result
    // written into the same sub-folder of resultDir, created as needed.
    bool recursive = false;
    // Once true, no further picture is begun; those begun are finished.
    const std::atomic<bool>* stop = nullptr;
};

// What happened to the files of a run, each list in listing order.
struct BatchReport {
    struct Written {
        QString input;
        QString output;
    };
    struct Skipped {
        QString input;
        QString reason;
    };
    // An output that went under another name than the usual one.
    struct Renamed {
        QString input;
        QString usualOutput;
        QString output;
        QString reason;
    };
    struct Failed {
        QString input;
        QString output; // empty when the picture was read but could not be rendered
        QString reason;
    };
    // A picture whose file is damaged, written as far as it could be read.
    struct Damaged {
        QString input;
        QString output; // empty when it was not written after all
        QString damage; // the reader's words
    };

    QString refusal; // set when the run was refused; then nothing was read or written
    int total = 0;   // files listed
    QList<Written> written;
    QList<Skipped> skipped;     // pictures that could not be read
    QList<Skipped> notPictures; // files no picture format names, that did not read as pictures
    QList<Renamed> renamed;
    QList<Failed> failed;
    QList<Damaged> damaged;
    int notBegun = 0; // listed files left when the run was stopped

    bool refused() const { return !refusal.isEmpty(); }
    // Every listed file was written whole under its usual name.
    bool clean() const
    {
        return !refused() && notBegun == 0 && skipped.isEmpty() && notPictures.isEmpty() &&
               renamed.isEmpty() && failed.isEmpty() && damaged.isEmpty();
    }
    // Something was not written, or written from a damaged file: the run failed.
    bool failedSomewhere() const
    {
        return !skipped.isEmpty() || !failed.isEmpty() || !damaged.isEmpty();
    }
};

// Called before a file is worked on: `index` counts from 0 in listing order,
// `total` is the number of listed files. Calls come in listing order and never
// at the same time, but with more than one job not always on the calling thread.
using BatchProgress = std::function<void(int index, int total)>;

// The folder's files in processing order: the names that hold a dot, files
// only (no sub-folders, no hidden or system entries), in descending
// case-sensitive name order, each appended to the folder text with a '/'
// put between when the text lacks one. With `recursive`, each sub-folder's
// files follow, sub-folder by sub-folder as listSubFolders gives them.
QStringList listPictures(const QString& folder, bool recursive = false);

// The folder's sub-folders that a recursive listing enters: not hidden, not
// links (a link may lead back up), in the same order and form as the files.
QStringList listSubFolders(const QString& folder);

// Why a run over these folders must not start, or an empty text: a folder
// that is missing, or a result folder that is the picture folder (the
// results would mix with the pictures; no picture is ever written over).
// Folders count as the same by canonical path, so links and "dir/." do too.
// With `recursive`, a result folder inside the picture folder is refused as
// well: its results would be listed as pictures.
// runBatch asks this itself; the window asks it first to give its own message.
QString batchRefusal(const QString& pictureDir, const QString& resultDir, bool recursive = false);

// How to write one line per file in describeBatchFiles. In a form, %1 stands
// for the input's path, %2 the output's path, %3 the input's file name, %4
// the output's file name, %5 the usual output's file name and %6 the reason
// (outputs are empty for a skipped file). An empty form leaves its files out.
struct BatchLineForms {
    QString skipped;
    QString failed;
    QString renamed;
    QString notPicture = {};
    QString damaged = {}; // %6: the reader's words
};

// One line for each file of `report` that did not go the usual way: the
// skipped ones, the files that are not pictures, then those not written, then
// the renamed ones, then the damaged ones, each in
// listing order. The window's box and glassmere-cli's report are both written
// with it.
QStringList describeBatchFiles(const BatchReport& report, const BatchLineForms& forms);

// How glassmere-cli writes a file's line in its report ("skipped: PATH: REASON").
BatchLineForms batchLineForms();

// The words of the report's closing line: `counts` takes the files written
// (%1), all files (%2), skipped (%3), not written (%4) and renamed (%5); each
// other form its count (%1), and is added only when there are any.
struct BatchSummaryForms {
    QString counts;
    QString notPictures;
    QString damaged;
    QString notEntered;
};

// glassmere-cli's words for the closing line.
BatchSummaryForms batchSummaryForms();

// The report's closing line, as glassmere-cli writes it by default: "4 of 5
// files written, 1 skipped, 0 not written, 0 renamed.", then how many files
// were not pictures or damaged and how many sub-folders were not entered
// (`notEntered`), when there are any.
QString batchSummary(const BatchReport& report, qsizetype notEntered = 0,
                     const BatchSummaryForms& forms = batchSummaryForms());

// The whole report, glassmere-cli's lines as the window's box shows them: a
// line for each file that did not go the usual way, the closing line, and
// for a stopped run how many files were not begun.
QStringList batchReportLines(const BatchReport& report);

// Works through `files` (as listPictures gives them). Each picture is decoded
// and normalised as a single opened picture is, rendered, and written safely
// (a temporary file renamed over the target). The output is named after the
// input: base name (up to the first dot) + ".png" for a result with
// transparency, otherwise the input's own name; base name + ".png" too when
// the input's format cannot store the result (its depth, or its size: an icon
// holds at most 256 × 256), reported as a rename. An opaque result of a HEIC,
// HEIF or JPEG XL picture (formats read, not written) is written as base name
// + ".jpg", reported as a rename. A picture whose file is
// damaged is written as far as it could be read and reported as damaged. An output that would
// replace an earlier output of the same run, or reach an input through a link,
// gets a unique name ("a-2.png"), decided in listing order, so any number of
// jobs gives the same names and the same report as one job. The pictures
// are held by the run itself; nothing of the caller's is touched.
BatchReport runBatch(const BatchRequest& request, const QStringList& files,
                     const BatchProgress& progress = {});

// Lists the picture folder and runs over it.
BatchReport runBatch(const BatchRequest& request, const BatchProgress& progress = {});
