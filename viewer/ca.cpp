#include "ca.h"

TColorAdjustment::TColorAdjustment(TViewerState &state, QWidget *parent)
    : TFormulaDialog(state, "cadjusts.dat", TFormula::Color, parent) {
    ui.setupUi(this);
    BindControls(ui.Expr, ui.Comm, ui.DispList, ui.Status, ui.Thumbnail);
}
