#include "chrometest_watch.h"

#include <QDialog>

void ChromeWatch::closeEverythingThatBlocks()
{
    while (QWidget* popup = QApplication::activePopupWidget()) {
        if (!popup->close())
            break;
    }
    while (QWidget* modal = QApplication::activeModalWidget()) {
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (!dialog)
            break;
        dialog->reject();
        QCoreApplication::processEvents();
        if (dialog->isVisible())
            break;
    }
}
