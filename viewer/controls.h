// The two framework controls the main window's form needs beyond Qt's own: a panel that reports
// its resizes and a paint box that hands its paint and mouse events to the form's handlers.
#ifndef SPIRALIS_CONTROLS_H
#define SPIRALIS_CONTROLS_H

#include <QFrame>
#include <QMainWindow>
#include <QWidget>

// The window class of the main window: when it has moved, and the application is not
// terminating, the tool window places itself against it. ToolWindowPlacer is that tool window's
// placement, set while the tool window exists and null otherwise.
class TViewWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit TViewWindow(QWidget *parent = nullptr);

  protected:
    void moveEvent(QMoveEvent *event) override;
};

extern void (*ToolWindowPlacer)(TViewWindow *mainWindow);

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

// A paint box: no colour of its own, mouse moves delivered with or without a button down.
// A double click runs OnDblClick and then OnMouseDown, the order the display relies on (Qt
// delivers press, release, double click, release). Coordinates are in the box's pixels.
class TPaintBox : public QWidget {
    Q_OBJECT
  public:
    explicit TPaintBox(QWidget *parent = nullptr);

  signals:
    void OnPaint();  // connected handlers may open a QPainter on the box
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
};

#endif  // SPIRALIS_CONTROLS_H
