#include "prec.h"

#include "state.h"

TPrecision::TPrecision(TViewerState &state, QWidget *parent) : TDialogForm(parent), state(state) {
    ui.setupUi(this);
    FixInPlace();
}

void TPrecision::FormShow() {
    const QUOB_FillerParams &params = state.CurrentParams();
    ui.MaxR->setText(FormatFixed(params.MaxModule, 5));
    ui.dR->setText(FormatFixed(params.Differential, 5));
    ui.N->setText(QString::number(params.IterationsLimit));
    ui.Cycle->setText(QString::number(params.BlockLength));
    (params.RecursionInit ? ui.Zero : ui.CurrP)->setChecked(true);
}

void TPrecision::OKClick() {
    // Every edit is read before anything is applied, so a conversion error leaves the settings
    // as they were. It goes to the general error display here, at the handler's edge: exceptions
    // must not unwind through Qt's signal delivery.
    constexpr long double largest = std::numeric_limits<float>::max();
    TPrecisionValues values;
    try {
        values.Differential = static_cast<float>(ReadReal(ui.dR->text(), "Differential", largest));
        values.MaxModule = static_cast<float>(ReadReal(ui.MaxR->text(), "Max. module", largest));
        values.IterationsLimit = ReadInteger(ui.N->text());
        values.BlockLength = ReadInteger(ui.Cycle->text());
    } catch (const EConvertError &error) {
        state.ShowGeneralError(QString::fromUtf8(error.what()));
        return;
    }
    values.RecursionInit = ui.Zero->isChecked() ? 1 : 0;
    state.ApplyPrecision(values);
    hide();
}
