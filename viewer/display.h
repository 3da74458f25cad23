// The view window and its display: the window class of the main window, the lowered panel that
// reports its resizes, and the paint box that shows the buffer's picture with the hot spot over it.
#ifndef SPIRALIS_DISPLAY_H
#define SPIRALIS_DISPLAY_H

#include <QFrame>
#include <QImage>
#include <QMainWindow>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "hotspot.h"

// The window class of the main window: Moved when it has moved and the application is not
// terminating, so that the tool window can place itself against it.
class TViewWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit TViewWindow(QWidget *parent = nullptr);

  signals:
    void Moved();

  protected:
    void moveEvent(QMoveEvent *event) override;
};

// A panel (lowered bevel) whose resize event runs a handler of the form: OnResize.
class TPanel : public QFrame {
    Q_OBJECT
  public:
    explicit TPanel(QWidget *parent = nullptr);

  signals:
    void OnResize();

  protected:
    void resizeEvent(QResizeEvent *event) override;
};

// The display: every paint draws the picture last taken and the hot spot, if there is one and it
// is shown. The picture is converted from the buffer once per update of the display, not on every
// paint (dragging the hot spot repaints many times a second). Mouse moves are delivered with or
// without a button down; a double click runs OnDblClick and then OnMouseDown, the order the
// display relies on (Qt delivers press, release, double click, release). Coordinates are in the
// display's pixels.
class TDisplay : public QWidget {
    Q_OBJECT
  public:
    explicit TDisplay(QWidget *parent = nullptr);
    ~TDisplay() override;

    // Shows the picture from now on.
    void TakePicture(QImage picture);
    // A line drawn over the picture's lower left corner, as the hot spot is (never part of the
    // picture); empty: none.
    void SetNote(const QString &note) { this->note = note; }
    const QString &Note() const { return note; }

    TViewSpot *HotSpot() const { return hotSpot.get(); }
    // A new hot spot at (x, y), drawn.
    void CreateHotSpot(int32_t x, int32_t y);
    // Removes the hot spot, which erases it.
    void DeleteHotSpot();

  signals:
    void OnMouseDown(int x, int y);
    void OnMouseMove(int x, int y);
    void OnMouseUp(int x, int y);
    void OnDblClick();

  protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

  private:
    QImage picture;
    QString note;
    std::unique_ptr<TViewSpot> hotSpot;
};

#endif  // SPIRALIS_DISPLAY_H
