// The viewer's unit "main": global state and settings, the redraw procedure,
// the hot spot marker, the view history, the main window and the start-up and shutdown steps.
#ifndef SPIRALIS_MAIN_H
#define SPIRALIS_MAIN_H

#include <QApplication>
#include <QImage>
#include <QString>
#include <cstdint>
#include <memory>

#include "controls.h"
#include "quob32.h"
#include "quobimport.h"
#include "ui_main.h"

class QFileDialog;
class QPainter;
class QTimer;

// ---- Settings
// ---------------------------------------------------------------------------------------

extern const QUOB_FillerParams DefaultParams;

// The home view, as extended reals: start-up and the Home command use it.
inline constexpr long double HomeRe = -0.5L;
inline constexpr long double HomeIm = 0.0L;
inline constexpr long double HomeScale = 2.0L;

// The five change sets: the FillerParams field indices that each one takes.
inline constexpr QUOB_ChangeSet FractalChanged = {0, 0, 0, 0, 0, 1};
inline constexpr QUOB_ChangeSet ColoringChanged = {0, 0, 0, 0, 0, 0, 1, 0, 0,
                                                   0, 0, 0, 0, 0, 0, 1, 1};
inline constexpr QUOB_ChangeSet ViewChanged = {0, 0, 0, 0, 0, 0, 0, 1, 1, 1};
inline constexpr QUOB_ChangeSet PrecisionChanged = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1};
inline constexpr QUOB_ChangeSet BlockLengthChanged = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

// A 10 x 10 block preview at once, then the smoothed picture in a worker thread.
inline constexpr int32_t RedrawMessage = QUOB_MSG_PREVIEW + QUOB_MSG_FILL_SMOOTH + QUOB_MSG_THREAD;
static_assert(RedrawMessage == 42);

// ---- Message boxes -----------------------------------------------------------------------------

inline constexpr const char *ApplicationTitle = "Spiralis 3.0";

// Every message box of the viewer goes through this hook (icon, caption, text). It shows a modal
// QMessageBox; tests replace it to read the texts without a modal loop.
enum class TBoxIcon { Error, Information };
extern void (*MessageBoxHook)(TBoxIcon icon, const QString &caption, const QString &text);

// An error message box with the platform's default caption, as the viewer's own failures use.
void ErrorMessageBox(const QString &text);

// The general error display: the message followed by a period, captioned with the title.
void ShowGeneralError(const QString &message);

// The application object: an error that escapes an event handler ends that handler and goes to
// the general error display.
class TApplication : public QApplication {
  public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// ---- Hot spot marker and view history ---------------------------------------------------------

class TViewSpot {
  public:
    enum : uint8_t { Moving = 0, Resizing = 1, ReleasedOutside = 2, Armed = 3 };

    TViewSpot(int32_t x, int32_t y, QWidget *display);
    virtual ~TViewSpot();
    TViewSpot(const TViewSpot &) = delete;
    TViewSpot &operator=(const TViewSpot &) = delete;

    // Toggles Shown and has the display repainted: the paint shows the marker exactly when
    // Shown is 1, so drawing twice leaves the display as it was. (Every paint draws the marker
    // anew over the fresh picture, so no separate step marks the marker as shown.)
    void DrawMarker();
    // Draws the marker's shapes in exclusive-or mode: the display's paint handler calls this.
    void PaintMarker(QPainter &painter) const;

    void MoveCenter(int32_t x, int32_t y);
    void ResizeTo(int32_t x, int32_t y);
    bool IsNearCenter(int32_t x, int32_t y) const;
    bool IsOnRim(int32_t x, int32_t y) const;
    bool IsInside(int32_t x, int32_t y) const;
    void UpdateCursor(int32_t x, int32_t y) const;
    void ZoomToSpot();

    int32_t X, Y;
    int32_t Radius;
    uint8_t Shown = 0;
    QWidget *const display;
    uint8_t DragMode = Moving;

  private:
    int32_t Distance(int32_t x, int32_t y) const;
};

class THotSpotStack {
  public:
    static constexpr int32_t Capacity = 4096;
    static constexpr int32_t MaxViews = 4094;

    struct TEntry {
        long double Re, Im, Scale;
        int32_t Valid;
    };

    void Push(long double re, long double im, long double scale);
    bool Back();
    bool Forward();

    TEntry Entries[Capacity] = {};
    int32_t Count = 0;  // the entry after the current view

  private:
    void Restore(int32_t index);
};

// ---- Global state
// -----------------------------------------------------------------------------------

class TMainWin;

extern int32_t FillerHandle;
extern int32_t BufferHandle;
extern QUOB_FillerParams CurrentParams;
extern std::unique_ptr<THotSpotStack> History;
extern std::unique_ptr<TViewSpot> HotSpot;
extern TMainWin *MainWin;  // the application's main window, while it exists

// The one way the viewer applies a change: stop the fill, update the filler, start the redraw
// and let the display follow. RedrawBuffer is the same without the last step.
void Redraw(const QUOB_ChangeSet &changes);
void RedrawBuffer(const QUOB_ChangeSet &changes);

// ---- Main window
// -----------------------------------------------------------------------------------

class TMainWin : public TViewWindow, public Ui::TMainWin {
    Q_OBJECT
  public:
    explicit TMainWin(QWidget *parent = nullptr);
    ~TMainWin() override;

    // Enables the menu items whose dialogs exist (see TDialogForms).
    void EnableDialogCommands();

    // A copy of the image buffer's picture at the display's size (black where there is none).
    QImage CopyPicture() const;

    // Starts the display following a fill: enables DisplayTimer and shows the preview at once.
    void StartDisplay();

    QTimer *const DisplayTimer;
    QFileDialog *const SaveAsBmp;

  public slots:
    void ScreenPanelResize();
    void DisplayPaint();
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
    void Navigate(long double re, long double im, long double scale);
    // The size of the buffer in BufferHandle, so that a copy never reads beyond its pixels.
    int32_t bufferWidth = 0, bufferHeight = 0;
};

// The forms that start-up creates after the main window, built by the dialogs'
// work item (subsystem 5) and hooked up in exactly one place, CreateForms in main.cpp. While a
// form is null, the menu item that shows it stays disabled.
struct TDialogForms {
    QWidget *ExactPosition = nullptr;
    QWidget *Precision = nullptr;
    QWidget *Fractals = nullptr;
    QWidget *ColorAdjustment = nullptr;
    QWidget *About = nullptr;
    QWidget *Tools = nullptr;
};
extern TDialogForms Forms;

// ---- Start-up and shutdown
// --------------------------------------------------------------------------

// The viewer's own initialisation: the filler, CurrentParams, no hot spot, the history with the
// home view. False when the filler cannot be created (the caller reports it and ends).
bool ViewerInit();
// Shutdown: stop the fill, delete the buffer and the filler, free the history.
void ViewerDone();
// Creates the forms hidden, in their fixed order; MainWin becomes the main window.
void CreateForms();
// Destroys the forms (the framework's part of the program's end).
void DestroyForms();

// Writes a 24-bit Windows bitmap file of the picture: 54 header bytes, then bottom-up rows of
// 3 bytes a pixel padded to 4, through a temporary file renamed over an old one (WriteFileWhole).
// Throws std::runtime_error naming the file and the reason when it cannot be written; an old
// file then stays as it was.
void SaveBitmapFile(const QString &fileName, const QImage &picture);

#endif  // SPIRALIS_MAIN_H
