#include "mainwindow/glassmere.h"

void Glassmere::on_btAddPic_clicked() {}
