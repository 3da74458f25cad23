#include "prec.h"

#include <QShowEvent>

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

// The steps of OK up to the conversion error that may end them: what was stored before the
// error stays stored, but nothing reaches the library.
void TPrecision::Apply() {
    CurrentParams.Differential = static_cast<float>(ReadReal(dR->text()));
    CurrentParams.MaxModule = static_cast<float>(ReadReal(MaxR->text()));
    CurrentParams.IterationsLimit = ReadInteger(N->text());
    CurrentParams.BlockLength = ReadInteger(Cycle->text());
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
