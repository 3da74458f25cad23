// The hot spot marker's geometry, cursor table, drawing and zoom arithmetic.
#include <QPainter>

#include "viewer_testing.h"

namespace {

class ViewSpotTest : public ViewerTest {
  protected:
    void SetUp() override {
        ViewerTest::SetUp();
        display.resize(314, 125);
    }
    QWidget display;
};

// A point against a spot of radius 30 at (100, 100). Near the centre: within 7 pixels each way;
// on the rim and inside by the distance rounded to the nearest integer.
struct PointCase {
    int x, y;
    bool near, rim, inside;
    Qt::CursorShape cursor;  // ArrowCursor: no override cursor
};

class SpotGeometry : public ViewSpotTest, public ::testing::WithParamInterface<PointCase> {};

TEST_P(SpotGeometry, PlacesThePointAndChoosesTheCursorOfItsRegion) {
    const PointCase &c = GetParam();
    TViewSpot spot(100, 100, &display);
    spot.Radius = 30;
    EXPECT_EQ(spot.IsNearCenter(c.x, c.y), c.near);
    EXPECT_EQ(spot.IsOnRim(c.x, c.y), c.rim);
    EXPECT_EQ(spot.IsInside(c.x, c.y), c.inside);
    spot.UpdateCursor(131, 101);  // from a resize cursor, whichever comes next
    spot.UpdateCursor(c.x, c.y);
    const QCursor *cursor = QGuiApplication::overrideCursor();
    EXPECT_EQ(cursor != nullptr, c.cursor != Qt::ArrowCursor);
    EXPECT_EQ(cursor ? cursor->shape() : Qt::ArrowCursor, c.cursor);
}

INSTANTIATE_TEST_SUITE_P(
    Points, SpotGeometry,
    ::testing::Values(PointCase{93, 107, 1, 0, 1, Qt::DragMoveCursor},  // 7 off each way
                      PointCase{103, 96, 1, 0, 1, Qt::DragMoveCursor},
                      PointCase{92, 100, 0, 0, 1, Qt::ArrowCursor},     // 8 off
                      PointCase{131, 101, 0, 1, 1, Qt::SizeHorCursor},  // rim, left or right
                      PointCase{69, 95, 0, 1, 1, Qt::SizeHorCursor},
                      PointCase{133, 100, 0, 1, 1, Qt::SizeHorCursor},  // 3 beyond the radius
                      PointCase{134, 100, 0, 0, 1, Qt::ArrowCursor},    // 4 beyond
                      PointCase{101, 70, 0, 1, 1, Qt::SizeVerCursor},   // rim, top or bottom
                      PointCase{95, 130, 0, 1, 1, Qt::SizeVerCursor},
                      PointCase{121, 121, 0, 1, 1, Qt::SizeFDiagCursor},  // 29.7: lower right
                      PointCase{79, 79, 0, 1, 1, Qt::SizeFDiagCursor},    // upper left
                      PointCase{128, 110, 0, 1, 1, Qt::SizeFDiagCursor},  // 10 off: not level
                      PointCase{121, 79, 0, 1, 1, Qt::SizeBDiagCursor},   // upper right
                      PointCase{79, 121, 0, 1, 1, Qt::SizeBDiagCursor},   // lower left
                      PointCase{115, 100, 0, 0, 1, Qt::ArrowCursor},      // inside, off the rim
                      PointCase{135, 100, 0, 0, 1, Qt::ArrowCursor},      // 35 <= 30 + 5
                      PointCase{136, 100, 0, 0, 0, Qt::ArrowCursor},
                      PointCase{200, 200, 0, 0, 0, Qt::ArrowCursor}));

TEST_F(ViewSpotTest, MarkerIsExclusiveOrInTheMarkerColour) {
    const QColor ground(0x12, 0x34, 0x56), marked(0x12 ^ 208, 0x34 ^ 224, 0x56 ^ 208);
    QImage surface(314, 125, QImage::Format_RGB32);
    surface.fill(ground);
    const QImage before = surface;
    TViewSpot spot(100, 60, &display);  // radius 12
    const auto paint = [&] {
        QPainter painter(&surface);
        spot.PaintMarker(painter);
    };
    paint();
    const std::pair<QPoint, bool> pixels[] = {
        {{92, 60}, 1},  {{107, 60}, 1}, {{108, 60}, 0},  // the cross from X - 8 to before X + 8
        {{100, 52}, 1}, {{100, 68}, 0}, {{100, 60}, 0},  // both lines of the cross: cancelled
        {{98, 58}, 1},  {{102, 62}, 1},                  // corners of the small square
        {{100, 58}, 0},                                  // square and cross meet
        {{100, 72}, 1}, {{112, 60}, 1},  // the circle inside the bottom and right handles
        {{86, 58}, 1}};                  // the left handle's corner
    for (const auto &[at, on] : pixels)
        EXPECT_EQ(surface.pixelColor(at), on ? marked : ground) << at.x() << "," << at.y();
    paint();
    EXPECT_EQ(surface, before);  // drawing twice leaves the surface as it was
}

struct ZoomCase {
    QSize display;
    int x, y, radius;      // -1: the spot's own radius
    double re, im, scale;  // from the view (0, 0) at scale 2
};

class ZoomToSpot : public ViewSpotTest, public ::testing::WithParamInterface<ZoomCase> {};

TEST_P(ZoomToSpot, MakesTheCircleTheView) {
    const ZoomCase &c = GetParam();
    display.resize(c.display);
    Viewer().JumpTo(0, 0, 2.0);
    LibraryCalls.clear();
    TViewSpot spot(c.x, c.y, &display);
    if (c.radius >= 0) spot.Radius = c.radius;
    Viewer().ZoomToSpot(spot);
    EXPECT_DOUBLE_EQ(+CurrentParams().CenterRe, c.re);
    EXPECT_DOUBLE_EQ(+CurrentParams().CenterIm, c.im);
    EXPECT_DOUBLE_EQ(+CurrentParams().Scale, c.scale);
    ASSERT_EQ(History()->Count, 2);
    EXPECT_EQ(History()->Entries[1].Re, +CurrentParams().CenterRe);
    EXPECT_EQ(History()->Entries[1].Im, +CurrentParams().CenterIm);
    EXPECT_EQ(History()->Entries[1].Scale, +CurrentParams().Scale);
    ASSERT_EQ(Updates().size(), 1u);
    EXPECT_EQ(+Updates()[0].Params.Scale, c.scale);
}

INSTANTIATE_TEST_SUITE_P(
    Spots, ZoomToSpot,
    ::testing::Values(ZoomCase{{200, 100}, 150, 50, 25, 1.0, 0.0, 1.0},
                      // A quarter of the height above the centre: the imaginary part goes up.
                      ZoomCase{{200, 100}, 100, 25, -1, 0.0, 0.5, 2 * 2.0 * 10 / 100},
                      ZoomCase{{9, 50}, 4, 25, -1, 0.0, 0.0, 0.0}));  // radius 0: scale 0

}  // namespace
