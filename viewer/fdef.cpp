#include "fdef.h"

#include <QLineEdit>
#include <QListWidget>

TFormulaDialog::TFormulaDialog(TViewerState &state, const char *fileName, TFormula formula,
                               QWidget *parent)
    : TDialogForm(parent), state(state), fileName(fileName), formula(formula) {}

TFormulaDialog::~TFormulaDialog() = default;

void TFormulaDialog::BindControls(QLineEdit *expr, QLineEdit *comm, QListWidget *dispList) {
    exprEdit = expr;
    commEdit = comm;
    listBox = dispList;
    importDialog =
        MakeImportDialog(this, "Import formulas from another list", "Formula lists (*.dat)");
    OnDoubleClick(listBox, [this] { DispListDblClick(); });
    FixInPlace();
}

void TFormulaDialog::FormShow() {
    list = std::make_unique<TExprList>(
        fileName, [this](const QString &message) { state.ShowGeneralError(message); });
    ShowEntries(listBox, *list);
}

void TFormulaDialog::FormHide() { list.reset(); }

void TFormulaDialog::LoadClick() {
    if (const TExprEntry *entry = GetSelected(listBox, list.get())) {
        exprEdit->setText(QString::fromUtf8(entry->Expression));
        commEdit->setText(QString::fromUtf8(entry->Comment));
    }
}

void TFormulaDialog::AddClick() {
    AddEntry(listBox, list.get(),
             TExprEntry::Make(exprEdit->text().toUtf8(), commEdit->text().toUtf8()));
}

void TFormulaDialog::DeleteClick() { DeleteSelected(listBox, list.get()); }

void TFormulaDialog::ImportClick() { ImportEntries(importDialog, listBox, list.get()); }

void TFormulaDialog::OKClick() {
    // At most 1024 bytes, as a list's field holds it.
    char text[TExprEntry::TextSize];
    StoreText(text, sizeof text, exprEdit->text().toUtf8());
    const QString failure = state.ApplyFormula(formula, text);
    // A text that does not compile leaves the formula in force; the dialog stays open with the
    // text, to be corrected.
    if (!failure.isEmpty()) {
        state.ErrorMessageBox(failure);
        return;
    }
    hide();
}

void TFormulaDialog::CancelClick() { hide(); }

void TFormulaDialog::DispListDblClick() {
    LoadClick();
    OKClick();
}

TFractals::TFractals(TViewerState &state, QWidget *parent)
    : TFormulaDialog(state, "fractals.dat", TFormula::Fractal, parent) {
    ui.setupUi(this);
    BindControls(ui.Expr, ui.Comm, ui.DispList);
}
