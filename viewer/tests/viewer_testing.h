// The harness of the viewer and dialog tests: one process and one library. Every test starts a
// viewer of its own (its state creates the one filler afresh and deletes it at the end) in a fresh,
// empty working directory, with spies on the library calls through which the viewer applies its
// changes and with its message boxes recorded; Qt events for input.
#ifndef SPIRALIS_VIEWER_TESTING_H
#define SPIRALIS_VIEWER_TESTING_H

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "display.h"
#include "list_records.h"
#include "main.h"
#include "picture_texts.h"
#include "state.h"

namespace quob::common {
// A position's digits in the tests' messages.
inline void PrintTo(const PositionDigits &digits, std::ostream *out) {
    *out << "{\"" << digits.re << "\", \"" << digits.im << "\", \"" << digits.scale << "\"}";
}
}  // namespace quob::common

// FillerParams is packed: its doubles may lie misaligned, so the tests compare copies of its
// fields (+CurrentParams().Scale) rather than bind references to them (UBSan reports that).

// True when the library's filler can be created: the rendering engine is there.
bool RenderingAvailable();
#define SKIP_WITHOUT_RENDERING()                              \
    if (!RenderingAvailable())                                \
    GTEST_SKIP() << "libquob32 reports the rendering engine " \
                    "unavailable"

using TChanges = TChangeSet;

// One call of QUOB_UpdateFiller (Code -1, with the record as it stood then) or of
// QUOB_IBufferMessage.
struct TLibraryCall {
    int32_t Code;
    TChanges Changes;
    QUOB_FillerParams Params;
    std::optional<std::string> Fractal, Color;  // the formula texts, when the fields were set
};
struct TRecordedBox {
    TBoxIcon Icon;
    QString Caption, Text;
};

// The child of a form by its object name (the controls are the forms' private members).
template <class T>
T *Child(const QObject *form, const char *name) {
    T *child = form->findChild<T *>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
}

class ViewerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    TViewerState &Viewer() { return *viewer; }
    const QUOB_FillerParams &CurrentParams() const { return viewer->CurrentParams(); }
    const THotSpotStack *History() const { return viewer->History(); }
    // The view of CurrentParams: centre and scale.
    std::tuple<double, double, double> View() const {
        return {+CurrentParams().CenterRe, +CurrentParams().CenterIm, +CurrentParams().Scale};
    }
    // A change applied: the buffer stopped, one update of these fields, the redraw.
    void ExpectApplied(const TChanges &changes) const;
    // Exactly one message box since the last clear, with this caption and text.
    void ExpectOneBox(const QString &caption, const QString &text) const;
    std::vector<TLibraryCall> Updates() const;  // the QUOB_UpdateFiller calls among LibraryCalls
    // Shows a message box by recording it.
    TMessageBox Recorder();
    static QByteArray ReadFile(const char *name);  // "(missing)" when it cannot be read
    static void WriteFile(const char *name, const QByteArray &bytes);

    // The imports that the viewer calls, spied on; a test may replace one.
    TQuobImports Quob;
    // Since start-up, in order.
    std::vector<TLibraryCall> LibraryCalls;
    std::vector<TRecordedBox> RecordedBoxes;
    QUOB_FillerParams StartParams = {};  // CurrentParams as start-up left them

  private:
    std::unique_ptr<TViewerState> viewer;
    QTemporaryDir dir;
    QString previousDir;
};

// A folder in which writing files fails in one of these ways once Arm() has been called. It is the
// working directory while the object lives; Disarm() (or the end of the object) ends the failure,
// and files written there before Arm() stay readable throughout.
enum class TWriteFailure {
    ReadOnlyFolder,    // for root, this thread's file-system user becomes "nobody" (setfsuid)
    FullFileSystem,    // a small tmpfs, mounted in a mount namespace of the test's thread
    FileSizeLimit,     // RLIMIT_FSIZE of one byte
    NoDescriptorLeft,  // RLIMIT_NOFILE of 0: no file can be opened or created
};
class TFailingFolder {
  public:
    explicit TFailingFolder(TWriteFailure how);
    ~TFailingFolder();
    TFailingFolder(const TFailingFolder &) = delete;
    TFailingFolder &operator=(const TFailingFolder &) = delete;

