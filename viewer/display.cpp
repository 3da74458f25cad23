#include "display.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <utility>

TViewWindow::TViewWindow(QWidget *parent) : QMainWindow(parent) {}

void TViewWindow::moveEvent(QMoveEvent *event) {
    if (!QCoreApplication::closingDown()) emit Moved();
    QMainWindow::moveEvent(event);
}

TPanel::TPanel(QWidget *parent) : QFrame(parent) {}

void TPanel::resizeEvent(QResizeEvent *event) {
    QFrame::resizeEvent(event);
    emit OnResize();
}

TDisplay::TDisplay(QWidget *parent) : QWidget(parent) {
    setMouseTracking(true);
    // Every paint draws the whole picture: Qt need not clear the box first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

TDisplay::~TDisplay() = default;

void TDisplay::TakePicture(QImage picture) { this->picture = std::move(picture); }

void TDisplay::CreateHotSpot(int32_t x, int32_t y) {
    hotSpot = std::make_unique<TViewSpot>(x, y, this);
}

void TDisplay::DeleteHotSpot() { hotSpot.reset(); }

void TDisplay::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    if (!picture.isNull()) painter.drawImage(0, 0, picture);
    if (!note.isEmpty()) {
        // White on a dark band, legible over any picture.
        const QRect text = painter.fontMetrics().boundingRect(note).adjusted(-4, -2, 4, 2);
        const QRect band(4, height() - 4 - text.height(), text.width(), text.height());
        painter.fillRect(band, QColor(0, 0, 0, 160));
        painter.setPen(Qt::white);
        painter.drawText(band, Qt::AlignCenter, note);
    }
    if (hotSpot && hotSpot->Shown) hotSpot->PaintMarker(painter);
}

void TDisplay::mousePressEvent(QMouseEvent *event) {
    const QPoint p = event->position().toPoint();
    emit OnMouseDown(p.x(), p.y());
}

void TDisplay::mouseMoveEvent(QMouseEvent *event) {
    const QPoint p = event->position().toPoint();
    emit OnMouseMove(p.x(), p.y());
}

void TDisplay::mouseReleaseEvent(QMouseEvent *event) {
    const QPoint p = event->position().toPoint();
    emit OnMouseUp(p.x(), p.y());
}

void TDisplay::mouseDoubleClickEvent(QMouseEvent *event) {
    const QPoint p = event->position().toPoint();
    emit OnDblClick();
    emit OnMouseDown(p.x(), p.y());
}
