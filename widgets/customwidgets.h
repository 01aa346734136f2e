// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Four small widgets that each add one mouse signal to a standard widget. Each
// handler only emits; it never calls the base handler, whatever the button.

#include <QFrame>
#include <QLabel>
#include <QLineEdit>

// A frame that reports double clicks (the title bar's frames: maximise/restore).
class QFrameEx : public QFrame {
    Q_OBJECT
public:
    explicit QFrameEx(QWidget* parent = nullptr);
Q_SIGNALS:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// A label that reports double clicks; starts with no text.
class QLabelEx : public QLabel {
    Q_OBJECT
public:
    explicit QLabelEx(QWidget* parent = nullptr);
Q_SIGNALS:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QString initialText;
};

// A line edit that reports presses, before the release; the press does not
// move the cursor or select (the colour field is read-only and acts as a button).
class QLineEditEx : public QLineEdit {
    Q_OBJECT
public:
    explicit QLineEditEx(QWidget* parent = nullptr);
Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// A label that reports a mouse release over it, naming itself.
class QImageLabel : public QLabel {
    Q_OBJECT
public:
    explicit QImageLabel(QWidget* parent = nullptr);
Q_SIGNALS:
    void clicked(QImageLabel* clicked);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QString imageText;
};
