#include "dialogdriver.h"

#include <QFileDialog>

void acceptFileDialog(QFileDialog* dialog, const QString& path)
{
    dialog->selectFile(path);
    static_cast<QDialog*>(dialog)->accept();
}

void rejectDialog(QDialog* dialog)
{
    dialog->reject();
}
