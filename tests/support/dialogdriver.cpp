// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogdriver.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>

void DialogDriver::closeWhatBlocks(int callerLoopLevel)
{
    if (QWidget* popup = shownInItsLoop<QWidget>(callerLoopLevel);
        popup && !qobject_cast<QDialog*>(popup))
        popup->close();
    if (auto* dialog = shownInItsLoop<QDialog>(callerLoopLevel))
        dialog->reject();
}

MessageBoxCatcher::MessageBoxCatcher(int timeoutMs)
{
    expect<QMessageBox>(
        [this](QMessageBox* box) {
            said = QStringList{box->windowTitle(), box->text(), box->informativeText(),
                               box->detailedText()}
                       .join('|');
            box->button(QMessageBox::Ok)->click();
        },
        timeoutMs);
}

void acceptFileDialog(QFileDialog* dialog, const QString& path)
{
    dialog->selectFile(path);
    // accept() takes the name from the name field, which selectFile() leaves
    // alone once the field has the focus: the dialog would only open the
    // folder and stay up.
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        name->setText(path);
    static_cast<QDialog*>(dialog)->accept();
}

QString chooseFile(QAbstractButton* button, const QString& path, int timeoutMs)
{
    MessageBoxCatcher box(timeoutMs);
    box.expect<QFileDialog>(
        [&](QFileDialog* dialog) {
            dialog->setOption(QFileDialog::DontConfirmOverwrite, true);
            acceptFileDialog(dialog, path);
        },
        timeoutMs);
    button->click();
    return box.answered ? box.said : "no file dialog";
}
