#include "mainwindow/glassmere.h"

void Glassmere::on_btAddPicDir_clicked() {}
void Glassmere::on_btPicResultDir_clicked() {}
void Glassmere::on_btCovPics_clicked() {}
QString Glassmere::FormatDir(QString& dir)
{
    return dir;
}
QStringList Glassmere::DirTree(const QString& folder)
{
    (void)folder;
    return {};
}
