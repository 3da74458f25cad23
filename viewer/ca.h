// The colour adjustment dialog: the twin of the fractal definition dialog (fdef.h) for the
// colour formula.
#ifndef SPIRALIS_CA_H
#define SPIRALIS_CA_H

#include "fdef.h"
#include "ui_ca.h"

// "Color adjustment": the colour formula, library "cadjusts.dat"; its update sends EscapeColor
// and EscapeTakesColor again as they stand.
class TColorAdjustment : public TFormulaDialog {
    Q_OBJECT
  public:
    explicit TColorAdjustment(TViewerState &state, QWidget *parent = nullptr);

  private:
    Ui::TColorAdjustment ui;
};

#endif  // SPIRALIS_CA_H
