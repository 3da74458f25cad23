// The display, its buffer and timer, and the mouse sequences as real Qt events.
#include <QPainter>

#include "viewer_testing.h"

namespace {

using DisplayTest = MainWinTest;

// One mouse action on the display and the hot spot after it.
struct Step {
    char action;  // see MainWinTest::Mouse
    QPoint at;
    int x, y, radius;
    uint8_t mode;
    std::optional<Qt::CursorShape> cursor = {};  // ArrowCursor: no override cursor
};
struct MouseCase {
    const char *name;
    std::vector<Step> steps;
};

class MouseSequence : public DisplayTest, public ::testing::WithParamInterface<MouseCase> {};

TEST_P(MouseSequence, MovesResizesAndArmsTheSpot) {
    for (const Step &step : GetParam().steps) {
        Mouse(step.action, step.at);
        SCOPED_TRACE(std::string(1, step.action) + " at " + std::to_string(step.at.x()) + "," +
                     std::to_string(step.at.y()));
        ASSERT_TRUE(HotSpot());
        EXPECT_EQ(HotSpot()->X, step.x);
        EXPECT_EQ(HotSpot()->Y, step.y);
        EXPECT_EQ(HotSpot()->Radius, step.radius);
        EXPECT_EQ(HotSpot()->DragMode, step.mode);
        if (!step.cursor) continue;
        const QCursor *cursor = QGuiApplication::overrideCursor();
        EXPECT_EQ(cursor != nullptr, *step.cursor != Qt::ArrowCursor);
        EXPECT_EQ(cursor ? cursor->shape() : Qt::ArrowCursor, *step.cursor);
    }
    EXPECT_EQ(History()->Count, 1);
    EXPECT_TRUE(LibraryCalls.empty());
}

constexpr uint8_t Moving = TViewSpot::Moving, Resizing = TViewSpot::Resizing,
                  Outside = TViewSpot::ReleasedOutside, Armed = TViewSpot::Armed;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Sequences, MouseSequence, ::testing::Values(
    // On an empty display a press creates the spot (radius 12), which follows until release;
    // armed, it stays where it is.
    MouseCase{"NewSpot", {{'p', {60, 50}, 60, 50, 12, Moving}, {'m', {80, 70}, 80, 70, 12, Moving},
                          {'r', {80, 70}, 80, 70, 12, Armed},
                          {'m', {120, 90}, 80, 70, 12, Armed, Qt::ArrowCursor}}},
    // A press outside moves the spot there and drags it.
    MouseCase{"PressOutside", {{'c', {60, 50}, 60, 50, 12, Armed},
                               {'p', {200, 60}, 200, 60, 12, Moving},
                               {'m', {210, 64}, 210, 64, 12, Moving},
                               {'r', {210, 64}, 210, 64, 12, Armed}}},
    MouseCase{"PressOnTheRim", {{'c', {100, 60}, 100, 60, 12, Armed},
                                {'m', {112, 61}, 100, 60, 12, Armed, Qt::SizeHorCursor},
                                {'p', {112, 61}, 100, 60, 12, Resizing},
                                {'m', {130, 60}, 100, 60, 30, Resizing},
                                {'r', {130, 60}, 100, 60, 30, Armed}}},
    // Distance 8: inside, neither near the centre nor on the rim. A double click that follows
    // such a press does not zoom, and its press inside leaves the spot in place.
    MouseCase{"PressInside", {{'c', {100, 60}, 100, 60, 12, Armed},
                              {'p', {108, 60}, 100, 60, 12, Armed},
                              {'m', {150, 100}, 100, 60, 12, Armed},
                              {'r', {150, 100}, 100, 60, 12, Outside},
                              {'D', {108, 60}, 100, 60, 12, Outside}}}),
    [](const auto &info) { return info.param.name; });
// clang-format on

