// The main window: the display with its timer and mouse handling, the menu's commands, the save
// and load dialogs, the pictures dropped on it, and the forms that start-up creates with it.
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
class THelpIndex;
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

    // Opens the scene that a PNG keeps (Load picture, a picture dropped on the window, a click
    // in the gallery); a file without one is refused with a message, and nothing changes.
    void LoadPicture(const QString &fileName);

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
    void Loadpicture1Click();
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
    // Shows the help window with the gallery; it is made when it is first asked for.
    void Help2Click();
    void FormShow();

  protected:
    void showEvent(QShowEvent *event) override;
    // One local file dragged onto the window is taken; dropped, it is opened as Load picture
    // opens it.
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

  private:
    void EnableDialogCommands();

    TViewerState &state;
    Ui::TMainWin ui;
    QTimer *const DisplayTimer;
    QFileDialog *const SaveAsBmp;
    QFileDialog *const LoadPng;
    TExactPosition *ExactPosition = nullptr;
    TPrecision *Precision = nullptr;
    TFractals *Fractals = nullptr;
    TColorAdjustment *ColorAdjustment = nullptr;
    TAbout *About = nullptr;
    TTools *Tools = nullptr;
    THelpIndex *Help = nullptr;
};

#endif  // SPIRALIS_MAIN_H
