// The hot spot marker's geometry, cursor table, drawing and zoom arithmetic.
#include <QPainter>

#include "viewer_testing.h"

namespace {

class ViewSpotTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetViewer();
        display.resize(314, 125);
    }
    QWidget display;
};

Qt::CursorShape ScreenCursor() {
    const QCursor *cursor = QGuiApplication::overrideCursor();
    return cursor ? cursor->shape() : Qt::ArrowCursor;
}

TEST_F(ViewSpotTest, NewSpotOn314x125HasRadius12AndIsShownMoving) {
    TViewSpot spot(40, 50, &display);
    EXPECT_EQ(spot.X, 40);
    EXPECT_EQ(spot.Y, 50);
    EXPECT_EQ(spot.Radius, 12);
    EXPECT_EQ(spot.Shown, 1);
    EXPECT_EQ(spot.DragMode, TViewSpot::Moving);
}

TEST_F(ViewSpotTest, DrawingTwiceTogglesShownBack) {
    TViewSpot spot(40, 50, &display);
    spot.DrawMarker();
    EXPECT_EQ(spot.Shown, 0);
    spot.DrawMarker();
    EXPECT_EQ(spot.Shown, 1);
}

TEST_F(ViewSpotTest, NearCenterWithinSevenPixelsEachWay) {
    TViewSpot spot(107, 93, &display);
    EXPECT_TRUE(spot.IsNearCenter(100, 100));  // centre at (x + 7, y - 7)
    TViewSpot other(108, 100, &display);
    EXPECT_FALSE(other.IsNearCenter(100, 100));  // centre at (x + 8, y)
}

TEST_F(ViewSpotTest, RimAndInsideUseTheRoundedDistance) {
    TViewSpot spot(100, 100, &display);
    spot.Radius = 30;
    EXPECT_TRUE(spot.IsOnRim(131, 101));
    EXPECT_TRUE(spot.IsOnRim(121, 121));   // 29.7 rounds to 30
    EXPECT_TRUE(spot.IsInside(135, 100));  // 35 <= 35
    EXPECT_FALSE(spot.IsOnRim(135, 100));
    EXPECT_FALSE(spot.IsInside(136, 100));
    EXPECT_TRUE(spot.IsOnRim(133, 100));
    EXPECT_FALSE(spot.IsOnRim(134, 100));
}

struct CursorCase {
    int x, y;
    Qt::CursorShape shape;
};

class CursorTable : public ViewSpotTest, public ::testing::WithParamInterface<CursorCase> {};

TEST_P(CursorTable, ChoosesTheCursorOfItsRegion) {
    TViewSpot spot(100, 100, &display);
    spot.Radius = 30;
    spot.UpdateCursor(GetParam().x, GetParam().y);
    EXPECT_EQ(ScreenCursor(), GetParam().shape);
}

INSTANTIATE_TEST_SUITE_P(
    Part41, CursorTable,
    ::testing::Values(CursorCase{103, 96, Qt::DragMoveCursor},  // near the centre
                      CursorCase{131, 101, Qt::SizeHorCursor},  // rim, left or right
                      CursorCase{69, 95, Qt::SizeHorCursor},
                      CursorCase{101, 70, Qt::SizeVerCursor},  // rim, top or bottom
                      CursorCase{95, 130, Qt::SizeVerCursor},
                      CursorCase{121, 121, Qt::SizeFDiagCursor},  // lower right
                      CursorCase{79, 79, Qt::SizeFDiagCursor},    // upper left
                      CursorCase{121, 79, Qt::SizeBDiagCursor},   // upper right
                      CursorCase{79, 121, Qt::SizeBDiagCursor},   // lower left
                      CursorCase{115, 100, Qt::ArrowCursor},      // inside, off the rim
                      CursorCase{200, 200, Qt::ArrowCursor}));    // outside

