// The menu, the commands through their shortcuts, saving the picture, and start-up.
#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <map>

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
    {"&File", {{"&Save picture", "Ctrl+S", 1}, {"&Load picture", "Ctrl+L", 0}, {"", "", 1},
               {"E&xit", "F10", 1}}},
    {"&View", {{"H&ide hot spot", "Ctrl+H", 1}, {"", "", 1}, {"&Back", "Shift+Del", 1},
               {"&Forward", "Shift+Ins", 1}, {"&Home", "Ctrl+Del", 1}, {"", "", 1},
               {"&Stop!", "Ctrl+Z", 1}, {"Zoom &in", "Ctrl+I", 1}, {"Zoom &out", "Ctrl+O", 1},
               {"", "", 1}, {"E&xact position", "F2", 0}}},
    {"&Options", {{"&Fractal", "F3", 0}, {"&Color adjustment", "F4", 0},
                  {"&Precision vs Speed", "F5", 0}}},
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

// ---- Start-up ----------------------------------------------------------------------------------

TEST_F(ViewerTest, FillerFailureIsReportedAs2613) {
    TQuobImports failing = Quob;
    failing.CreateFiller = [](const QUOB_FillerParams *) -> int32_t { return 0; };
    TViewerState viewer(failing, Recorder());
    EXPECT_FALSE(viewer.ViewerInit());
    ExpectOneBox("Error", "Runtime error 2613. Could not create fractal object");
}

}  // namespace
