#include "prec.h"

#include <QShowEvent>
#include <limits>

#include "dlgcommon.h"
#include "main.h"

TPrecision::TPrecision(QWidget *parent) : QDialog(parent) {
    setupUi(this);
    setFixedSize(size());
    CenterOnScreen(this);
}

void TPrecision::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();  // not when the window system restores the window
}

void TPrecision::FormShow() {
    MaxR->setText(FormatFixed(CurrentParams.MaxModule, 5));
    dR->setText(FormatFixed(CurrentParams.Differential, 5));
    N->setText(QString::number(CurrentParams.IterationsLimit));
    Cycle->setText(QString::number(CurrentParams.BlockLength));
    (CurrentParams.RecursionInit ? Zero : CurrP)->setChecked(true);
}

// The steps of OK. Every edit is read before anything is stored, so a conversion error, which
// ends them, leaves the settings as they were.
void TPrecision::Apply() {
    constexpr long double largest = std::numeric_limits<float>::max();
    const auto differential = static_cast<float>(ReadReal(dR->text(), "Differential", largest));
    const auto maxModule = static_cast<float>(ReadReal(MaxR->text(), "Max. module", largest));
    const int32_t iterationsLimit = ReadInteger(N->text());
    const int32_t blockLength = ReadInteger(Cycle->text());
    CurrentParams.Differential = differential;
    CurrentParams.MaxModule = maxModule;
    CurrentParams.IterationsLimit = iterationsLimit;
    CurrentParams.BlockLength = blockLength;
    CurrentParams.RecursionInit = Zero->isChecked() ? 1 : 0;
    // The redraw procedure with two updates: the block length after the other fields.
    Quob.IBufferMessage(BufferHandle, QUOB_MSG_STOP);
    Quob.UpdateFiller(FillerHandle, &CurrentParams, PrecisionChanged);
    Quob.UpdateFiller(FillerHandle, &CurrentParams, BlockLengthChanged);
    Quob.IBufferMessage(BufferHandle, RedrawMessage);
    if (MainWin) MainWin->StartDisplay();
    hide();
}

void TPrecision::OKClick() {
    // The conversion error goes to the general error display here, at the handler's edge:
    // exceptions must not unwind through Qt's signal delivery.
    try {
        Apply();
    } catch (const EConvertError &error) {
        ShowGeneralError(QString::fromUtf8(error.what()));
    }
}
