// The menu, the commands through their shortcuts, and saving the picture.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>

#include "mainwin_fixture.h"

namespace {

struct MenuItem {
    const char *menu, *name, *caption, *shortcut;
    bool enabled;
};

// The main form's menu. The dialog items are disabled until their dialogs exist.
const MenuItem kMenu[] = {
    {"File1", "Savepicture1", "&Save picture", "Ctrl+S", true},
    {"File1", "Loadpicture1", "&Load picture", "Ctrl+L", false},
    {"File1", "N1", "", "", true},
    {"File1", "Exit1", "E&xit", "F10", true},
    {"View1", "Hidehotspot1", "H&ide hot spot", "Ctrl+H", true},
    {"View1", "N4", "", "", true},
    {"View1", "Back1", "&Back", "Shift+Del", true},
    {"View1", "Defaultview1", "&Forward", "Shift+Ins", true},
    {"View1", "Home1", "&Home", "Ctrl+Del", true},
    {"View1", "N2", "", "", true},
    {"View1", "Stop1", "&Stop!", "Ctrl+Z", true},
    {"View1", "Zoomin1", "Zoom &in", "Ctrl+I", true},
    {"View1", "Zoomout1", "Zoom &out", "Ctrl+O", true},
    {"View1", "N3", "", "", true},
    {"View1", "Exactposition1", "E&xact position", "F2", false},
    {"Options1", "Fractal1", "&Fractal", "F3", false},
    {"Options1", "Colorajustment1", "&Color adjustment", "F4", false},
    {"Options1", "PrecisionvsSpeed1", "&Precision vs Speed", "F5", false},
    {"Help1", "About1", "&About", "", false},
    {"Help1", "Help2", "&Help index", "F1", false},
};

using CommandsTest = MainWinTest;

TEST_F(CommandsTest, MenuAsTheFormResourceDefinesIt) {
    const QList<QAction *> menus = win->Menu->actions();
    ASSERT_EQ(menus.size(), 4);
    const char *titles[] = {"&File", "&View", "&Options", "&Help"};
    const char *names[] = {"File1", "View1", "Options1", "Help1"};
    for (int m = 0; m < 4; ++m) {
        EXPECT_EQ(menus[m]->text(), titles[m]);
        EXPECT_EQ(menus[m]->menu()->objectName(), names[m]);
    }
    size_t next = 0;
    for (int m = 0; m < 4; ++m) {
        for (QAction *item : menus[m]->menu()->actions()) {
            ASSERT_LT(next, std::size(kMenu));
            const MenuItem &expected = kMenu[next++];
            SCOPED_TRACE(expected.name);
            EXPECT_STREQ(expected.menu, names[m]);
            EXPECT_EQ(item->objectName(), expected.name);
            EXPECT_EQ(item->isSeparator(), *expected.caption == '\0');
            EXPECT_EQ(item->text(), expected.caption);
            EXPECT_EQ(item->shortcut(), QKeySequence(expected.shortcut));
            EXPECT_EQ(item->isEnabled(), expected.enabled);
        }
    }
    EXPECT_EQ(next, std::size(kMenu));
}

TEST_F(CommandsTest, ZoomInTwiceBackTwiceForwardOnce) {
    Key(Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(+CurrentParams.Scale, 1.0);
    EXPECT_TRUE(win->DisplayTimer->isActive());
    Key(Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(+CurrentParams.Scale, 0.5);
    EXPECT_EQ(+CurrentParams.CenterRe, -0.5);
    EXPECT_EQ(History->Count, 3);
    Key(Qt::Key_Delete, Qt::ShiftModifier);
    Key(Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(+CurrentParams.Scale, 2.0);
    EXPECT_EQ(History->Count, 1);
    Key(Qt::Key_Delete, Qt::ShiftModifier);  // nothing further back
    EXPECT_EQ(History->Count, 1);
    Key(Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(+CurrentParams.Scale, 1.0);
    EXPECT_EQ(History->Count, 2);
}

TEST_F(CommandsTest, ZoomOutFromHomeDoublesTheScale) {
    Key(Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(+CurrentParams.Scale, 4.0);
    EXPECT_EQ(+CurrentParams.CenterRe, -0.5);
    EXPECT_EQ(+CurrentParams.CenterIm, 0.0);
}

TEST_F(CommandsTest, HomeIsANewStepInTheHistory) {
    Key(Qt::Key_I, Qt::ControlModifier);
    Key(Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(+CurrentParams.Scale, 2.0);
    EXPECT_EQ(History->Count, 3);
    Key(Qt::Key_Delete, Qt::ControlModifier);  // Home on the home view pushes a second copy
    EXPECT_EQ(History->Count, 4);
    Key(Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(+CurrentParams.Scale, 2.0);
    EXPECT_EQ(+CurrentParams.CenterRe, -0.5);
}

TEST_F(CommandsTest, HideHotSpotRemovesIt) {
    Click({100, 60});
    ASSERT_TRUE(HotSpot);
    Key(Qt::Key_H, Qt::ControlModifier);
    EXPECT_FALSE(HotSpot);
    Key(Qt::Key_H, Qt::ControlModifier);  // nothing to hide
    EXPECT_FALSE(HotSpot);
}

TEST_F(CommandsTest, DisabledItemsDoNothingThroughTheirShortcuts) {
    for (const auto &[key, modifiers] :
         {std::pair{Qt::Key_L, Qt::ControlModifier}, std::pair{Qt::Key_F1, Qt::NoModifier},
          std::pair{Qt::Key_F2, Qt::NoModifier}, std::pair{Qt::Key_F3, Qt::NoModifier},
          std::pair{Qt::Key_F4, Qt::NoModifier}, std::pair{Qt::Key_F5, Qt::NoModifier}})
        Key(key, modifiers);
    EXPECT_EQ(History->Count, 1);
    EXPECT_TRUE(RecordedBoxes.empty());
    const QWidgetList windows = QApplication::topLevelWidgets();
    EXPECT_EQ(
        std::count_if(windows.begin(), windows.end(), [](QWidget *w) { return w->isVisible(); }),
        1);
}

TEST_F(CommandsTest, ExitEndsTheEventLoop) {
    bool timedOut = false;
    QTimer::singleShot(0, win.get(), [this] { Key(Qt::Key_F10); });
    QTimer::singleShot(5000, win.get(), [&timedOut] {
        timedOut = true;
        QCoreApplication::exit(1);
    });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_FALSE(timedOut);
}

TEST_F(CommandsTest, StopEndsTheFillAndTheTimerAfterOneMoreTick) {
    SKIP_WITHOUT_RENDERING();
    Key(Qt::Key_I, Qt::ControlModifier);
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(Quob.IBufferFilled(BufferHandle));
    ASSERT_TRUE(win->DisplayTimer->isActive());
    win->Displaying();
    EXPECT_FALSE(win->DisplayTimer->isActive());
}

// ---- Save picture ------------------------------------------------------------------------------

class SavePictureTest : public MainWinTest {
  protected:
    // Runs "Save picture" through its shortcut and answers the dialog with fileName
    // (or cancels it when fileName is empty). Returns what the dialog showed.
    struct Seen {
        QString title, filter, suffix, initialName;
    };
    Seen SaveThroughDialog(const QString &fileName) {
        Seen seen;
        QTimer::singleShot(0, win.get(), [&] {
            QFileDialog *dialog = win->SaveAsBmp;
            QTRY_VERIFY(dialog->isVisible());
            seen = {dialog->windowTitle(), dialog->nameFilters().join(";"), dialog->defaultSuffix(),
                    dialog->findChild<QLineEdit *>("fileNameEdit")->text()};
            if (fileName.isEmpty()) {
                dialog->reject();
                return;
            }
            auto *edit = dialog->findChild<QLineEdit *>("fileNameEdit");
            edit->setText(fileName);
            QMetaObject::invokeMethod(dialog, "accept");  // as the Save button does
        });
        Key(Qt::Key_S, Qt::ControlModifier);
        // The offscreen platform has no window manager to hand the activation back from the
        // hidden dialog to the main window.
        EXPECT_FALSE(win->SaveAsBmp->isVisible());
        QApplication::setActiveWindow(win.get());
        EXPECT_EQ(QApplication::activeWindow(), win.get());
        return seen;
    }
    QTemporaryDir folder;
};

int32_t Int32At(const QByteArray &file, int offset) {
    return qFromLittleEndian<int32_t>(file.constData() + offset);
}
int16_t Int16At(const QByteArray &file, int offset) {
    return qFromLittleEndian<int16_t>(file.constData() + offset);
}

TEST_F(SavePictureTest, DialogAsThePartDescribesIt) {
    const Seen seen = SaveThroughDialog({});
    EXPECT_EQ(seen.title, "Save current image in bmp format (True color)");
    EXPECT_EQ(seen.filter, "Windows bitmap (24 bits) (*.bmp)");
    EXPECT_EQ(seen.suffix, "bmp");
    EXPECT_EQ(seen.initialName, "default");
    EXPECT_EQ(win->SaveAsBmp->objectName(), "SaveAsBmp");
}

TEST_F(SavePictureTest, CancelWritesNothing) {
    SaveThroughDialog({});
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
}

TEST_F(SavePictureTest, WritesA24BitFileOfTheDisplaysSize) {
    SaveThroughDialog(folder.filePath("picture"));  // the extension is added
    QFile saved(folder.filePath("picture.bmp"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray file = saved.readAll();
    ASSERT_EQ(file.size(), 54 + 125 * 944);
    EXPECT_EQ(file.left(2), "BM");
    EXPECT_EQ(Int32At(file, 2), 54 + 125 * 944);
    EXPECT_EQ(Int16At(file, 6), 0);
    EXPECT_EQ(Int16At(file, 8), 0);
    EXPECT_EQ(Int32At(file, 10), 54);
    EXPECT_EQ(Int32At(file, 14), 40);
    EXPECT_EQ(Int32At(file, 18), 314);
    EXPECT_EQ(Int32At(file, 22), 125);
    EXPECT_EQ(Int16At(file, 26), 1);
    EXPECT_EQ(Int16At(file, 28), 24);
    EXPECT_EQ(Int32At(file, 30), 0);
    EXPECT_EQ(Int32At(file, 34), 125 * 944);
    for (int offset : {38, 42, 46, 50}) EXPECT_EQ(Int32At(file, offset), 0) << offset;
    for (int row = 0; row < 125; ++row) {  // 942 bytes of pixels, 2 of padding
        ASSERT_EQ(file[54 + row * 944 + 942], '\0');
        ASSERT_EQ(file[54 + row * 944 + 943], '\0');
    }
    Key(Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(+CurrentParams.Scale, 1.0);
}

TEST_F(SavePictureTest, PixelsAreTheBuffersWithoutTheHotSpot) {
    SKIP_WITHOUT_RENDERING();
    WaitFilled();
    Click({100, 60});
    ASSERT_TRUE(HotSpot);
    SaveThroughDialog(folder.filePath("spot.bmp"));
    QFile saved(folder.filePath("spot.bmp"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray file = saved.readAll();
    ASSERT_EQ(file.size(), 54 + 125 * 944);
    const auto *bits = static_cast<const uint32_t *>(Quob.IBufferDC(BufferHandle));
    ASSERT_NE(bits, nullptr);
    int nonBlack = 0;
    for (int row = 0; row < 125; ++row) {  // both bottom-up
        for (int x = 0; x < 314; ++x) {
            const uint32_t pixel = bits[row * 314 + x];
            const auto *bgr =
                reinterpret_cast<const uint8_t *>(file.constData()) + 54 + row * 944 + 3 * x;
            ASSERT_EQ(bgr[0], pixel & 0xFF) << x << "," << row;
            ASSERT_EQ(bgr[1], (pixel >> 8) & 0xFF) << x << "," << row;
            ASSERT_EQ(bgr[2], (pixel >> 16) & 0xFF) << x << "," << row;
            nonBlack += pixel != 0;
        }
    }
    EXPECT_GT(nonBlack, 0);
}

TEST_F(SavePictureTest, AFailureGoesToTheGeneralErrorDisplay) {
    const QString name = folder.filePath("missing/folder/x.bmp");
    SaveThroughDialog(name);
    ASSERT_EQ(RecordedBoxes.size(), 1u);
    EXPECT_EQ(RecordedBoxes[0].Caption, "Spiralis 3.0");
    EXPECT_TRUE(RecordedBoxes[0].Text.startsWith("Cannot create file \"" + name + "\""))
        << RecordedBoxes[0].Text.toStdString();
    EXPECT_TRUE(RecordedBoxes[0].Text.endsWith("."));
    // The application goes on: the next command works.
    Key(Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(+CurrentParams.Scale, 1.0);
}

TEST(StartUp, FillerFailureIsReportedAs2613) {
    const auto saved = Quob.CreateFiller;
    const int32_t savedFiller = FillerHandle;
    Quob.CreateFiller = [](const QUOB_FillerParams *) -> int32_t { return 0; };
    RecordedBoxes.clear();
    EXPECT_FALSE(ViewerInit());
    Quob.CreateFiller = saved;
    FillerHandle = savedFiller;
    ASSERT_EQ(RecordedBoxes.size(), 1u);
    EXPECT_EQ(RecordedBoxes[0].Text, "Runtime error 2613. Could not create fractal object");
    EXPECT_EQ(RecordedBoxes[0].Caption, "Error");
}

TEST(StartUp, CurrentParamsHoldTheFillersIdentityAndTheDefaults) {
    SKIP_WITHOUT_RENDERING();
    EXPECT_EQ(+CurrentParams.Version, 1);
    EXPECT_NE(+CurrentParams.PixelRoutine, nullptr);
    ASSERT_NE(+CurrentParams.Description, nullptr);
    EXPECT_STREQ(static_cast<const char *>(+CurrentParams.Description), "Classic Mandelbrot Set");
    EXPECT_EQ(+CurrentParams.Description, +DefaultParams.Description);
    EXPECT_EQ(+CurrentParams.FractalFormula, nullptr);
    EXPECT_EQ(+CurrentParams.ColorFormula, nullptr);
    EXPECT_EQ(+CurrentParams.MaxModule, 2.0f);
    EXPECT_EQ(+CurrentParams.Differential, 0.001f);
    EXPECT_EQ(+CurrentParams.IterationsLimit, 20);
    EXPECT_EQ(+CurrentParams.BlockLength, 20);
    EXPECT_EQ(+CurrentParams.EscapeColor, 0x00FFFFFF);
}

TEST(StartUp, ChangeSetsNameThePartsFields) {
    const auto indices = [](const QUOB_ChangeSet &set) {
        std::vector<int> on;
        for (int i = 0; i < QUOB_FP_FIELD_COUNT; ++i)
            if (set[i]) on.push_back(i);
        return on;
    };
    EXPECT_EQ(indices(FractalChanged), (std::vector<int>{5}));
    EXPECT_EQ(indices(ColoringChanged), (std::vector<int>{6, 15, 16}));
    EXPECT_EQ(indices(ViewChanged), (std::vector<int>{7, 8, 9}));
    EXPECT_EQ(indices(PrecisionChanged), (std::vector<int>{10, 11, 12, 13}));
    EXPECT_EQ(indices(BlockLengthChanged), (std::vector<int>{14}));
    EXPECT_EQ(RedrawMessage, 42);
}

}  // namespace
