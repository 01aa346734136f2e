#include "mainwindow/glassmere.h"

void Glassmere::on_btSavePic_clicked() {}
