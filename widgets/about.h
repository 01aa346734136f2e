// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui_about.h"

#include <QDialog>

// The frameless about box: product name and version, the banner, the owner's
// notice and links to the web site and the support address. It is a popup, so
// a click anywhere outside it closes it like "OK" does.
class about : public QDialog {
    Q_OBJECT

public:
    explicit about(QWidget* parent = nullptr);

private Q_SLOTS:
    void on_pushButton_clicked();

private:
    Ui::aboutClass ui;
};
