// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "imaging/pixels/pixel_memory.h"
#include "imaging/preview/preview_image.h"
#include "reflection/renderer/live_preview.h"
#include "reflection/renderer/reflection_renderer.h"
#include "ui_glassmere.h"

#include <FreeImagePlus.h>
#include <QMainWindow>

#include <functional>

struct BatchReport;
class QAbstractSlider;
class QCheckBox;
class QGraphicsPixmapItem;
class QGraphicsScene;
class QTimer;
class QWheelEvent;

// The program's only main window. It owns all picture state (the loaded
// picture, its rendered result, the preview scene, the reflection colour and
// mode) and its own chrome: it has no system frame and draws its title bar,
// borders and buttons itself through the skin.
class Glassmere : public QMainWindow {
    Q_OBJECT

public:
    explicit Glassmere(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~Glassmere() override;

    // Opens the picture at `path` as the open command does after its dialog:
    // a dropped file, a file given to the program and a pasted picture too.
    void OpenPicture(const QString& path);

    // Fully transparent band around the visible window (the outer layout's margins).
    static constexpr int maskBand = 11;

protected Q_SLOTS:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

protected:
    // A picture dropped anywhere opens as the open command does; a folder dropped
    // while the batch tab shows becomes the picture folder.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private Q_SLOTS:
    void CreateActionMenu();
    void SetWinStyle();
    void About();

    // reflection settings
    int GetReflectionDirection();
    void UpdateReflecitonColor();
    void TxtColorPressEvent();
    void on_refSize_valueChanged(int value);
    void on_refDepth_valueChanged(int value);
    void on_txtSize_textChanged(QString str);
    void on_txtDepth_textChanged(QString str);
    void on_refSize_sliderReleased();
    void on_refDepth_sliderReleased();
    void on_refOpacity_valueChanged(int value);
    void on_refGap_valueChanged(int value);
    void on_refBlur_valueChanged(int value);
    void on_txtOpacity_textChanged(QString str);
    void on_txtGap_textChanged(QString str);
    void on_txtBlur_textChanged(QString str);
    void on_refOpacity_sliderReleased();
    void on_refGap_sliderReleased();
    void on_refBlur_sliderReleased();
    void on_txtSize_editingFinished();
    void on_txtDepth_editingFinished();
    void on_txtOpacity_editingFinished();
    void on_txtGap_editingFinished();
    void on_txtBlur_editingFinished();
    void on_refSkew_valueChanged(int value);
    void on_txtSkew_textChanged(QString str);
    void on_refSkew_sliderReleased();
    void on_txtSkew_editingFinished();
    void on_cbContactEdge_toggled(bool checked);
    void on_checkBoxTop_toggled(bool checked);
    void on_checkBoxLeft_toggled(bool checked);
    void on_checkBoxBottom_toggled(bool checked);
    void on_checkBoxRight_toggled(bool checked);
    void on_cbTransparent_toggled(bool checked);
    void on_btColorPicker_clicked();
    void on_txtColor_returnPressed();

    // rendering
    void RunReflection();
    ReflectionParams currentParams();
    void ShowLiveFrame();
    void AddImageReflection(fipImage& srcImage, fipImage& dstImage, _RGB bgcolor, int direction,
                            int rate, int start, int ge);
    void BottomReflection(fipImage& srcImage, fipImage& dstImage, _RGB bgcolor, int rate, int start,
                          int ge);

    // opening, preview, saving
    void on_btAddPic_clicked();
    void ShowImage(fipImage* image);
    void on_pbZoomIn_clicked();
    void on_pbZoomOut_clicked();
    void on_pbRawSize_clicked();
    void on_pbFit_clicked();
    void on_btSavePic_clicked();

    // batch
    void on_btAddPicDir_clicked();
    void on_btPicResultDir_clicked();
    void on_btCovPics_clicked();
    QString FormatDir(QString& dir);
    QStringList DirTree(const QString& folder);

    // chrome and help menu
    void on_btnMax_clicked();
    void on_btnMinimize_clicked();
    void on_btnClose_clicked();
    void on_btnHelp_clicked();
    void on_btReflection_clicked();
    void on_actionMenuHelper_triggered();
    void on_actionCheck_for_New_Version_triggered();
    void on_actionOnline_Support_triggered();
    void on_actionVisit_Our_Web_Site_triggered();
    void on_actionAbout_Us_triggered();

private:
    // Runs `work` on a thread of its own and returns when it is done. Meanwhile
    // the window shows the busy cursor, keeps painting, and drops the user's
    // clicks, keys and drops. `work` must not touch widgets. When `stop` is
    // given, Escape calls it with false and a request to close the window
    // (which is refused meanwhile) with true.
    void RunBusy(const std::function<void()>& work, const std::function<void(bool)>& stop = {});
    // A clipboard or undo key pressed in a line edit other than the folder
    // fields: the window's command, not the field's.
    bool IsWindowKey(QObject* watched, QEvent* event) const;
    // The box that ends every batch.
    void ShowBatchReport(const BatchReport& report);
    // The warning box of a command that failed, `why` in its details.
    void ShowFailure(const QString& text, const QString& why);
    // Takes drops on the whole window, the text fields included.
    void AcceptDrops();
    // Accepts or refuses a drag as its drop would act; on the drop itself also acts.
    void HandleDrag(QDropEvent* event);

    // The preview follows `slider` while its handle is dragged.
    void FollowWhileDragged(QAbstractSlider* slider);
    // Checks or unchecks `box`; a checked one unchecks the other direction
    // boxes. Renders once, with the new direction.
    void ToggleDirection(QCheckBox* box, bool checked);
    // A slider moved by its keys, the wheel or a click beside its handle
    // renders once the moves have settled.
    void RenderWhenSettled(QAbstractSlider* slider);
    // Renders when the settings differ from the last settled ones: a typed
    // value confirmed, or a slider's moves settled.
    void RenderChangedSettings();

    // Undo and redo of settled settings changes (glassmere_history.cpp).
    void RecordSettled(const ReflectionParams& now);
    void UndoSettings();
    void RedoSettings();
    void StepSettings(QList<ReflectionParams>& from, QList<ReflectionParams>& to);
    // Sets every control to `params` and renders them once.
    void ApplySettings(const ReflectionParams& params);

    // The window's commands that work wherever the focus is inside it.
    void CreateShortcuts();
    // Copies the result to the clipboard; opens a picture from it as Open does.
    void CopyResult();
    void PastePicture();
    // A fitted view shows the whole current result again.
    void KeepFitted();
    // What of the result the view shows, so that a result of another size
    // can show the same part of the picture.
    struct ViewSpot {
        QRectF scene;      // the scene's rectangle then
        QPointF onPicture; // the view's centre from the picture's corner
        bool wholeWidth = false;
        bool wholeHeight = false;
    };
    ViewSpot ViewedSpot();
    void ReturnToSpot(const ViewSpot& spot);
    QPointF PictureOffset(const ReflectionParams& params);
    bool ZoomByWheel(QWheelEvent* event);

    // Removes the window manager's frame, which a mask alone leaves visible on X11.
    void SetFramelessHint();

    // Tests reach the window's state the way the window's own code does.
    friend class GlassmereTestAccess;

    Ui::GlassmereClass ui;
    bool maximized;
    // The left button went down on the window itself, not on a control that keeps
    // its press: only then do the moves that follow drag the window.
    bool dragging = false;
    QPoint dragPosition;
    QRect savedGeometry;
    // The file the picture was opened from ("" before any), for the save's suggestion.
    QString picturePath;
    // The decoder writes each picture straight into this memory, taking turns
    // between two files so that a picture that fails leaves the one shown whole.
    PixelMemory pictureMemory;
    fipImage sourceImage;
    // Declared before the result, which may use it, so that it goes last.
    PixelMemory resultMemory;
    fipImage resultImage;
    LivePreview livePreview;
    PreviewMemory previewMemory;
    // One live frame at a time: value changes of a dragged slider start it,
    // a full render stops it, so the latest values win.
    QTimer* liveTimer = nullptr;
    // The view shows the whole result (after opening or a Fit) and keeps
    // doing so when the result changes size; a zoom the user chose ends it.
    bool viewFitted = false;
    // Moves of a slider by keys or wheel render once they stop for this long.
    QTimer* settleTimer = nullptr;
    // The settings last settled, and the steps before and after them.
    ReflectionParams settledParams;
    QList<ReflectionParams> undoSteps;
    QList<ReflectionParams> redoSteps;
    // Renders asked for while a handler changes several controls are skipped;
    // the handler renders once at the end.
    int renderHold = 0;
    // The settings of the last full render, and those whose layout the scene has.
    ReflectionParams shownParams;
    ReflectionParams sceneLayout;
    QGraphicsScene* scene;
    QGraphicsPixmapItem* pixmapItem;
    _RGB reflectionColor;
    bool transparent;
};
