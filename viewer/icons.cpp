#include "icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <cmath>
#include <numbers>

namespace {

// The classic 16-colour palette: no picture uses other colours, and no antialiasing mixes them.
const QColor Black(0, 0, 0), DarkRed(128, 0, 0), DarkGreen(0, 128, 0), DarkYellow(128, 128, 0),
    DarkBlue(0, 0, 128), DarkCyan(0, 128, 128), Gray(128, 128, 128), Silver(192, 192, 192),
    Red(255, 0, 0), Green(0, 255, 0), Yellow(255, 255, 0), Blue(0, 0, 255), Cyan(0, 255, 255),
    White(255, 255, 255);

QImage Blank(int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

// An arrow pointing left, or right when mirrored.
void Arrow(QPainter &p, bool right) {
    QPolygon arrow({{1, 8}, {7, 2}, {7, 5}, {14, 5}, {14, 11}, {7, 11}, {7, 14}});
    if (right)
        for (QPoint &point : arrow) point.setX(15 - point.x());
    p.setPen(DarkGreen);
    p.setBrush(Green);
    p.drawPolygon(arrow);
}

// A magnifying glass with a plus or a minus in its lens.
void Magnifier(QPainter &p, bool plus) {
    p.setPen(QPen(Gray, 3));
    p.drawLine(10, 10, 14, 14);
    p.setPen(Black);
    p.setBrush(White);
    p.drawEllipse(1, 1, 10, 10);
    p.setPen(QPen(Black, 2));
    p.drawLine(4, 6, 8, 6);
    if (plus) p.drawLine(6, 4, 6, 8);
}

// A spiral of the given number of turns around (cx, cy), growing to the radius.
QPolygonF Spiral(double cx, double cy, double radius, double turns) {
    QPolygonF points;
    const int steps = static_cast<int>(turns * 24);
    for (int i = 0; i <= steps; ++i) {
        const double angle = 2 * std::numbers::pi * turns * i / steps;
        const double r = radius * i / steps;
        points.append({cx + r * std::cos(angle), cy - r * std::sin(angle)});
    }
    return points;
}

}  // namespace

QImage ToolPicture(TToolPicture picture) {
    QImage image = Blank(16);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    switch (picture) {
        case TToolPicture::Home:
            p.setPen(Black);
            p.setBrush(Yellow);
            p.drawRect(3, 8, 9, 6);
            p.setBrush(DarkRed);
            p.drawPolygon(QPolygon({{1, 8}, {7, 1}, {8, 1}, {14, 8}}));
            p.fillRect(7, 10, 2, 5, DarkBlue);
            break;
        case TToolPicture::Back:
            Arrow(p, false);
            break;
        case TToolPicture::Forward:
            Arrow(p, true);
            break;
        case TToolPicture::Stop:
            p.setPen(DarkRed);
            p.setBrush(Red);
            p.drawPolygon(
                QPolygon({{5, 1}, {10, 1}, {14, 5}, {14, 10}, {10, 14}, {5, 14}, {1, 10}, {1, 5}}));
            p.fillRect(4, 7, 8, 2, White);
            break;
        case TToolPicture::ZoomIn:
            Magnifier(p, true);
            break;
        case TToolPicture::ZoomOut:
            Magnifier(p, false);
            break;
        case TToolPicture::Exact:
            p.setPen(DarkBlue);
            p.drawEllipse(2, 2, 11, 11);
            p.drawLine(7, 0, 7, 15);
            p.drawLine(0, 7, 15, 7);
            p.fillRect(6, 6, 3, 3, Red);
            break;
        case TToolPicture::Fractal:
            p.setPen(DarkBlue);
            p.drawPolyline(Spiral(7.5, 7.5, 7, 2.5));
            p.fillRect(7, 7, 2, 2, Blue);
            break;
        case TToolPicture::Colors:
            p.setPen(Black);
            p.setBrush(Red);
            p.drawEllipse(1, 1, 8, 8);
            p.setBrush(Green);
            p.drawEllipse(6, 1, 8, 8);
            p.setBrush(Blue);
            p.drawEllipse(3, 6, 8, 8);
            break;
        case TToolPicture::Save:
            p.setPen(Black);
            p.setBrush(DarkCyan);
            p.drawRect(1, 1, 13, 13);
            p.fillRect(4, 2, 8, 5, White);
            p.fillRect(4, 10, 7, 4, Silver);
            p.fillRect(8, 11, 2, 2, DarkBlue);
            break;
    }
    return image;
}

QImage ProgramIcon() {
    QImage image = Blank(32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Black);
    p.setBrush(DarkBlue);
    p.drawRect(0, 0, 31, 31);
    p.setPen(QPen(Yellow, 2));
    p.drawPolyline(Spiral(15.5, 15.5, 13, 3));
    p.fillRect(14, 14, 3, 3, Cyan);
    p.fillRect(27, 3, 2, 2, White);
    p.fillRect(4, 26, 2, 2, DarkYellow);
    return image;
}
