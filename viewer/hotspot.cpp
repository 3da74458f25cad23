#include "hotspot.h"

#include <QGuiApplication>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <set>
#include <utility>
#include <vector>

// ---- Hot spot marker ---------------------------------------------------------------------------

namespace {

using TPixels = std::vector<QPoint>;

// A line from (x0, y0) up to, but not including, (x1, y1).
TPixels Line(int x0, int y0, int x1, int y1) {
    TPixels pixels;
    const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int error = dx + dy;
    while (x0 != x1 || y0 != y1) {
        pixels.emplace_back(x0, y0);
        const int e2 = 2 * error;
        if (e2 >= dy) error += dy, x0 += sx;
        if (e2 <= dx) error += dx, y0 += sy;
    }
    return pixels;
}

// The small square through (x - 2, y - 2), (x + 2, y - 2), (x + 2, y + 2), (x - 2, y + 2) and
// back: four lines without their last points, so every pixel once.
TPixels Square(int x, int y) {
    TPixels pixels;
    const QPoint corners[] = {{x - 2, y - 2}, {x + 2, y - 2}, {x + 2, y + 2}, {x - 2, y + 2}};
    for (int i = 0; i < 4; ++i) {
        const QPoint from = corners[i], to = corners[(i + 1) % 4];
        const TPixels side = Line(from.x(), from.y(), to.x(), to.y());
        pixels.insert(pixels.end(), side.begin(), side.end());
    }
    return pixels;
}

// The circle of the given radius around (x, y), every pixel once (midpoint algorithm).
TPixels Circle(int x, int y, int radius) {
    std::set<std::pair<int, int>> unique;
    for (int px = 0, py = radius, d = 1 - radius; px <= py; ++px) {
        for (const auto &[a, b] : {std::pair{px, py}, std::pair{py, px}})
            for (const int sa : {-1, 1})
                for (const int sb : {-1, 1}) unique.emplace(x + sa * a, y + sb * b);
        if (d < 0) {
            d += 2 * px + 3;
        } else {
            d += 2 * (px - py) + 5;
            --py;
        }
    }
    TPixels pixels;
    for (const auto &[px, py] : unique) pixels.emplace_back(px, py);
    return pixels;
}

// The application-wide cursor: no override means the default cursor.
void SetScreenCursor(Qt::CursorShape shape) {
    if (shape == Qt::ArrowCursor) {
        while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
    } else if (QGuiApplication::overrideCursor()) {
        QGuiApplication::changeOverrideCursor(shape);
    } else {
        QGuiApplication::setOverrideCursor(shape);
    }
}

}  // namespace

TViewSpot::TViewSpot(int32_t x, int32_t y, QWidget *display)
    : X(x), Y(y), Radius(std::min(display->width(), display->height()) / 10), display(display) {
    DrawMarker();
}

TViewSpot::~TViewSpot() {
    if (Shown) DrawMarker();
}

void TViewSpot::DrawMarker() {
    Shown = !Shown;
    display->update();
}

void TViewSpot::PaintMarker(QPainter &painter) const {
    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setRenderHint(QPainter::Antialiasing, false);
    QPen pen(QColor(208, 224, 208), 1, Qt::SolidLine);
    pen.setCosmetic(true);
    painter.setPen(pen);
    // Each shape is one exclusive-or drawing of its own, as on the original surface: where two
    // shapes meet, their pixels cancel.
    const auto draw = [&painter](const TPixels &pixels) {
        painter.drawPoints(pixels.data(), static_cast<int>(pixels.size()));
    };
    draw(Line(X - 8, Y, X + 8, Y));
    draw(Line(X, Y - 8, X, Y + 8));
    draw(Square(X, Y));
    draw(Circle(X, Y, Radius));
    draw(Square(X - Radius, Y));
    draw(Square(X, Y - Radius));
    draw(Square(X + Radius, Y));
    draw(Square(X, Y + Radius));
    painter.restore();
}

void TViewSpot::MoveCenter(int32_t x, int32_t y) {
    if (Shown) DrawMarker();
    X = x;
    Y = y;
    DrawMarker();
}

void TViewSpot::ResizeTo(int32_t x, int32_t y) {
    if (Shown) DrawMarker();
    Radius = Distance(x, y);
    DrawMarker();
}

int32_t TViewSpot::Distance(int32_t x, int32_t y) const {
    const int32_t dx = x - X, dy = y - Y;
    // lrint rounds to nearest with ties to even in the default rounding mode.
    return static_cast<int32_t>(std::lrint(std::sqrt(double(dx) * dx + double(dy) * dy)));
}

bool TViewSpot::IsNearCenter(int32_t x, int32_t y) const {
    return std::abs(x - X) < 8 && std::abs(y - Y) < 8;
}

bool TViewSpot::IsOnRim(int32_t x, int32_t y) const {
    return std::abs(Radius - Distance(x, y)) < 4;
}

bool TViewSpot::IsInside(int32_t x, int32_t y) const { return Distance(x, y) <= Radius + 5; }

void TViewSpot::UpdateCursor(int32_t x, int32_t y) const {
    Qt::CursorShape shape = Qt::ArrowCursor;
    if (IsNearCenter(x, y)) {
        shape = Qt::DragMoveCursor;
    } else if (IsOnRim(x, y)) {
        if (std::abs(y - Y) < Radius / 3)
            shape = Qt::SizeHorCursor;
        else if (std::abs(x - X) < Radius / 3)
            shape = Qt::SizeVerCursor;
        else if (int64_t(x - X) * (y - Y) > 0)
            shape = Qt::SizeFDiagCursor;  // upper left to lower right
        else
            shape = Qt::SizeBDiagCursor;  // upper right to lower left
    }
    SetScreenCursor(shape);
}

// ---- View history ------------------------------------------------------------------------------

void THotSpotStack::Push(long double re, long double im, long double scale,
                         const quob::common::ExactView &view) {
    if (Count >= MaxViews) return;
    Entries[Count] = {re, im, scale, 1};
    texts[static_cast<std::size_t>(Count)] = view;
    Entries[Count + 1].Valid = 0;
    ++Count;
}

const THotSpotStack::TEntry *THotSpotStack::Back() {
    if (Count <= 1) return nullptr;
    --Count;
    return &Entries[Count - 1];
}

const THotSpotStack::TEntry *THotSpotStack::Forward() {
    if (!Entries[Count].Valid) return nullptr;
    return &Entries[Count++];
}
