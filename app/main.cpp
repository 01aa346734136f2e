#include "app/startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName("org.example.Glassmere");
    return runGlassmere(app, QCoreApplication::applicationDirPath());
}
