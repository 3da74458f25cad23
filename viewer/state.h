// The viewer's state: the filler and the display's image buffer, the settings record through which
// the viewer drives the filler, and the view history, with the operations through which the
// windows and dialogs apply their changes. One object, owned by the program's start-up and handed
// to whoever needs it.
#ifndef SPIRALIS_STATE_H
#define SPIRALIS_STATE_H

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>

#include "hotspot.h"
#include "picture_texts.h"
#include "quob32.h"
#include "quobimport.h"
#include "viewer_defaults.h"

// A change set: the FillerParams fields, by index, that an update takes.
using TChangeSet = std::array<uint8_t, QUOB_FP_FIELD_COUNT>;
inline constexpr TChangeSet FractalChanged = {0, 0, 0, 0, 0, 1};
inline constexpr TChangeSet ColoringChanged = {0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1};
inline constexpr TChangeSet ViewChanged = {0, 0, 0, 0, 0, 0, 0, 1, 1, 1};
inline constexpr TChangeSet PrecisionChanged = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1};
inline constexpr TChangeSet BlockLengthChanged = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
// Everything a scene sets, in one update: the filler takes the block length before it compiles
// the fractal formula, so the formula compiles with the scene's.
inline constexpr TChangeSet SceneChanged = {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

// A 10 x 10 block preview at once, then the smoothed picture in a worker thread.
inline constexpr int32_t RedrawMessage = QUOB_MSG_PREVIEW + QUOB_MSG_FILL_SMOOTH + QUOB_MSG_THREAD;
static_assert(RedrawMessage == 42);

// How the viewer's message boxes are shown (icon, caption, text): a modal QMessageBox, which
// tests replace to read the texts without a modal loop.
enum class TBoxIcon { Error, Information };
using TMessageBox = std::function<void(TBoxIcon icon, const QString &caption, const QString &text)>;
void ModalMessageBox(TBoxIcon icon, const QString &caption, const QString &text);

enum class TFormula { Fractal, Color };

// A typed formula, compiled on its own: whether it compiles, whether the filler can take it, and a
// sentence for the user (the library's message, what the filler misses, or what it would use).
struct TFormulaCheck {
    bool Compiles = false;
    bool Usable = false;
    QString Message;
};

// The fields of the precision dialog, as read from its edits.
struct TPrecisionValues {
    float MaxModule, Differential;
    int32_t IterationsLimit, BlockLength, RecursionInit;
};

class TViewerState : public QObject {
    Q_OBJECT
  public:
    // quob: the library's imports, which must outlive the object. The object starts as the
    // viewer's initialisation leaves it, but for the filler: CurrentParams hold the defaults on
    // the home view, the history holds the home view, and there is no buffer.
    explicit TViewerState(const TQuobImports &quob, TMessageBox messageBox = ModalMessageBox);
    ~TViewerState() override;  // ViewerDone
    TViewerState(const TViewerState &) = delete;
    TViewerState &operator=(const TViewerState &) = delete;

    // Creates the filler and takes its identity into CurrentParams. False when the filler cannot
    // be created, which it reports ("Runtime error 2613").
    bool ViewerInit();
    // Shutdown: stop the fill, delete the buffer and the filler, free the history.
    void ViewerDone();

    const QUOB_FillerParams &CurrentParams() const { return params; }
    // Null after ViewerDone.
    const THotSpotStack *History() const { return history.get(); }
    THotSpotStack *History() { return history.get(); }
    int32_t FillerHandle() const { return fillerHandle; }
    int32_t BufferHandle() const { return bufferHandle; }

    // The one way a change is applied: stop the fill, update the filler with each change set in
    // turn, start the redraw (RedrawMessage) and signal FillStarted.
    void Redraw(std::initializer_list<TChangeSet> changes);
    // A new view, applied and recorded in the history.
    void Navigate(long double re, long double im, long double scale);
    void Navigate(const quob::common::ExactView &view);
    // A new view, applied only: the history stays as it is.
    void JumpTo(long double re, long double im, long double scale);
    void JumpTo(const quob::common::ExactView &view);
    // The view with its scale times factor, recorded: Zoom in (0.5) and Zoom out (2) at any depth.
    void Zoom(long double factor);
    // The view in force as decimal texts with every digit it has: the texts it was given where
    // they hold digits beyond its extended reals or it is drawn deep, else texts of its values.
    quob::common::ExactView View() const;
    // The height that the view is drawn at: the buffer's, else the filler's default.
    int32_t DrawnHeight() const;
    // True when the view in force keeps texts: digits beyond its extended reals, or a deep view.
    bool ViewHasTexts() const { return !exact.re.empty(); }
    // True while the view is drawn by the deep fill (the filler's doubles and extended reals do
    // not resolve its pixels).
    bool DrawnDeep() const { return deepDrawn; }
    // True while the deep fill computes its reference orbit and preview: the picture of the
    // previous view stays until then.
    bool ReferencePending() const;
    // What the display says over a deep view's picture: its scale as a power of ten, "deep",
    // the reference orbits and their bits, or why the picture is blocks; empty for a shallow
    // view.
    QString DepthNote() const;
    // Whether deep views skip iterations by the linear approximation of the fractal formula
    // (Options, Linear approximation; on at start): turning it on or off draws a deep view again.
    bool Approximation() const { return approximation; }
    void SetApproximation(bool on);
    // The circle of the hot spot becomes the view (its diameter the picture's height), recorded.
    void ZoomToSpot(const TViewSpot &spot);
    // Step through the history and apply the view found; false when there is none.
    bool Back();
    bool Forward();
    // Ends the fill; the picture stays as far as it got.
    void Stop();
    // Compiles text as a formula of that kind in a function of its own, under a name that the
    // filler never gives ("Edit"), looks at its parameters and results as the filler would, and
    // deletes it at once: nothing reaches the filler. A fractal formula compiles with the block
    // length in force, or with the one given. A usable colour formula's message names the orbit
    // inputs it reads and what they cost (OrbitNotes); a usable fractal formula's says why the
    // colour formula's derivative inputs would read 0 with it, where they do.
    TFormulaCheck CheckFormula(TFormula formula, const QByteArray &text) const;
    TFormulaCheck CheckFormula(TFormula formula, const QByteArray &text, int32_t blockLength) const;
    // Applies text as the formula of that kind through Redraw once CheckFormula finds it usable.
    // Empty when the filler took it, else why not (the library's message, or what the filler
    // misses); the previous formula then stays in force and the picture as it is.
    QString ApplyFormula(TFormula formula, const QByteArray &text);
    // quob-render's options for the picture that the formula of that kind would give at the given
    // size: the current view (with every digit of its texts) and precision values, the other
    // formula as it is in force.
    QStringList PictureArguments(TFormula formula, const QByteArray &text, QSize size) const;
    // Stores the values and applies them through Redraw, the block length after the rest.
    void ApplyPrecision(const TPrecisionValues &values);

    // Applies a scene in one Redraw: both formulas, the view, the precision values and the escape
    // colour fields; the view is recorded in the history. Its formulas are checked as OK in the
    // formula dialogs checks them, and its scale must be one that the view's doubles hold. Empty
    // when it is applied, else why not; nothing has changed then.
    QString ApplyScene(const quob::common::PictureSettings &scene);
    // Reads the scene that a PNG keeps in its texts and applies it. Empty when it is applied,
    // else a message that names the file and what is wrong; nothing has changed then.
    QString LoadScene(const QString &fileName);
    // The last scene applied, as its texts gave it: the view with every digit, and the mode,
    // supersampling and deep switch that the viewer does not draw with (its display shows the
    // smoothed fill) but keeps for Save picture and quob-render. Before any, the smoothed fill of
    // one sample a pixel and no texts.
    const quob::common::PictureSettings &Scene() const { return scene; }

    // Replaces the display's buffer by one of the given size and starts its picture. False, after
    // "Runtime error 1113", when no buffer can be made.
    bool CreateBuffer(QSize size);
    // True once the buffer's fill has ended (also without a buffer).
    bool Filled() const;
    // A copy of the buffer's picture at the given size, top-down and opaque, black where the
    // buffer has none; null without a buffer or pixels.
    QImage CopyPicture(QSize size) const;
    // Writes the picture at the given size through a temporary file renamed over an old one: as
    // PNG when the name ends in ".png", with the text chunks of its scene, from which quob-render
    // --from draws it again at that size (the smoothed fill, or the mode and supersampling of the
    // last scene applied, and that scene's view texts while its view is in force), else as a
    // 24-bit Windows bitmap. Empty on success, else why the file could not be written (the old
    // file then stays as it was), also while a deep view's reference orbit is being computed and
    // the display still shows the previous view.
    QString SavePicture(const QString &fileName, QSize size) const;

    // An error message box with the platform's default caption, as the viewer's own failures use.
    void ErrorMessageBox(const QString &text) const;
    // The general error display: the message followed by a period, captioned with the title.
    void ShowGeneralError(const QString &message) const;
    // The same for information that is no failure.
    void ShowGeneralInformation(const QString &message) const;

  signals:
    // A fill has started: the display follows it until the buffer is filled.
    void FillStarted();

  private:
    // For a usable colour formula that names orbit inputs: "; uses ...: <cost>", then lines that
    // say why its derivative inputs read 0 with the fractal formula in force and, where the block
    // length exceeds the iterations that an escaping iterate runs before it overflows (at the
    // MaxModule in force), that escaping samples may overflow first. Empty for none.
    QString OrbitNotes(const QByteArray &color, int32_t blockLength) const;
    void SetView(long double re, long double im, long double scale);
    void SetView(const quob::common::ExactView &view);
    // Applies a view of the history, by its texts where it has them; false for none.
    bool JumpToEntry(const THotSpotStack::TEntry *view);
    // Starts the deep fill of the view in force where it needs one and the deep buffer takes it;
    // false otherwise (a shallow view, or a formula without a perturbed form: then deepNote
    // says why).
    bool StartDeepFill();
    // The picture at the given size as the filler draws it, with the formula texts in force or
    // the one given, and the block length that the filler uses.
    QUOB_FillerParams Drawn(QSize size, const QByteArray &fractal, const QByteArray &color) const;

    const TQuobImports &quob;
    const TMessageBox messageBox;
    int32_t fillerHandle = 0;
    int32_t bufferHandle = 0;
    QSize bufferSize;  // so that a copy never reads beyond the buffer's pixels
    QUOB_FillerParams params;
    std::unique_ptr<THotSpotStack> history;
    // The texts of the formulas in force, which CurrentParams does not keep.
    QByteArray fractalText = kDefaultFractal;
    QByteArray colorText = kDefaultColor;
    quob::common::PictureSettings scene;
    // The view's texts where it keeps digits beyond its values (View); empty otherwise.
    quob::common::ExactView exact;
    // The deep buffer, of the display buffer's size, made for the first deep view.
    int32_t deepHandle = 0;
    QSize deepSize;
    bool deepDrawn = false;
    bool approximation = true;
    bool deepApproximated = false;  // the deep view in force skips iterations
    QString deepRefusal;            // why the deep view in force is drawn in blocks
    // The picture last copied, shown while the deep fill computes its reference.
    mutable QImage lastPicture;
};

#endif  // SPIRALIS_STATE_H