TEST_F(DisplayTest, DoubleClickZoomsAndLeavesAFreshArmedSpot) {
    const QPoint p(157, 62);
    Mouse('c', p);
    ASSERT_EQ(HotSpot()->DragMode, TViewSpot::Armed);
    Mouse('d', p);
    const double s0 = 2.0, H = 125, W = 314;
    EXPECT_DOUBLE_EQ(+CurrentParams().CenterRe, -0.5 + s0 / H * (p.x() - int(W) / 2));
    EXPECT_DOUBLE_EQ(+CurrentParams().CenterIm, 0 - s0 / H * (p.y() - int(H) / 2));
    EXPECT_DOUBLE_EQ(+CurrentParams().Scale, 2 * s0 * 12 / H);
    EXPECT_EQ(History()->Count, 2);
    EXPECT_TRUE(DisplayTimer()->isActive());
    ASSERT_TRUE(HotSpot());
    EXPECT_EQ(QPoint(HotSpot()->X, HotSpot()->Y), p);
    EXPECT_EQ(HotSpot()->Radius, 12);
    EXPECT_EQ(HotSpot()->DragMode, TViewSpot::Armed);
    EXPECT_EQ(HotSpot()->Shown, 1);

    const double s1 = CurrentParams().Scale;
    Mouse('d', p);
    EXPECT_DOUBLE_EQ(+CurrentParams().Scale, s1 * 2 * 12 / H);
    EXPECT_EQ(History()->Count, 3);
}

TEST_F(DisplayTest, AFailedBufferIsReported) {
    const auto saved = Quob.CreateIBufferEx;
    Quob.CreateIBufferEx = [](int32_t, int32_t, int32_t) -> int32_t { return 0; };
    DisplayTimer()->stop();
    ResizeDisplay(QSize(200, 100));
    Quob.CreateIBufferEx = saved;
    ASSERT_FALSE(RecordedBoxes.empty());
    EXPECT_EQ(RecordedBoxes.back().Text, "Runtime error 1113. Could not create video buffer");
    EXPECT_EQ(RecordedBoxes.back().Caption, "Error");
    EXPECT_EQ(RecordedBoxes.back().Icon, TBoxIcon::Error);
    EXPECT_EQ(Viewer().BufferHandle(), 0);
    EXPECT_FALSE(DisplayTimer()->isActive());
    EXPECT_TRUE(win->CopyPicture().isNull());
}

TEST_F(DisplayTest, ResizeRecreatesTheBufferAtTheDisplaySize) {
    SKIP_WITHOUT_RENDERING();
    ASSERT_NE(Viewer().BufferHandle(), 0);
    ResizeDisplay(QSize(200, 100));
    const auto *panel = Child<TPanel>(win.get(), "ScreenPanel");
    EXPECT_EQ(Display->geometry(), panel->contentsRect());  // inside the bevel
    ASSERT_NE(Viewer().BufferHandle(), 0);
    EXPECT_TRUE(DisplayTimer()->isActive());
    EXPECT_EQ(LibraryCalls.back().Code, RedrawMessage);
    QUOB_FillerParams filler{};
    ASSERT_TRUE(Quob.GetFiller(Viewer().FillerHandle(), &filler));
    EXPECT_EQ(QSize(filler.Width, filler.Height), QSize(200, 100));
    EXPECT_EQ(win->CopyPicture().size(), QSize(200, 100));
    EXPECT_EQ(View(), std::tuple(-0.5, 0.0, 2.0));  // the view keeps its centre and height
    EXPECT_TRUE(RecordedBoxes.empty());
}

TEST_F(DisplayTest, PaintShowsThePictureAndTheMarkerTogether) {
    SKIP_WITHOUT_RENDERING();
    WaitFilled();
    Mouse('c', {100, 60});
    const QImage shown = Display->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QImage expected = win->CopyPicture();
    QPainter painter(&expected);
    HotSpot()->PaintMarker(painter);
    painter.end();
    EXPECT_EQ(shown, expected);
}

TEST_F(ViewerTest, ShutdownStopsARunningFillBeforeDeletingBufferAndFiller) {
    SKIP_WITHOUT_RENDERING();
    {
        TMainWin win(Viewer());
        win.resize(1200, 900);
        win.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));
        win.Zoomin1Click();  // a fresh fill in a worker thread
    }
    Viewer().ViewerDone();
    EXPECT_EQ(Viewer().BufferHandle(), 0);
    EXPECT_EQ(Viewer().FillerHandle(), 0);
    EXPECT_FALSE(History());
}

}  // namespace
