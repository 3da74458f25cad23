#include "ca.h"

TColorAdjustment::TColorAdjustment(QWidget *parent)
    : TFormulaDialog("cadjusts.dat", TFormula::Color, parent) {
    setupUi(this);
    BindControls(Expr, Comm, DispList);
}
