// The colour adjustment dialog: the twin of the fractal definition dialog (fdef.h) for the
// colour formula.
#ifndef SPIRALIS_CA_H
#define SPIRALIS_CA_H

#include "fdef.h"
#include "ui_ca.h"

// "Color adjustment": the colour formula, library "cadjusts.dat", change set ColoringChanged
// (which sends EscapeColor and EscapeTakesColor again as they stand).
class TColorAdjustment : public TFormulaDialog, public Ui::TColorAdjustment {
    Q_OBJECT
  public:
    explicit TColorAdjustment(QWidget *parent = nullptr);
};

#endif  // SPIRALIS_CA_H
