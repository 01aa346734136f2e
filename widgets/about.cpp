// SPDX-License-Identifier: GPL-3.0-or-later
#include "about.h"

#include "app/globals.h"

about::about(QWidget* parent) : QDialog(parent, Qt::WindowFlags())
{
    // No frame and no title bar; the popup closes itself on a click outside.
    setWindowFlags(Qt::Popup);
    ui.setupUi(this);

    ui.lbTitle->setText(tr("Glassmere") + " " + QString::fromUtf8(versionString));
    ui.lbUrl->setText("<font color=gray>" + QString::fromUtf8(noticeText) + "</font>");
    ui.lbLicense->setText("<font color=gray>" +
                          tr("Free software under the GNU General Public License, version 3 or "
                             "later, without any warranty.") +
                          "</font>");

    const QString home = QString::fromUtf8(homePageAddress);
    ui.lbUrl_2->setText("<a href=" + home + ">" + home + "</a>");

    const QString mail = QString::fromUtf8(supportMailAddress);
    ui.lbEmail->setText("<font color=gray>Email:</font> <a href =\"mailto:" + mail + "\">" + mail +
                        "</a>");

    // A click on either link goes straight to the desktop's browser or mail program.
    ui.lbEmail->setOpenExternalLinks(true);
    ui.lbUrl_2->setOpenExternalLinks(true);
}

void about::on_pushButton_clicked()
{
    close();
}
