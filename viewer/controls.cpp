#include "controls.h"

#include <QCoreApplication>
#include <QMouseEvent>

void (*ToolWindowPlacer)(TViewWindow *mainWindow) = nullptr;

TViewWindow::TViewWindow(QWidget *parent) : QMainWindow(parent) {}

void TViewWindow::moveEvent(QMoveEvent *event) {
    if (!QCoreApplication::closingDown() && ToolWindowPlacer) ToolWindowPlacer(this);
    QMainWindow::moveEvent(event);
}

TPanel::TPanel(QWidget *parent) : QFrame(parent) {}

void TPanel::resizeEvent(QResizeEvent *event) {
    QFrame::resizeEvent(event);
    emit OnResize();
}

TPaintBox::TPaintBox(QWidget *parent) : QWidget(parent) {
    setMouseTracking(true);
    // Every paint copies the whole picture: Qt need not clear the box first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPaintBox::paintEvent(QPaintEvent *) { emit OnPaint(); }

void TPaintBox::mousePressEvent(QMouseEvent *event) {
    const QPoint p = event->position().toPoint();
    emit OnMouseDown(p.x(), p.y());
}

void TPaintBox::mouseMoveEvent(QMouseEvent *event) {
    const QPoint p = event->position().toPoint();
    emit OnMouseMove(p.x(), p.y());
}

void TPaintBox::mouseReleaseEvent(QMouseEvent *event) {
    const QPoint p = event->position().toPoint();
    emit OnMouseUp(p.x(), p.y());
}

void TPaintBox::mouseDoubleClickEvent(QMouseEvent *event) {
    const QPoint p = event->position().toPoint();
    emit OnDblClick();
    emit OnMouseDown(p.x(), p.y());
}