    // Why writing cannot be made to fail that way on this machine; empty when it can.
    const std::string &Unavailable() const { return unavailable; }
    void Arm();
    void Disarm();

  private:
    const TWriteFailure how;
    QString path, previousDir;
    std::string unavailable;
    bool mounted = false, armed = false;
    rlimit limit = {};
    struct sigaction fileSizeAction = {};
};

// A dialog of the viewer's, created afresh for each test.
template <class T>
class DialogTest : public ViewerTest {
  protected:
    void SetUp() override {
        ViewerTest::SetUp();
        Start();
    }
    void TearDown() override {
        dialog.reset();
        ViewerTest::TearDown();
    }
    virtual void Start() = 0;  // creates the dialog, as the program does at start-up
    void Show() {
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }
    template <class C>
    C *Get(const char *name) const {
        return Child<C>(dialog.get(), name);
    }
    std::unique_ptr<T> dialog;
};

// Each way of failing with the system's reason for it.
struct TWriteFailureCase {
    const char *name;
    TWriteFailure how;
    const char *reason;
};
extern const TWriteFailureCase WriteFailures[4];
inline void PrintTo(const TWriteFailureCase &c, std::ostream *out) { *out << c.name; }

// Records of the dialogs' list files: a formula (2050 bytes, expression and comment from 0 and
// 1025, each ended by a NUL; the rest filler) and a position (287 bytes: three 80-bit reals and
// a comment).
QByteArray ExprRecord(const QByteArray &expression, const QByteArray &comment, char filler = 0);
QByteArray Extended(long double value);  // its 10 bytes in memory
QByteArray HotRecord(long double re, long double im, long double scale, const QByteArray &comment);

// A scene as Save picture and quob-render keep it in a PNG's texts: a fractal formula of its own
// (fractal), a colour formula, a view given with more digits than a double holds, and precision
// values, escape colour, mode and supersampling unlike the viewer's start-up settings.
inline constexpr const char *SceneFractal = "u v x y = u u * v v * - x + ret u v * 2 * y + ret";
inline constexpr const char *SceneColor = "x y = x ret y ret 0.5 ret";
inline constexpr const char *SceneCenter = "-0.75000000000000000000001,0.125";  // -0.75 as a double
std::vector<quob::common::TextChunk> SceneTexts(const char *fractal = SceneFractal);
// The texts with one of them replaced, or taken out when text is null.
std::vector<quob::common::TextChunk> SceneTexts(const char *keyword, const char *text);
// Writes a 2 x 2 PNG with these texts under the path (its folder made where missing).
QString WritePng(const QString &path, const std::vector<quob::common::TextChunk> &texts);

// Input through Qt's event delivery.
void Click(QWidget *widget);
void Type(QLineEdit *edit, const QString &text);  // replaces the text; ASCII only
// A row beyond the lines hits the empty area below them.
void ClickLine(QListWidget *list, int row);
void DoubleClickLine(QListWidget *list, int row);
QStringList Lines(const QListWidget *list);

// A shown, active main window whose display is 314 x 125, driven with Qt Test's window-level
// events, which pass through Qt's own double-click detection like events of the window system.
class MainWinTest : public ViewerTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    void ResizeDisplay(QSize size);
    // 'p'ress, 'r'elease, 'm'ove, 'c'lick or 'd'ouble click at a point of the display; 'D' sends
    // the double-click event alone, as the display would see it after a press.
    void Mouse(char kind, QPoint p);
    void Key(int key, Qt::KeyboardModifiers modifiers = {});
    // Waits until the buffer's worker has ended, so that its pixels stay put, and lets the
    // display take the finished picture (a tick of its timer).
    void WaitFilled();
    const TViewSpot *HotSpot() const { return Display->HotSpot(); }
    QTimer *DisplayTimer() const { return Child<QTimer>(win.get(), "DisplayTimer"); }

    bool withForms = false;  // the window creates its forms before it is shown
    std::unique_ptr<TMainWin> win;
    TDisplay *Display = nullptr;
};

#endif  // SPIRALIS_VIEWER_TESTING_H
