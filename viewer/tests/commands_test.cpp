// The menu, the commands through their shortcuts, saving the picture, opening a picture's scene
// (Load picture, a drop, the gallery), and start-up.
#include <mpfr.h>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "exact_view.h"
#include "help.h"
#include "picture_files.h"
#include "picture_texts.h"
#include "viewer_testing.h"

namespace {

using CommandsTest = MainWinTest;

struct MenuItem {
    const char *caption, *shortcut;  // an empty caption is a separator
    bool enabled;                    // the dialog items are disabled until their dialogs exist
};
// clang-format off
const std::pair<const char *, std::vector<MenuItem>> kMenu[] = {
    {"&File", {{"&Save picture", "Ctrl+S", 1}, {"&Load picture", "Ctrl+L", 1}, {"", "", 1},
               {"E&xit", "F10", 1}}},
    {"&View", {{"H&ide hot spot", "Ctrl+H", 1}, {"", "", 1}, {"&Back", "Shift+Del", 1},
               {"&Forward", "Shift+Ins", 1}, {"&Home", "Ctrl+Del", 1}, {"", "", 1},
               {"&Stop!", "Ctrl+Z", 1}, {"Zoom &in", "Ctrl+I", 1}, {"Zoom &out", "Ctrl+O", 1},
               {"", "", 1}, {"E&xact position", "F2", 0}}},
    {"&Options", {{"&Fractal", "F3", 0}, {"&Color adjustment", "F4", 0},
                  {"&Precision vs Speed", "F5", 0}, {"&Linear approximation", "", 1}}},
    {"&Help", {{"&About", "", 0}, {"&Help index", "F1", 0}}}};
// clang-format on

TEST_F(CommandsTest, Menu) {
    const QList<QAction *> menus = Child<QMenuBar>(win.get(), "Menu")->actions();
    ASSERT_EQ(menus.size(), std::size(kMenu));
    for (size_t m = 0; m < std::size(kMenu); ++m) {
        EXPECT_EQ(menus[m]->text(), kMenu[m].first);
        const QList<QAction *> items = menus[m]->menu()->actions();
        ASSERT_EQ(items.size(), kMenu[m].second.size()) << kMenu[m].first;
        for (size_t i = 0; i < kMenu[m].second.size(); ++i) {
            const MenuItem &expected = kMenu[m].second[i];
            SCOPED_TRACE(std::string(kMenu[m].first) + " " + std::to_string(i));
            EXPECT_EQ(items[i]->isSeparator(), *expected.caption == '\0');
            EXPECT_EQ(items[i]->text(), expected.caption);
            EXPECT_EQ(items[i]->shortcut(), QKeySequence(expected.shortcut));
            EXPECT_EQ(items[i]->isEnabled(), expected.enabled);
        }
    }
}

// I zoom in, O zoom out, B back, F forward and H home, each through its shortcut.
struct KeysCase {
    const char *name, *keys;
    double scale;
    int32_t historyCount;
    size_t updates;  // of the filler, one for each step that changed the view
};

class Navigation : public CommandsTest, public ::testing::WithParamInterface<KeysCase> {};

TEST_P(Navigation, MovesTheViewAndTheHistory) {
    const std::map<char, QKeySequence> shortcuts = {{'I', QKeySequence("Ctrl+I")},
                                                    {'O', QKeySequence("Ctrl+O")},
                                                    {'B', QKeySequence("Shift+Del")},
                                                    {'F', QKeySequence("Shift+Ins")},
                                                    {'H', QKeySequence("Ctrl+Del")}};
    DisplayTimer()->stop();
    for (const char *key = GetParam().keys; *key; ++key) {
        QTest::keySequence(win.get(), shortcuts.at(*key));
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(+CurrentParams().CenterRe, -0.5);  // no command here moves the centre
    EXPECT_EQ(+CurrentParams().CenterIm, 0.0);
    EXPECT_EQ(+CurrentParams().Scale, GetParam().scale);
    EXPECT_EQ(History()->Count, GetParam().historyCount);
    const std::vector<TLibraryCall> updates = Updates();
    ASSERT_EQ(updates.size(), GetParam().updates);
    EXPECT_EQ(DisplayTimer()->isActive(), !updates.empty());
    if (!updates.empty()) {
        EXPECT_EQ(updates.back().Changes, TChanges({0, 0, 0, 0, 0, 0, 0, 1, 1, 1}));
        EXPECT_EQ(+updates.back().Params.Scale, GetParam().scale);
        EXPECT_EQ(LibraryCalls.back().Code, RedrawMessage);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, Navigation,
    ::testing::Values(KeysCase{"ZoomIn", "I", 1, 2, 1}, KeysCase{"ZoomInTwice", "II", 0.5, 3, 2},
                      KeysCase{"BackTwice", "IIBB", 2, 1, 4},
                      KeysCase{"NothingFurtherBack", "IIBBB", 2, 1, 4},
                      KeysCase{"BackAtHome", "B", 2, 1, 0}, KeysCase{"Forward", "IIBBBF", 1, 2, 5},
                      KeysCase{"ZoomOut", "O", 4, 2, 1}, KeysCase{"HomeIsANewStep", "IH", 2, 3, 2},
                      KeysCase{"HomeOnTheHomeView", "IHH", 2, 4, 3},
                      KeysCase{"BackFromHome", "IHHB", 2, 3, 4}),
    [](const auto &info) { return info.param.name; });

TEST_F(CommandsTest, HideHotSpotRemovesIt) {
    Mouse('c', {100, 60});
    ASSERT_TRUE(HotSpot());
    for (int twice = 0; twice < 2; ++twice) {  // the second time there is nothing to hide
        Key(Qt::Key_H, Qt::ControlModifier);
        EXPECT_FALSE(HotSpot());
    }
}

TEST_F(CommandsTest, StopEndsTheFillAndTheTimerAfterOneMoreTick) {
    SKIP_WITHOUT_RENDERING();
    Key(Qt::Key_I, Qt::ControlModifier);
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(LibraryCalls.back().Code, QUOB_MSG_STOP);
    EXPECT_TRUE(Quob.IBufferFilled(Viewer().BufferHandle()));
    ASSERT_TRUE(DisplayTimer()->isActive());
    win->Displaying();
    EXPECT_FALSE(DisplayTimer()->isActive());
}

// ---- Save picture ------------------------------------------------------------------------------

class SavePictureTest : public MainWinTest {
  protected:
    struct Seen {
        QStringList dialog;  // its title, file types and proposed name
        QString prompt;      // the question before a file is replaced, if one was asked
    };
    // Runs "Save picture" and answers the dialog with the file name in the working directory, or
    // cancels it when name is empty; a question whether to replace the file gets the answer
    // given, and after No the dialog is cancelled; png chooses the second file type first, as
    // the user does in its list. Returns what the dialogs showed.
    Seen Save(const QString &name, QMessageBox::StandardButton replace = QMessageBox::Yes,
              bool png = false) {
        Seen seen;
        QTimer::singleShot(0, win.get(), [&] {
            auto *dialog = Child<QFileDialog>(win.get(), "SaveAsBmp");
            QTRY_VERIFY(dialog->isVisible());
            seen.dialog = {dialog->windowTitle(), dialog->nameFilters().join(";"),
                           dialog->findChild<QLineEdit *>("fileNameEdit")->text()};
            if (name.isEmpty()) return dialog->reject();
            if (png) QTest::keyClick(dialog->findChild<QComboBox *>("fileTypeCombo"), Qt::Key_Down);
            dialog->selectFile(QDir::current().filePath(name));
            QTimer::singleShot(0, dialog, [&] {  // runs in the question's own event loop
                if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                    seen.prompt = box->text();
                    box->button(replace)->click();
                }
            });
            QMetaObject::invokeMethod(dialog, "accept");  // as the Save button does
            if (dialog->isVisible()) dialog->reject();
        });
        // Called directly: nothing may escape the command.
        EXPECT_NO_THROW(win->Savepicture1Click());
        EXPECT_FALSE(Child<QFileDialog>(win.get(), "SaveAsBmp")->isVisible());
        // The offscreen platform has no window manager to hand the activation back.
        QApplication::setActiveWindow(win.get());
        return seen;
    }
};

TEST_F(SavePictureTest, CancelWritesNothing) {
    EXPECT_EQ(Save({}).dialog,
              QStringList({"Save current image in bmp format (True color)",
                           "Windows bitmap (24 bits) (*.bmp);PNG picture (*.png)", "default"}));
    EXPECT_TRUE(QDir::current().isEmpty());
}

TEST_F(SavePictureTest, WritesA24BitFileOfTheDisplaysSize) {
    Save("picture");  // the extension is added
    const QByteArray file = ReadFile("picture.bmp");
    // The picture writer's layout (its own tests) at the display's size: 314 x 125.
    ASSERT_EQ(file.size(), 54 + 125 * 944);
    EXPECT_EQ(file.mid(18, 8), QByteArray("\x3a\x01\0\0\x7d\0\0\0", 8));
    Key(Qt::Key_I, Qt::ControlModifier);  // the shortcuts work on
    EXPECT_EQ(+CurrentParams().Scale, 1.0);
}

TEST_F(SavePictureTest, PixelsAreTheBuffersWithoutTheHotSpot) {
    SKIP_WITHOUT_RENDERING();
    WaitFilled();
    Mouse('c', {100, 60});
    ASSERT_TRUE(HotSpot());
    Save("spot.bmp");
    const QByteArray file = ReadFile("spot.bmp");
    ASSERT_EQ(file.size(), 54 + 125 * 944);
    const auto *bits = static_cast<const uint32_t *>(Quob.IBufferDC(Viewer().BufferHandle()));
    ASSERT_NE(bits, nullptr);
    int nonBlack = 0;
    for (int row = 0; row < 125; ++row) {  // both bottom-up
        for (int x = 0; x < 314; ++x) {
            const uint32_t pixel = bits[row * 314 + x];
            const auto *bgr =
                reinterpret_cast<const uint8_t *>(file.data()) + 54 + row * 944 + 3 * x;
            ASSERT_EQ(bgr[0] | bgr[1] << 8 | bgr[2] << 16, pixel & 0xFFFFFF) << x << "," << row;
            nonBlack += pixel != 0;
        }
    }
    EXPECT_GT(nonBlack, 0);
}

// The PNG holds the displayed pixels and the parameters from which quob-render --from draws them.
TEST_F(SavePictureTest, PngKeepsThePixelsAndWhatDrewThem) {
    SKIP_WITHOUT_RENDERING();
    const QByteArray color = "x y = x ret y ret 0.5 ret";
    ASSERT_EQ(Viewer().ApplyFormula(TFormula::Color, color), "");
    Viewer().ApplyPrecision({3.5f, 1e-4f, -7, 16, 1});  // a limit below 1 draws as 1
    Key(Qt::Key_I, Qt::ControlModifier);
    WaitFilled();
    Save("picture", QMessageBox::Yes, true);  // the extension of the type is added
    const QString path = QDir::current().filePath("picture.png");
    EXPECT_EQ(QImage(path).convertToFormat(QImage::Format_RGB32), win->CopyPicture());

    using namespace quob::common;
    std::vector<TextChunk> texts;
    std::string error;
    ASSERT_TRUE(ReadPngTexts(path.toStdString(), texts, error)) << error;
    EXPECT_EQ(texts.front(), TextChunk("Software", "Spiralis 3.0"));
    PictureSettings o;  // read back as quob-render --from reads them
    ASSERT_GT(TakePictureTexts(texts, o, error), 0) << error;
    const QUOB_FillerParams &p = CurrentParams();
    EXPECT_EQ(std::tuple(o.width, o.height, o.mode, o.supersample, o.fractal, o.color),
              std::tuple(314, 125, RenderMode::kSmoothed, 1, std::string(kDefaultFractal),
                         color.toStdString()));
    EXPECT_EQ(std::tuple(o.centerRe, o.centerIm, o.scale), View());
    EXPECT_EQ(std::tuple(o.maxModule, o.differential, o.iterations, o.blockLength, o.recursionInit,
                         o.escapeColor, o.escapeTakesColor),
              std::tuple(+p.MaxModule, +p.Differential, 1, +p.BlockLength, +p.RecursionInit,
                         +p.EscapeColor, +p.EscapeTakesColor));
}

TEST_F(SavePictureTest, ReplacesAFileThatExistsOnlyWhenTheUserAgrees) {
    WriteFile("old.bmp", "old picture");
    EXPECT_EQ(Save("old.bmp", QMessageBox::No).prompt,
              "old.bmp already exists.\nDo you want to replace it?");
    EXPECT_EQ(ReadFile("old.bmp"), "old picture");
    Save("old.bmp", QMessageBox::Yes);
    EXPECT_EQ(ReadFile("old.bmp").size(), 54 + 125 * 944);
    EXPECT_TRUE(Save("new.bmp").prompt.isEmpty());
    EXPECT_TRUE(RecordedBoxes.empty());
}

class SavePictureFailure : public SavePictureTest,
                           public ::testing::WithParamInterface<TWriteFailureCase> {};

TEST_P(SavePictureFailure, KeepsTheOldPictureAndGoesToTheGeneralErrorDisplay) {
    TFailingFolder folder(GetParam().how);
    if (!folder.Unavailable().empty()) GTEST_SKIP() << folder.Unavailable();
    WriteFile("old.bmp", "old picture");
    const QString name = QDir::current().filePath("old.bmp");
    folder.Arm();
    Save("old.bmp");
    folder.Disarm();
    EXPECT_EQ(ReadFile("old.bmp"), "old picture");
    EXPECT_EQ(QDir().entryList(QDir::Files | QDir::Hidden), QStringList({"old.bmp"}));
    ExpectOneBox("Spiralis 3.0",
                 QString("Cannot create file \"%1\". %2.").arg(name, GetParam().reason));
    Key(Qt::Key_I, Qt::ControlModifier);  // the application goes on
    EXPECT_EQ(+CurrentParams().Scale, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Failures, SavePictureFailure, ::testing::ValuesIn(WriteFailures),
                         [](const auto &info) { return info.param.name; });

// ---- Scenes: Load picture, a drop, the gallery -------------------------------------------------

class SceneTest : public MainWinTest {
  protected:
    // The update that applied the scene of SceneTexts, alone in one redraw.
    void ExpectSceneApplied() {
        ExpectApplied(SceneChanged);
        if (HasFailure()) return;
        const TLibraryCall &update = LibraryCalls[1];
        const QUOB_FillerParams &p = update.Params;
        EXPECT_EQ(std::tuple(update.Fractal, update.Color),
                  std::tuple(std::optional<std::string>(SceneFractal),
                             std::optional<std::string>(SceneColor)));
        EXPECT_EQ(std::tuple(+p.CenterRe, +p.CenterIm, +p.Scale), std::tuple(-0.75, 0.125, 0.5));
        EXPECT_EQ(std::tuple(+p.MaxModule, +p.Differential, +p.IterationsLimit, +p.BlockLength,
                             +p.RecursionInit, +p.EscapeColor, +p.EscapeTakesColor),
                  std::tuple(4.0f, 1e-4f, 40, 1, 1, 0x102030, 1));
        EXPECT_EQ(+CurrentParams().FractalFormula, nullptr);  // for the update only
        EXPECT_TRUE(DisplayTimer()->isActive());
        EXPECT_TRUE(RecordedBoxes.empty());
    }
    // The texts that Save picture writes into a PNG now.
    std::map<std::string, std::string> SavedTexts() {
        const QString file = QDir::current().filePath("saved.png");
        EXPECT_EQ(Viewer().SavePicture(file, Display->size()), "");
        std::vector<quob::common::TextChunk> texts;
        std::string error;
        EXPECT_TRUE(quob::common::ReadPngTexts(file.toStdString(), texts, error)) << error;
        return {texts.begin(), texts.end()};
    }
    void Drop(const QList<QUrl> &urls) {
        QMimeData data;
        data.setUrls(urls);
        const QPoint at(20, 20);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Display, &enter);
        if (!enter.isAccepted()) return;
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Display, &drop);
    }
};

TEST_F(SceneTest, LoadPictureAppliesTheSceneInOneRedrawAndRecordsItsView) {
    SKIP_WITHOUT_RENDERING();
    win->LoadPicture(WritePng("scene.png", SceneTexts()));
    ExpectSceneApplied();
    ASSERT_EQ(History()->Count, 2);
    EXPECT_EQ(History()->Entries[1].Re, -0.75000000000000000000001L);  // every digit it holds
    EXPECT_EQ(std::tuple(+History()->Entries[1].Im, +History()->Entries[1].Scale),
              std::tuple(0.125L, 0.5L));
    // Save picture keeps what the viewer does not draw with: the view as written while it is in
    // force, the mode and the supersampling.
    std::map<std::string, std::string> saved = SavedTexts();
    EXPECT_EQ(std::tuple(saved["Center"], saved["Scale"], saved["Mode"], saved["Supersample"],
                         saved["Fractal formula"]),
              std::tuple(std::string(SceneCenter), std::string("0.5"), std::string("plain"),
                         std::string("3"), std::string(SceneFractal)));

    // Back returns to the view before; the formulas stay.
    LibraryCalls.clear();
    Key(Qt::Key_Delete, Qt::ShiftModifier);
    ExpectApplied(ViewChanged);
    EXPECT_EQ(View(), std::tuple(-0.5, 0.0, 2.0));
    saved = SavedTexts();
    EXPECT_EQ(std::tuple(saved["Center"], saved["Scale"], saved["Color formula"], saved["Mode"]),
              std::tuple(std::string("-0.5,0"), std::string("2"), std::string(SceneColor),
                         std::string("plain")));
    Key(Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(View(), std::tuple(-0.75, 0.125, 0.5));
}

TEST_F(SceneTest, CtrlLAsksForThePictureAndADroppedPictureOpensToo) {
    SKIP_WITHOUT_RENDERING();
    const QString file = WritePng("scene.png", SceneTexts());
    QTimer::singleShot(0, win.get(), [&] {
        auto *dialog = Child<QFileDialog>(win.get(), "LoadPng");
        QTRY_VERIFY(dialog->isVisible());
        EXPECT_EQ(dialog->nameFilters(), QStringList({"PNG picture (*.png)", "All files (*)"}));
        dialog->findChild<QLineEdit *>("fileNameEdit")->setText(file);
        QMetaObject::invokeMethod(dialog, "accept");
        if (dialog->isVisible()) dialog->reject();
    });
    Key(Qt::Key_L, Qt::ControlModifier);
    ExpectSceneApplied();
    QApplication::setActiveWindow(win.get());

    Key(Qt::Key_Delete, Qt::ControlModifier);  // home
    LibraryCalls.clear();
    Drop({QUrl::fromLocalFile(file), QUrl::fromLocalFile(file)});  // two files: not taken
    Drop({QUrl("https://example.org/scene.png")});
    EXPECT_TRUE(LibraryCalls.empty());
    Drop({QUrl::fromLocalFile(file)});
    ExpectSceneApplied();
    EXPECT_EQ(History()->Count, 4);
}

// A file without a scene, or whose scene cannot be applied, is refused with a message that names
// it, and nothing changes: no library call, the view, the history and every setting as they were.
struct RefusedScene {
    const char *name;
    std::function<QString()> file;  // writes it
    const char *why;
};
void PrintTo(const RefusedScene &c, std::ostream *out) { *out << c.name; }

class SceneRefusal : public SceneTest, public ::testing::WithParamInterface<RefusedScene> {};

TEST_P(SceneRefusal, NamesTheFileAndWhatIsWrongAndChangesNothing) {
    const QString file = GetParam().file();
    win->LoadPicture(file);
    ExpectOneBox("Error", QString("The picture \"%1\" cannot be loaded: %2.")
                              .arg(file, QString::fromUtf8(GetParam().why)));
    EXPECT_TRUE(LibraryCalls.empty());
    EXPECT_EQ(History()->Count, 1);
    EXPECT_EQ(std::memcmp(&CurrentParams(), &StartParams, sizeof StartParams), 0);
    EXPECT_EQ(Viewer().Scene().scaleText, "");
}

const QString kLong = QString(SceneFractal) + QString(1100, ' ');

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, SceneRefusal, ::testing::Values(
    RefusedScene{"Missing", [] { return QDir::current().filePath("none.png"); },
                 "No such file or directory"},
    RefusedScene{"NotAPng", [] {
        QFile text("text.png");
        EXPECT_TRUE(text.open(QIODevice::WriteOnly) && text.write("a text") == 6);
        return QDir::current().filePath("text.png"); }, "not a PNG file"},
    RefusedScene{"WithoutTexts", [] { return WritePng("plain.png", {}); },
                 "it holds no scene (the texts that Save picture and quob-render keep in a PNG)"},
    RefusedScene{"LacksAPart", [] { return WritePng("part.png", SceneTexts("Iterations limit", nullptr)); },
                 "its scene lacks the text \"Iterations limit\""},
    RefusedScene{"ATextThatDoesNotRead", [] { return WritePng("bad.png", SceneTexts("Scale", "-2")); },
                 "invalid value '-2' for --scale: a finite number above 0"},
    RefusedScene{"FractalThatDoesNotCompile",
                 [] { return WritePng("f.png", SceneTexts("x y x = x ret y ret")); },
                 "its fractal formula is refused: QUOB: All variables should have different names (code 8)"},
    RefusedScene{"FractalWithoutThePoint", [] { return WritePng("p.png", SceneTexts("u v = u ret v ret")); },
                 "its fractal formula is refused: Compiles, but a fractal formula needs parameters named \"x\" and \"y\" for the point"},
    RefusedScene{"ColourOfTwoResults",
                 [] { return WritePng("c.png", SceneTexts("Color formula", "x y = x ret y ret")); },
                 "its colour formula is refused: Compiles, but a colour formula needs three results (red, green, blue); this one has 2"},
    RefusedScene{"FormulaLongerThanTheListsHold",
                 [] { return WritePng("l.png", SceneTexts(kLong.toUtf8().constData())); },
                 "its fractal formula has 1149 bytes, more than the 1024 that the viewer's formulas hold"}),
    [](const auto &info) { return info.param.name; });
// clang-format on

// F1: the help window's gallery lists the gallery folder's pictures, the starter ones named after
// the entries of fractals.dat; a click, a double click or Return opens one's scene once.
// ---- Deep views -----------------------------------------------------------------------------

// Bands of the iteration count (block length 1, 2000 passes): deep views with detail, where the
// viewer's default colouring leaves the escaping samples black.
constexpr const char *kBands =
    "x y iter = iter copy copy 0.5 * 0 + sin 127 * 128 + ret 0.5 * 2.094 + sin 127 * 128 + ret "
    "0.5 * 4.189 + sin 127 * 128 + ret";

class DeepViews : public SceneTest {
  protected:
    void Detailed() {
        ASSERT_EQ(Viewer().ApplyFormula(TFormula::Color, kBands), "");
        Viewer().ApplyPrecision({1000, 0, 2000, 1, 0});
    }
    // The saved PNG's pixels against those of quob-render --from it.
    void ExpectQuobRendersIt(const char *name) {
#ifdef QUOB_RENDER_PATH
        const QString saved = QDir::current().filePath(QString(name) + ".png");
        const QString drawn = QDir::current().filePath(QString(name) + "-render.png");
        ASSERT_EQ(Viewer().SavePicture(saved, Display->size()), "");
        const QByteArray command = QByteArray("'") + QUOB_RENDER_PATH + "' --from '" +
                                   saved.toUtf8() + "' -o '" + drawn.toUtf8() + "' 2>/dev/null";
        ASSERT_EQ(std::system(command.constData()), 0) << command.constData();
        const QImage mine(saved), theirs(drawn);
        ASSERT_FALSE(mine.isNull());
        std::set<QRgb> colours;
        for (int y = 0; y < mine.height(); y += 3)
            for (int x = 0; x < mine.width(); x += 3) colours.insert(mine.pixel(x, y));
        EXPECT_GT(colours.size(), 20u) << name << ": a picture without detail proves little";
        EXPECT_EQ(mine.convertToFormat(QImage::Format_RGB32),
                  theirs.convertToFormat(QImage::Format_RGB32))
            << name;
#else
        (void)name;
#endif
    }
    std::string Saved(const char *keyword) { return SavedTexts()[keyword]; }
};

// Typed at 1e-200 around 0 + 1i: the deep fill draws quob-render's picture; a hot spot's zoom
// there moves the centre by a few pixels of 1e-200 and the PNG keeps every digit.
TEST_F(DeepViews, DrawQuobRendersPictureAndZoomIntoTheHotSpot) {
    SKIP_WITHOUT_RENDERING();
    Detailed();
    Viewer().Navigate(quob::common::ExactView{"0", "1", "1e-200"});
    EXPECT_TRUE(Viewer().DrawnDeep());
    EXPECT_TRUE(Viewer().ReferencePending() || Viewer().Filled());
    WaitFilled();
    EXPECT_NE(Display->Note().indexOf("scale 1e-200 · deep · "), -1)
        << Display->Note().toStdString();
    EXPECT_EQ(std::tuple(Saved("Center"), Saved("Scale"), Saved("Approximation")),
              std::tuple(std::string("0,1"), std::string("1e-200"), std::string("yes")));
    // The formula dialogs' thumbnails are drawn at the same view.
    const QStringList thumbnail =
        Viewer().PictureArguments(TFormula::Fractal, kDefaultFractal, {96, 72});
    EXPECT_EQ(thumbnail.at(thumbnail.indexOf("--center") + 1), "0,1");
    EXPECT_EQ(thumbnail.at(thumbnail.indexOf("--scale") + 1), "1e-200");
    ExpectQuobRendersIt("typed");

    const QSize size = Display->size();
    const TViewSpot spot(size.width() / 2 + 7, size.height() / 2 - 3, Display);
    Viewer().ZoomToSpot(spot);
    const quob::common::ExactView moved = Viewer().View();
    EXPECT_TRUE(Viewer().DrawnDeep());
    EXPECT_NEAR(static_cast<double>(quob::common::ExtendedOf(moved.scale) / 1e-200L),
                2.0 * spot.Radius / size.height(), 1e-15);
    // 7 pixels right, 3 up: steps of 1e-200 / height.
    auto pixels = [&](const std::string &text, double from) {
        mpfr_t v;
        mpfr_init2(v, 1000);
        mpfr_set_str(v, text.c_str(), 10, MPFR_RNDN);
        mpfr_sub_d(v, v, from, MPFR_RNDN);
        mpfr_mul_d(v, v, size.height(), MPFR_RNDN);
        mpfr_mul_d(v, v, 1e200, MPFR_RNDN);
        const double offset = mpfr_get_d(v, MPFR_RNDN);
        mpfr_clear(v);
        return offset;
    };
    EXPECT_NEAR(pixels(moved.re, 0), 7.0, 1e-9) << moved.re;
    EXPECT_NEAR(pixels(moved.im, 1), 3.0, 1e-9) << moved.im;
    WaitFilled();
    EXPECT_EQ(Saved("Center"), moved.re + "," + moved.im);
    ExpectQuobRendersIt("spot");
    // The history holds every digit: Back and Forward return to them.
    Key(Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(Viewer().View(), (quob::common::ExactView{"0", "1", "1e-200"}));
    Key(Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(Viewer().View(), moved);
    // A resize draws the view again at the new size, deep.
    ResizeDisplay(size - QSize(40, 30));
    EXPECT_TRUE(Viewer().DrawnDeep());
    WaitFilled();
    ExpectQuobRendersIt("resized");
}

// Zooming in from 1e-15 reaches the deep fill after a few steps; Back returns to the doubles'
// views, which are again shallow, exactly as they were.
TEST_F(DeepViews, ZoomInUntilDeepAndBackAgain) {
    SKIP_WITHOUT_RENDERING();
    const double re = -0.7436438870371587, im = 0.1318259042053119;
    Viewer().Navigate(re, im, 1e-15L);
    const auto start = View();
    std::vector<bool> deep;
    for (int zoom = 0; zoom < 12; ++zoom) {
        Key(Qt::Key_I, Qt::ControlModifier);
        deep.push_back(Viewer().DrawnDeep());
    }
    // Shallow while extended precision resolves the pixels (a step above about 2.7e-20 at
    // 0.74), deep from there on.
    ASSERT_FALSE(deep.front());
    ASSERT_TRUE(deep.back());
    EXPECT_TRUE(std::is_sorted(deep.begin(), deep.end()));
    EXPECT_NEAR(static_cast<double>(quob::common::ExtendedOf(Viewer().View().scale) / 1e-15L),
                1.0 / 4096, 1e-15);
    EXPECT_EQ(Viewer().View().re, quob::common::ViewOf(re, 0, 1).re);
    for (int back = 0; back < 12; ++back) Key(Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_FALSE(Viewer().DrawnDeep());
    EXPECT_FALSE(Viewer().ViewHasTexts());
    EXPECT_EQ(View(), start);
    EXPECT_TRUE(Display->Note().isEmpty());
}

// Options, Linear approximation off: the deep view is drawn again iterating every sample, and its
// PNG says so, so that quob-render draws it the same way; shallow views do not record it.
TEST_F(DeepViews, WithoutTheApproximationEverySampleIterates) {
    SKIP_WITHOUT_RENDERING();
    Detailed();
    Viewer().Navigate(quob::common::ExactView{"0", "1", "1e-200"});
    WaitFilled();
    auto *item = Child<QAction>(win.get(), "Linearapproximation1");
    ASSERT_TRUE(item->isChecked());
    item->trigger();
    EXPECT_FALSE(Viewer().Approximation());
    EXPECT_TRUE(Viewer().DrawnDeep());
    WaitFilled();
    EXPECT_EQ(Saved("Approximation"), "no");
    ExpectQuobRendersIt("exact");
    const QStringList thumbnail =
        Viewer().PictureArguments(TFormula::Fractal, kDefaultFractal, {96, 72});
    EXPECT_TRUE(thumbnail.contains("--no-approximation"));
    item->trigger();
    Viewer().Navigate(quob::common::ExactView{"0", "1", "1e-3"});
    WaitFilled();
    EXPECT_FALSE(Viewer().DrawnDeep());
    EXPECT_EQ(Saved("Approximation"), "no");
}

// A formula without a perturbed form: the deep view is drawn in blocks, and the note says why.
TEST_F(DeepViews, WithoutAPerturbedFormTheNoteSaysWhy) {
    SKIP_WITHOUT_RENDERING();
    ASSERT_EQ(Viewer().ApplyFormula(TFormula::Fractal, "tx ty x y = tx int y + ret ty x + ret"),
              "");
    Viewer().JumpTo(quob::common::ExactView{"0", "1", "1e-40"});
    EXPECT_FALSE(Viewer().DrawnDeep());
    win->Displaying();
    EXPECT_NE(Display->Note().indexOf("\"int\""), -1) << Display->Note().toStdString();
    EXPECT_NE(Display->Note().indexOf("blocks"), -1);
    Viewer().Stop();
}

// While the reference orbit of 2 million iterations at 1e-4000 is computed the display keeps the
// previous picture, which Save picture does not pass off as the new view's.
TEST_F(DeepViews, NoSaveBeforeTheDeepPictureIsThere) {
    SKIP_WITHOUT_RENDERING();
    Viewer().ApplyPrecision({2, 0, 100000, 20, 0});
    Viewer().Stop();  // the home view at 2 million iterations would take long
    Viewer().JumpTo(quob::common::ExactView{"0", "1", "1e-4000"});
    ASSERT_TRUE(Viewer().ReferencePending());
    EXPECT_EQ(Viewer().SavePicture(QDir::current().filePath("early.png"), Display->size()),
              "The deep picture of this view is not drawn yet: its reference orbit is being "
              "computed");
    EXPECT_FALSE(QFile::exists("early.png"));
    win->Displaying();
    EXPECT_NE(Display->Note().indexOf("computing the reference orbit"), -1)
        << Display->Note().toStdString();
    Viewer().Stop();
    EXPECT_TRUE(Viewer().Filled());
}

// A scene beyond the doubles opens with its texts.
TEST_F(DeepViews, SceneBeyondTheDoublesOpensDeep) {
    SKIP_WITHOUT_RENDERING();
    win->LoadPicture(WritePng("s.png", SceneTexts("Scale", "1e-400")));
    EXPECT_TRUE(RecordedBoxes.empty());
    EXPECT_TRUE(Viewer().DrawnDeep());
    EXPECT_EQ(Viewer().View().scale, "1e-400");
    EXPECT_EQ(History()->Texts(&History()->Entries[History()->Count - 1]).scale, "1e-400");
    Viewer().Stop();
}

class GalleryTest : public SceneTest {
  protected:
    void SetUp() override {
        withForms = true;
        SceneTest::SetUp();
    }
};

TEST_F(GalleryTest, ListsThePicturesAndOpensTheOneChosen) {
    SKIP_WITHOUT_RENDERING();
    WriteFile("fractals.dat", ExprRecord(SceneFractal, "Burning Ship. The hull."));
    WritePng("gallery/13-burning-ship.png", SceneTexts());
    WritePng("gallery/20-my_own-scene.png", SceneTexts());
    WritePng("gallery/30-plain.png", {});
    Key(Qt::Key_F1);
    auto *help = Child<THelpIndex>(win.get(), "THelpIndex");
    ASSERT_TRUE(help && help->isVisible());
    auto *gallery = Child<QListWidget>(help, "Gallery");
    EXPECT_EQ(Lines(gallery), QStringList({"Burning Ship", "my own scene", "plain"}));
    EXPECT_EQ(gallery->item(0)->icon().availableSizes(), QList<QSize>({{2, 2}}));
    EXPECT_TRUE(LibraryCalls.empty());

    const auto choose = [&](int row, char how) {
        LibraryCalls.clear();
        RecordedBoxes.clear();
        const QPoint at = gallery->visualItemRect(gallery->item(row)).center();
        if (how == 'c') QTest::mouseClick(gallery->viewport(), Qt::LeftButton, {}, at);
        if (how == 'd') {  // as the window system delivers it
            QTest::mouseClick(gallery->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(gallery->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseRelease(gallery->viewport(), Qt::LeftButton, {}, at);
        }
        if (how == 'r') {
            gallery->setCurrentRow(row);
            QTest::keyClick(gallery, Qt::Key_Return);
        }
    };
    for (const auto &[row, how] : {std::pair{0, 'c'}, {1, 'd'}, {0, 'r'}}) {
        SCOPED_TRACE(std::string(1, how) + " on " + std::to_string(row));
        choose(row, how);
        ExpectSceneApplied();
    }
    EXPECT_EQ(History()->Count, 4);
    choose(2, 'c');
    ASSERT_EQ(RecordedBoxes.size(), 1u);
    EXPECT_TRUE(
        RecordedBoxes[0].Text.endsWith("plain.png\" cannot be loaded: it holds no scene "
                                       "(the texts that Save picture and quob-render keep "
                                       "in a PNG)."));
    EXPECT_TRUE(LibraryCalls.empty());

    // A picture saved into the folder joins the gallery while it is shown.
    EXPECT_EQ(
        Viewer().SavePicture(QDir::current().filePath("gallery/40-saved.png"), Display->size()),
        "");
    QTRY_COMPARE(Lines(gallery).size(), 4);
    EXPECT_EQ(Lines(gallery).last(), "saved");
}

// ---- Start-up ----------------------------------------------------------------------------------

TEST_F(ViewerTest, FillerFailureIsReportedAs2613) {
    TQuobImports failing = Quob;
    failing.CreateFiller = [](const QUOB_FillerParams *) -> int32_t { return 0; };
    TViewerState viewer(failing, Recorder());
    EXPECT_FALSE(viewer.ViewerInit());
    ExpectOneBox("Error", "Runtime error 2613. Could not create fractal object");
}

}  // namespace
