// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/glassmere.h"

// Undo and redo of the settings. Every settled change (a slider let go or
// settled, a typed value confirmed, a direction, the transparency or a colour
// picked) is one step; undo puts every control back as it was before that
// step and renders it. Nothing is kept between runs.

namespace {
// Far more than anybody undoes; the oldest steps go first.
constexpr qsizetype stepsKept = 1000;
} // namespace

void Glassmere::RecordSettled(const ReflectionParams& now)
{
    if (now == settledParams)
        return;
    undoSteps.append(settledParams);
    if (undoSteps.size() > stepsKept)
        undoSteps.removeFirst();
    redoSteps.clear();
    settledParams = now;
}

void Glassmere::UndoSettings()
{
    StepSettings(undoSteps, redoSteps);
}

void Glassmere::RedoSettings()
{
    StepSettings(redoSteps, undoSteps);
}

// Goes to the last settings of `from`, keeping the settled ones in `to`.
void Glassmere::StepSettings(QList<ReflectionParams>& from, QList<ReflectionParams>& to)
{
    if (from.isEmpty())
        return;
    to.append(settledParams);
    settledParams = from.takeLast();
    ApplySettings(settledParams);
}

void Glassmere::ApplySettings(const ReflectionParams& params)
{
    // The controls' own handlers keep fields, boxes and colour controls in
    // step; their renders are held for the one at the end.
    ++renderHold;
    QCheckBox* boxes[] = {ui.checkBoxTop, ui.checkBoxBottom, ui.checkBoxLeft, ui.checkBoxRight};
    boxes[int(params.direction)]->setChecked(true); // in the order of Direction
    ui.refSize->setValue(params.sizePercent);
    ui.refDepth->setValue(params.unfadedPercent);
    ui.refOpacity->setValue(params.opacity);
    ui.refGap->setValue(params.gap);
    ui.refBlur->setValue(params.blur);
    ui.refSkew->setValue(params.skew);
    ui.cbContactEdge->setChecked(params.contactEdge);
    reflectionColor = params.color;
    ui.txtColor->setText(QString::asprintf("#%02x%02x%02x", reflectionColor.red,
                                           reflectionColor.green, reflectionColor.blue));
    UpdateReflecitonColor();
    ui.cbTransparent->setChecked(params.transparent);
    --renderHold;
    RunReflection();
}
