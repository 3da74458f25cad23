// The main window: the display with its timer and mouse handling, the menu's commands, the save
// dialog, and the forms that start-up creates with it.
#ifndef SPIRALIS_MAIN_H
#define SPIRALIS_MAIN_H

#include <QImage>

#include "display.h"
#include "ui_main.h"

class QFileDialog;
class QTimer;
class TAbout;
class TColorAdjustment;
class TExactPosition;
class TFractals;
class TPrecision;
class TTools;
class TViewerState;

class TMainWin : public TViewWindow {
    Q_OBJECT
  public:
    explicit TMainWin(TViewerState &state, QWidget *parent = nullptr);
    ~TMainWin() override;

    // Creates the forms, hidden and owned by the window, in their fixed order: TExactPosition,
    // TPrecision, TFractals, TColorAdjustment, TAbout, TTools. Until then the menu items that
    // show them are disabled.
    void CreateForms();

    // A copy of the image buffer's picture at the display's size (null without a buffer).
    QImage CopyPicture() const;

  public slots:
    // Follows a fill that has started: enables DisplayTimer and shows the picture at once, since
    // the preview is complete already.
    void StartDisplay();

    void ScreenPanelResize();
    void Displaying();
    void DisplayMouseDown(int x, int y);
    void DisplayMouseMove(int x, int y);
    void DisplayMouseUp(int x, int y);
    void DisplayDblClick();

    void Savepicture1Click();
    void Exit1Click();
    void Hidehotspot1Click();
    void Back1Click();
    void Defaultview1Click();
    void Home1Click();
    void Stop1Click();
    void Zoomin1Click();
    void Zoomout1Click();
    void Exactposition1Click();
    void Fractal1Click();
    void Colorajustment1Click();
    void PrecisionvsSpeed1Click();
    void About1Click();
    void FormShow();

  protected:
    void showEvent(QShowEvent *event) override;

  private:
    void EnableDialogCommands();

    TViewerState &state;
    Ui::TMainWin ui;
    QTimer *const DisplayTimer;
    QFileDialog *const SaveAsBmp;
    TExactPosition *ExactPosition = nullptr;
    TPrecision *Precision = nullptr;
    TFractals *Fractals = nullptr;
    TColorAdjustment *ColorAdjustment = nullptr;
    TAbout *About = nullptr;
    TTools *Tools = nullptr;
};

#endif  // SPIRALIS_MAIN_H
