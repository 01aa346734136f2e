// SPDX-License-Identifier: GPL-3.0-or-later
#include "glassmere.h"

#include <QGraphicsScene>
#include <QIntValidator>
#include <QTimer>

#include <utility>

namespace {
// Qt's integer validator lets "101" through as an intermediate state for 0..100
// (the slider then clamps it); a slider's number field refuses the keystroke
// instead.
class SliderValidator : public QIntValidator {
public:
    SliderValidator(const QAbstractSlider* slider, QObject* parent)
        : QIntValidator(slider->minimum(), slider->maximum(), parent)
    {
    }
    State validate(QString& input, int& pos) const override
    {
        const State state = QIntValidator::validate(input, pos);
        bool isNumber = false;
        const int value = input.toInt(&isNumber);
        if (state == Intermediate && isNumber && (value < bottom() || value > top()))
            return Invalid;
        return state;
    }
};
} // namespace

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
    // A drag of the picture pans it, under the open hand.
    ui.graphicsView->setDragMode(QGraphicsView::ScrollHandDrag);

    transparent = false;
    reflectionColor = {255, 255, 255};

    ui.progressBar->hide();
    CreateActionMenu();

    for (auto [field, slider] : {std::pair{ui.txtSize, ui.refSize},
                                 {ui.txtDepth, ui.refDepth},
                                 {ui.txtOpacity, ui.refOpacity},
                                 {ui.txtGap, ui.refGap},
                                 {ui.txtBlur, ui.refBlur},
                                 {ui.txtSkew, ui.refSkew}})
        field->setValidator(new SliderValidator(slider, this));

    liveTimer = new QTimer(this);
    liveTimer->setSingleShot(true);
    liveTimer->setInterval(0);
    connect(liveTimer, &QTimer::timeout, this, &Glassmere::ShowLiveFrame);
    settleTimer = new QTimer(this);
    settleTimer->setSingleShot(true);
    settleTimer->setInterval(200);
    connect(settleTimer, &QTimer::timeout, this, &Glassmere::RenderChangedSettings);
    for (QAbstractSlider* slider :
         {ui.refSize, ui.refDepth, ui.refOpacity, ui.refGap, ui.refBlur, ui.refSkew}) {
        FollowWhileDragged(slider);
        RenderWhenSettled(slider);
    }
    CreateShortcuts();
    ui.btSavePic->setEnabled(false); // until there is a result to save
    AcceptDrops();
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
