// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/glassmere.h"

#include <QColorDialog>
#include <QSignalBlocker>
#include <QTimer>

// Slider and number field mirror each other; the loop ends by itself because
// setting an unchanged value or text emits nothing.
void Glassmere::on_refSize_valueChanged(int value)
{
    ui.txtSize->setText(QString::number(value));
}

void Glassmere::on_refDepth_valueChanged(int value)
{
    ui.txtDepth->setText(QString::number(value));
}

void Glassmere::on_txtSize_textChanged(QString str)
{
    ui.refSize->setValue(str.toInt());
}

void Glassmere::on_txtDepth_textChanged(QString str)
{
    ui.refDepth->setValue(str.toInt());
}

// While a handle is dragged every value shows in the preview at once, drawn
// at the size the view shows it; value changes that come faster than frames
// make one frame with the latest values. Letting go renders in full.
void Glassmere::FollowWhileDragged(QAbstractSlider* slider)
{
    connect(slider, &QAbstractSlider::valueChanged, this, [this, slider] {
        if (slider->isSliderDown() && !liveTimer->isActive())
            liveTimer->start();
    });
}

// Keys, the wheel and clicks beside the handle move a slider by actions, a
// value typed into its field does not. Each action starts the wait again, so
// a wheel turned through ten steps renders once, with the last value.
void Glassmere::RenderWhenSettled(QAbstractSlider* slider)
{
    connect(slider, &QAbstractSlider::actionTriggered, this, [this, slider] {
        if (!slider->isSliderDown())
            settleTimer->start();
    });
}

void Glassmere::on_refSize_sliderReleased()
{
    RunReflection();
}

void Glassmere::on_refDepth_sliderReleased()
{
    RunReflection();
}

// Opacity, gap and blur work as Size and Depth do.
void Glassmere::on_refOpacity_valueChanged(int value)
{
    ui.txtOpacity->setText(QString::number(value));
}

void Glassmere::on_refGap_valueChanged(int value)
{
    ui.txtGap->setText(QString::number(value));
}

void Glassmere::on_refBlur_valueChanged(int value)
{
    ui.txtBlur->setText(QString::number(value));
}

void Glassmere::on_txtOpacity_textChanged(QString str)
{
    ui.refOpacity->setValue(str.toInt());
}

void Glassmere::on_txtGap_textChanged(QString str)
{
    ui.refGap->setValue(str.toInt());
}

void Glassmere::on_txtBlur_textChanged(QString str)
{
    ui.refBlur->setValue(str.toInt());
}

void Glassmere::on_refOpacity_sliderReleased()
{
    RunReflection();
}

void Glassmere::on_refGap_sliderReleased()
{
    RunReflection();
}

void Glassmere::on_refBlur_sliderReleased()
{
    RunReflection();
}

// A typed value renders once it is confirmed: Return, or the field left.
void Glassmere::on_txtSize_editingFinished()
{
    RenderChangedSettings();
}

void Glassmere::on_txtDepth_editingFinished()
{
    RenderChangedSettings();
}

void Glassmere::on_txtOpacity_editingFinished()
{
    RenderChangedSettings();
}

void Glassmere::on_txtGap_editingFinished()
{
    RenderChangedSettings();
}

void Glassmere::on_txtBlur_editingFinished()
{
    RenderChangedSettings();
}

// The skew works as the gap and the blur do.
void Glassmere::on_refSkew_valueChanged(int value)
{
    ui.txtSkew->setText(QString::number(value));
}

void Glassmere::on_txtSkew_textChanged(QString str)
{
    ui.refSkew->setValue(str.toInt());
}

void Glassmere::on_refSkew_sliderReleased()
{
    RunReflection();
}

void Glassmere::on_txtSkew_editingFinished()
{
    RenderChangedSettings();
}

void Glassmere::on_cbContactEdge_toggled(bool)
{
    RunReflection();
}

void Glassmere::RenderChangedSettings()
{
    settleTimer->stop();
    if (currentParams() != settledParams)
        RunReflection();
}

// The four boxes act as a group of which exactly one is checked: the one
// whose direction renders. Unchecking the checked box lights the bottom one,
// the direction that then renders. A switch renders once: unchecking the
// other box emits its own toggled signal, whose render is held back.
void Glassmere::on_checkBoxTop_toggled(bool checked)
{
    ToggleDirection(ui.checkBoxTop, checked);
}

void Glassmere::on_checkBoxLeft_toggled(bool checked)
{
    ToggleDirection(ui.checkBoxLeft, checked);
}

void Glassmere::on_checkBoxBottom_toggled(bool checked)
{
    ToggleDirection(ui.checkBoxBottom, checked);
}

void Glassmere::on_checkBoxRight_toggled(bool checked)
{
    ToggleDirection(ui.checkBoxRight, checked);
}

void Glassmere::ToggleDirection(QCheckBox* box, bool checked)
{
    if (checked) {
        // The box being unchecked would render the same direction again.
        ++renderHold;
        for (QCheckBox* other :
             {ui.checkBoxBottom, ui.checkBoxLeft, ui.checkBoxRight, ui.checkBoxTop}) {
            if (other != box)
                other->setChecked(false);
        }
        --renderHold;
    } else if (!ui.checkBoxTop->isChecked() && !ui.checkBoxLeft->isChecked() &&
               !ui.checkBoxRight->isChecked() && !ui.checkBoxBottom->isChecked()) {
        // Checking the bottom box renders; the bottom box itself stays lit.
        if (box != ui.checkBoxBottom) {
            ui.checkBoxBottom->setChecked(true);
        } else {
            const QSignalBlocker quiet(box);
            box->setChecked(true);
        }
        return;
    }
    RunReflection();
}

// With no box checked the direction is bottom; the bottom box itself is never read.
int Glassmere::GetReflectionDirection()
{
    if (ui.checkBoxTop->isChecked())
        return 0;
    if (ui.checkBoxLeft->isChecked())
        return 2;
    if (ui.checkBoxRight->isChecked())
        return 3;
    return 1;
}

void Glassmere::on_cbTransparent_toggled(bool checked)
{
    // The colour is kept while transparency is on and used again afterwards.
    if (checked) {
        transparent = true;
        ui.frameColor->setEnabled(false);
    } else {
        transparent = false;
        ui.frameColor->setEnabled(true);
        UpdateReflecitonColor();
    }
    RunReflection();
}

void Glassmere::UpdateReflecitonColor()
{
    // Only while enabled: a disabled swatch takes the skin's grey.
    ui.btColorPicker->setStyleSheet(QString("QPushButton:enabled { background-color: rgb(%1, %2, "
                                            "%3); }")
                                        .arg(reflectionColor.red)
                                        .arg(reflectionColor.green)
                                        .arg(reflectionColor.blue));
}

void Glassmere::on_btColorPicker_clicked()
{
    // The chooser starts at the current colour.
    const QColor start(reflectionColor.red, reflectionColor.green, reflectionColor.blue);
    const QColor color = QColorDialog::getColor(start, nullptr);
    if (!color.isValid())
        return;

    reflectionColor = {color.red(), color.green(), color.blue()};
    UpdateReflecitonColor();
    ui.txtColor->setText(QString::asprintf("#%02x%02x%02x", reflectionColor.red,
                                           reflectionColor.green, reflectionColor.blue));
    RunReflection();
}

void Glassmere::on_txtColor_returnPressed()
{
    on_btColorPicker_clicked();
}

void Glassmere::TxtColorPressEvent()
{
    on_btColorPicker_clicked();
}
