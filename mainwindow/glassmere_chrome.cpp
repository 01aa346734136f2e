#include "glassmere.h"

void Glassmere::mousePressEvent(QMouseEvent*) {}
void Glassmere::mouseMoveEvent(QMouseEvent*) {}
void Glassmere::keyPressEvent(QKeyEvent*) {}
void Glassmere::resizeEvent(QResizeEvent*) {}
void Glassmere::contextMenuEvent(QContextMenuEvent*) {}
void Glassmere::on_btnMax_clicked() {}
void Glassmere::on_btnMinimize_clicked() {}
void Glassmere::on_btnClose_clicked() {}
void Glassmere::on_btnHelp_clicked() {}
void Glassmere::on_btReflection_clicked() {}
void Glassmere::on_actionMenuHelper_triggered() {}
void Glassmere::on_actionCheck_for_New_Version_triggered() {}
void Glassmere::on_actionOnline_Support_triggered() {}
void Glassmere::on_actionVisit_Our_Web_Site_triggered() {}
void Glassmere::on_actionAbout_Us_triggered() {}
void Glassmere::About() {}
