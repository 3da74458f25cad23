// The precision parameters dialog: iteration limit, escape and convergence thresholds, block
// length and the start of the iteration.
#ifndef SPIRALIS_PREC_H
#define SPIRALIS_PREC_H

#include "dlgcommon.h"
#include "ui_prec.h"

class TViewerState;

// "Precision parameters": shows the fields of CurrentParams at every showing; OK reads them
// back, hands them to the filler and restarts the picture. The close box applies nothing.
class TPrecision : public TDialogForm {
    Q_OBJECT
  public:
    explicit TPrecision(TViewerState &state, QWidget *parent = nullptr);

  public slots:
    void OKClick();

  protected:
    void FormShow() override;

  private:
    TViewerState &state;
    Ui::TPrecision ui;
};

#endif  // SPIRALIS_PREC_H
