// The tool window: an always-on-top strip of ten buttons for the main window's commands, placed
// against the main window's client area and following its moves.
#ifndef SPIRALIS_TOOLWIN_H
#define SPIRALIS_TOOLWIN_H

#include <QWidget>

#include "ui_toolwin.h"

class QCloseEvent;

// A form that ignores the window-close message: neither the window system's close command nor
// its shortcut closes it. The application still closes it when it quits.
class TToolsForm : public QWidget {
    Q_OBJECT
  public:
    explicit TToolsForm(QWidget *parent = nullptr);

  protected:
    void closeEvent(QCloseEvent *event) override;
};

class TTools : public TToolsForm, public Ui::TTools {
    Q_OBJECT
  public:
    explicit TTools(QWidget *parent = nullptr);
    ~TTools() override;

  public slots:
    // Places the window: outer size 35 x 285, top left 2 pixels right of and below the main
    // window's client origin. The main window runs it again whenever it moves.
    void FormShow();

    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SpeedButton5Click();
    void SpeedButton6Click();
    void SpeedButton7Click();
    void SpeedButton8Click();
    void SpeedButton9Click();
    void SpeedButton10Click();

  protected:
    void showEvent(QShowEvent *event) override;
};

#endif  // SPIRALIS_TOOLWIN_H
