// The colour adjustment dialog: the twin of the fractal definition dialog (fdef.h) for the
// colour formula.
#ifndef SPIRALIS_CA_H
#define SPIRALIS_CA_H

#include "fdef.h"
#include "ui_ca.h"

// "Color adjustment": the colour formula, library "cadjusts.dat"; its update sends EscapeColor
// and EscapeTakesColor again as they stand. Its status line also names the orbit inputs that the
// formula reads, what they cost, and what keeps them from it (TViewerState::CheckFormula).
class TColorAdjustment : public TFormulaDialog {
    Q_OBJECT
  public:
    explicit TColorAdjustment(TViewerState &state, QWidget *parent = nullptr);

  private:
    Ui::TColorAdjustment ui;
};

#endif  // SPIRALIS_CA_H
