#include "glassmere.h"

#include <QGraphicsScene>
#include <QIntValidator>

Glassmere::Glassmere(QWidget* parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags), reflectionColor{255, 255, 255}
{
    // The skin is application-wide and in force before the form creates its widgets.
    SetWinStyle();
    maximized = false;
    ui.setupUi(this);
    ui.lbProcess->hide();

    connect(ui.label_Top, SIGNAL(doubleClicked()), this, SLOT(on_btnMax_clicked()));
    connect(ui.frame_Title, SIGNAL(doubleClicked()), this, SLOT(on_btnMax_clicked()));
    connect(ui.frame_TopButton, SIGNAL(doubleClicked()), this, SLOT(on_btnMax_clicked()));
    connect(ui.txtColor, SIGNAL(clicked()), this, SLOT(TxtColorPressEvent()));

    pixmapItem = nullptr;
    scene = new QGraphicsScene();
    ui.graphicsView->setScene(scene);

    transparent = false;
    reflectionColor = {255, 255, 255};

    ui.progressBar->hide();
    CreateActionMenu();

    ui.txtSize->setValidator(new QIntValidator(0, 100, this));
    ui.txtDepth->setValidator(new QIntValidator(0, 100, this));
    SetFramelessHint();
}

Glassmere::~Glassmere()
{
    // The scene (and the pixmap item it owns) goes before the view that shows it.
    if (scene) {
        delete scene;
        scene = nullptr;
    }
}

void Glassmere::CreateActionMenu()
{
    ui.actionMenuHelper->setShortcut(QKeySequence(tr("F1")));
}
