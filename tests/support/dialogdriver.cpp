#include "dialogdriver.h"

#include <QFileDialog>
#include <QLineEdit>

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

void rejectDialog(QDialog* dialog)
{
    dialog->reject();
}
