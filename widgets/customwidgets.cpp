// SPDX-License-Identifier: GPL-3.0-or-later
#include "customwidgets.h"

QFrameEx::QFrameEx(QWidget* parent) : QFrame(parent, Qt::WindowFlags()) {}

void QFrameEx::mouseDoubleClickEvent(QMouseEvent*)
{
    Q_EMIT doubleClicked();
}

QLabelEx::QLabelEx(QWidget* parent) : QLabel(parent, Qt::WindowFlags())
{
    setText(initialText);
}

void QLabelEx::mouseDoubleClickEvent(QMouseEvent*)
{
    Q_EMIT doubleClicked();
}

QLineEditEx::QLineEditEx(QWidget* parent) : QLineEdit(parent) {}

void QLineEditEx::mousePressEvent(QMouseEvent*)
{
    Q_EMIT clicked();
}

QImageLabel::QImageLabel(QWidget* parent) : QLabel(parent) {}

void QImageLabel::mouseReleaseEvent(QMouseEvent*)
{
    Q_EMIT clicked(this);
}