TEST_F(ViewSpotTest, DefaultCursorAfterAResizeCursorRestoresTheDefault) {
    TViewSpot spot(100, 100, &display);
    spot.Radius = 30;
    spot.UpdateCursor(131, 101);
    spot.UpdateCursor(200, 200);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(ViewSpotTest, MoveCenterAndResizeTo) {
    TViewSpot spot(100, 100, &display);
    spot.MoveCenter(50, 60);
    EXPECT_EQ(spot.X, 50);
    EXPECT_EQ(spot.Y, 60);
    EXPECT_EQ(spot.Shown, 1);
    spot.ResizeTo(53, 64);  // distance 5
    EXPECT_EQ(spot.Radius, 5);
    EXPECT_EQ(spot.Shown, 1);
    spot.ResizeTo(50, 60);
    EXPECT_EQ(spot.Radius, 0);
}

QColor PixelAt(const QImage &image, int x, int y) { return image.pixelColor(x, y); }

TEST_F(ViewSpotTest, MarkerIsExclusiveOrInTheMarkerColour) {
    const QColor marker(208, 224, 208), black(0, 0, 0);
    QImage surface(314, 125, QImage::Format_RGB32);
    surface.fill(Qt::black);
    const QImage before = surface;
    TViewSpot spot(100, 60, &display);  // radius 12
    {
        QPainter painter(&surface);
        spot.PaintMarker(painter);
    }
    EXPECT_EQ(PixelAt(surface, 92, 60), marker);   // the cross starts at X - 8 ...
    EXPECT_EQ(PixelAt(surface, 107, 60), marker);  // ... and ends before X + 8
    EXPECT_EQ(PixelAt(surface, 108, 60), black);
    EXPECT_EQ(PixelAt(surface, 100, 52), marker);
    EXPECT_EQ(PixelAt(surface, 100, 68), black);
    EXPECT_EQ(PixelAt(surface, 100, 60), black);  // both lines of the cross: cancelled
    EXPECT_EQ(PixelAt(surface, 98, 58), marker);  // corners of the small square
    EXPECT_EQ(PixelAt(surface, 102, 62), marker);
    EXPECT_EQ(PixelAt(surface, 100, 58), black);   // square and cross meet
    EXPECT_EQ(PixelAt(surface, 100, 72), marker);  // circle, inside the bottom handle
    EXPECT_EQ(PixelAt(surface, 86, 58), marker);   // left handle's corner
    EXPECT_EQ(PixelAt(surface, 112, 60), marker);  // circle, inside the right handle
    {
        QPainter painter(&surface);
        spot.PaintMarker(painter);
    }
    EXPECT_EQ(surface, before);  // drawing twice leaves the surface as it was
}

TEST_F(ViewSpotTest, MarkerInvertsOverAPicture) {
    QImage surface(314, 125, QImage::Format_RGB32);
    surface.fill(QColor(0x12, 0x34, 0x56));
    TViewSpot spot(100, 60, &display);
    QPainter painter(&surface);
    spot.PaintMarker(painter);
    painter.end();
    EXPECT_EQ(PixelAt(surface, 92, 60), QColor(0x12 ^ 208, 0x34 ^ 224, 0x56 ^ 208));
}

TEST_F(ViewSpotTest, ZoomToSpotMakesTheCircleTheView) {
    display.resize(200, 100);
    CurrentParams.CenterRe = 0;
    CurrentParams.CenterIm = 0;
    CurrentParams.Scale = 2.0;
    TViewSpot spot(150, 50, &display);
    spot.Radius = 25;
    spot.ZoomToSpot();
    EXPECT_DOUBLE_EQ(+CurrentParams.CenterRe, 1.0);
    EXPECT_DOUBLE_EQ(+CurrentParams.CenterIm, 0.0);
    EXPECT_DOUBLE_EQ(+CurrentParams.Scale, 1.0);
    ASSERT_EQ(History->Count, 2);
    EXPECT_EQ(History->Entries[1].Re, 1.0L);
    EXPECT_EQ(History->Entries[1].Scale, 1.0L);
}

TEST_F(ViewSpotTest, ZoomToSpotUpwardsMovesTheImaginaryPartUp) {
    display.resize(200, 100);
    CurrentParams.CenterRe = 0;
    CurrentParams.CenterIm = 0;
    CurrentParams.Scale = 2.0;
    TViewSpot spot(100, 25, &display);  // a quarter of the height above the centre
    spot.ZoomToSpot();
    EXPECT_DOUBLE_EQ(+CurrentParams.CenterIm, 0.5);
    EXPECT_DOUBLE_EQ(+CurrentParams.Scale, 2 * 2.0 * 10 / 100);
}

TEST_F(ViewSpotTest, RadiusZeroZoomsToScaleZero) {
    QWidget tiny;
    tiny.resize(9, 50);
    TViewSpot spot(4, 25, &tiny);
    EXPECT_EQ(spot.Radius, 0);
    spot.ZoomToSpot();
    EXPECT_EQ(+CurrentParams.Scale, 0.0);
}

}  // namespace
