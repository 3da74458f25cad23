// The About box: the library's and the program's names and versions and the author's lines.
#ifndef SPIRALIS_ABOUT_H
#define SPIRALIS_ABOUT_H

#include "dlgcommon.h"
#include "ui_about.h"

class TAbout : public TDialogForm {
    Q_OBJECT
  public:
    explicit TAbout(QWidget *parent = nullptr);

  public slots:
    void OKClick();

  private:
    Ui::TAbout ui;
};

#endif  // SPIRALIS_ABOUT_H
