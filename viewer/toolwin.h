// The tool window: an always-on-top strip of ten buttons bound to commands of the main window,
// placed against the main window's client area and following its moves.
#ifndef SPIRALIS_TOOLWIN_H
#define SPIRALIS_TOOLWIN_H

#include <QWidget>

#include "ui_toolwin.h"

class QCloseEvent;
class QMainWindow;

// A form that ignores the window-close message: neither the window system's close command nor
// its shortcut closes it. The application still closes it when it quits.
class TToolsForm : public QWidget {
    Q_OBJECT
  public:
    explicit TToolsForm(QWidget *parent = nullptr);

  protected:
    void closeEvent(QCloseEvent *event) override;
};

class TTools : public TToolsForm {
    Q_OBJECT
  public:
    // Each button takes the action of its command from mainWindow (by the action's name): the
    // button is enabled, triggered and described as the action is. The window belongs to
    // mainWindow.
    explicit TTools(QMainWindow *mainWindow);

  public slots:
    // Places the window: outer size 35 x 285, top left 2 pixels right of and below the main
    // window's client origin. The main window runs it again whenever it moves.
    void FormShow();

  protected:
    void showEvent(QShowEvent *event) override;

  private:
    QMainWindow *const mainWindow;
    Ui::TTools ui;
};

#endif  // SPIRALIS_TOOLWIN_H
