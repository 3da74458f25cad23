// The display, its buffer, timer and the mouse sequences as real Qt events.
#include <QPainter>
#include <QTimer>

#include "mainwin_fixture.h"

namespace {

using DisplayTest = MainWinTest;

TEST_F(DisplayTest, DisplayFillsThePanelInsideItsBevel) {
    EXPECT_EQ(win->Display->geometry(), win->ScreenPanel->contentsRect());
    EXPECT_EQ(win->ScreenPanel->frameWidth(), 1);
    EXPECT_EQ(win->windowTitle(), "Spiralis beta 3.0 (31.05.98)");
    EXPECT_EQ(win->DisplayTimer->interval(), 1500);
    EXPECT_EQ(win->DisplayTimer->objectName(), "DisplayTimer");
}

TEST_F(DisplayTest, PressOnEmptyDisplayCreatesASpotThatFollowsUntilRelease) {
    Press({60, 50});
    ASSERT_TRUE(HotSpot);
    EXPECT_EQ(HotSpot->X, 60);
    EXPECT_EQ(HotSpot->Y, 50);
    EXPECT_EQ(HotSpot->Radius, 12);
    EXPECT_EQ(HotSpot->DragMode, TViewSpot::Moving);
    Move({80, 70});
    EXPECT_EQ(HotSpot->X, 80);
    EXPECT_EQ(HotSpot->Y, 70);
    Release({80, 70});
    EXPECT_EQ(HotSpot->DragMode, TViewSpot::Armed);
    Move({120, 90});  // without a button: the armed spot stays
    EXPECT_EQ(HotSpot->X, 80);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(DisplayTest, PressOutsideMovesTheSpotThereAndDragsIt) {
    Click({60, 50});
    Press({200, 60});
    EXPECT_EQ(HotSpot->X, 200);
    EXPECT_EQ(HotSpot->Y, 60);
    EXPECT_EQ(HotSpot->DragMode, TViewSpot::Moving);
    Move({210, 64});
    EXPECT_EQ(HotSpot->X, 210);
    Release({210, 64});
    EXPECT_EQ(HotSpot->DragMode, TViewSpot::Armed);
}

TEST_F(DisplayTest, PressOnTheRimResizes) {
    Click({100, 60});
    Move({112, 61});  // on the rim, right: horizontal resize cursor
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::SizeHorCursor);
    Press({112, 61});
    EXPECT_EQ(HotSpot->DragMode, TViewSpot::Resizing);
    Move({130, 60});
    EXPECT_EQ(HotSpot->Radius, 30);
    EXPECT_EQ(HotSpot->X, 100);
    Release({130, 60});
    EXPECT_EQ(HotSpot->DragMode, TViewSpot::Armed);
}

TEST_F(DisplayTest, PressInsideAwayFromCentreAndRimChangesNothing) {
    Click({100, 60});
    Press({108, 60});  // distance 8: inside, not near the centre, not on the rim
    EXPECT_EQ(HotSpot->DragMode, TViewSpot::Armed);
    Move({150, 100});  // an armed spot does not follow
    EXPECT_EQ(HotSpot->X, 100);
    EXPECT_EQ(HotSpot->Y, 60);
    Release({150, 100});
    EXPECT_EQ(HotSpot->DragMode, TViewSpot::ReleasedOutside);
}

TEST_F(DisplayTest, DoubleClickAfterReleaseOutsideDoesNothing) {
    Click({100, 60});
    Press({108, 60});
    Release({150, 100});
    ASSERT_EQ(HotSpot->DragMode, TViewSpot::ReleasedOutside);
    const double scale = CurrentParams.Scale;
    // The double-click event alone, as the display's handler order would see it after a press
    // inside that leaves the mode.
    QMouseEvent event(QEvent::MouseButtonDblClick, QPointF(108, 60),
                      win->Display->mapToGlobal(QPointF(108, 60)), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(win->Display, &event);
    EXPECT_EQ(+CurrentParams.Scale, scale);
    EXPECT_EQ(History->Count, 1);
    ASSERT_TRUE(HotSpot);
    EXPECT_EQ(HotSpot->X, 100);  // the press that follows the double click leaves it in place
}

TEST_F(DisplayTest, DoubleClickZoomsAndLeavesAFreshArmedSpot) {
    const QPoint p(157, 62);
    Click(p);
    ASSERT_EQ(HotSpot->DragMode, TViewSpot::Armed);
    DoubleClick(p);
    const double s0 = 2.0, H = 125, W = 314;
    EXPECT_DOUBLE_EQ(+CurrentParams.CenterRe, -0.5 + s0 / H * (p.x() - int(W) / 2));
    EXPECT_DOUBLE_EQ(+CurrentParams.CenterIm, 0 - s0 / H * (p.y() - int(H) / 2));
    EXPECT_DOUBLE_EQ(+CurrentParams.Scale, 2 * s0 * 12 / H);
    EXPECT_EQ(History->Count, 2);
    EXPECT_TRUE(win->DisplayTimer->isActive());
    ASSERT_TRUE(HotSpot);
    EXPECT_EQ(HotSpot->X, p.x());
    EXPECT_EQ(HotSpot->Y, p.y());
    EXPECT_EQ(HotSpot->Radius, 12);
    EXPECT_EQ(HotSpot->DragMode, TViewSpot::Armed);
    EXPECT_EQ(HotSpot->Shown, 1);

    const double s1 = CurrentParams.Scale;
    DoubleClick(p);
    EXPECT_DOUBLE_EQ(+CurrentParams.Scale, s1 * 2 * 12 / H);
    EXPECT_EQ(History->Count, 3);
}

TEST_F(DisplayTest, AFailedBufferIsReported) {
    const auto saved = Quob.CreateIBufferEx;
    Quob.CreateIBufferEx = [](int32_t, int32_t, int32_t) -> int32_t { return 0; };
    win->DisplayTimer->stop();
    ResizeDisplay(QSize(200, 100));
    Quob.CreateIBufferEx = saved;
    ASSERT_FALSE(RecordedBoxes.empty());
    EXPECT_EQ(RecordedBoxes.back().Text, "Runtime error 1113. Could not create video buffer");
    EXPECT_EQ(RecordedBoxes.back().Caption, "Error");
    EXPECT_EQ(RecordedBoxes.back().Icon, TBoxIcon::Error);
    EXPECT_EQ(BufferHandle, 0);
    EXPECT_FALSE(win->DisplayTimer->isActive());
    EXPECT_TRUE(win->CopyPicture().isNull());
}

TEST_F(DisplayTest, ResizeRecreatesTheBufferAtTheDisplaySize) {
    SKIP_WITHOUT_RENDERING();
    ASSERT_NE(BufferHandle, 0);
    EXPECT_TRUE(RecordedBoxes.empty());
    ResizeDisplay(QSize(200, 100));
    ASSERT_NE(BufferHandle, 0);
    EXPECT_TRUE(win->DisplayTimer->isActive());
    QUOB_FillerParams filler{};
    ASSERT_TRUE(Quob.GetFiller(FillerHandle, &filler));
    EXPECT_EQ(+filler.Width, 200);
    EXPECT_EQ(+filler.Height, 100);
    const QImage picture = win->CopyPicture();
    EXPECT_EQ(picture.size(), QSize(200, 100));
    // The view keeps its centre and height: CurrentParams did not change.
    EXPECT_EQ(+CurrentParams.Scale, 2.0);
    EXPECT_EQ(+CurrentParams.CenterRe, -0.5);
}

TEST_F(DisplayTest, TimerStopsOnceATickFindsTheBufferFilled) {
    SKIP_WITHOUT_RENDERING();
    WaitFilled();
    win->DisplayTimer->start();
    win->Displaying();
    EXPECT_FALSE(win->DisplayTimer->isActive());
}

TEST_F(DisplayTest, PaintShowsThePictureAndTheMarkerTogether) {
    SKIP_WITHOUT_RENDERING();
    WaitFilled();
    Click({100, 60});
    const QImage shown = win->Display->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QImage expected = win->CopyPicture();
    {
        QPainter painter(&expected);
        HotSpot->PaintMarker(painter);
    }
    EXPECT_EQ(shown, expected);
}

}  // namespace

namespace {

TEST(Shutdown, StopsARunningFillBeforeDeletingBufferAndFiller) {
    SKIP_WITHOUT_RENDERING();
    ResetViewer();
    {
        TMainWin win;
        win.resize(1200, 900);
        win.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));
        win.Zoomin1Click();  // a fresh fill in a worker thread
    }
    ViewerDone();
    EXPECT_EQ(BufferHandle, 0);
    EXPECT_EQ(FillerHandle, 0);
    EXPECT_FALSE(History);
    // Start again for the tests that follow: one filler per process, so it can be made anew.
    ASSERT_TRUE(ViewerInit());
}

}  // namespace
