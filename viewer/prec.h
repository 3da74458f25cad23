// The precision parameters dialog: iteration limit, escape and convergence thresholds, block
// length and the start of the iteration.
#ifndef SPIRALIS_PREC_H
#define SPIRALIS_PREC_H

#include <QDialog>

#include "ui_prec.h"

// "Precision parameters": shows the fields of CurrentParams at every showing; OK reads them
// back, hands them to the filler and restarts the picture. The close box applies nothing.
class TPrecision : public QDialog, public Ui::TPrecision {
    Q_OBJECT
  public:
    explicit TPrecision(QWidget *parent = nullptr);

  public slots:
    void FormShow();
    void OKClick();

  protected:
    void showEvent(QShowEvent *event) override;

  private:
    void Apply();
};

#endif  // SPIRALIS_PREC_H
