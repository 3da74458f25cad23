#include "exactp.h"

#include "state.h"

long double ScaleToFactor(long double scale) { return scale > 0 ? kHomeScale / scale : 1.0L; }

long double FactorToScale(long double factor) { return factor > 0 ? kHomeScale / factor : 1.0L; }

TExactPosition::TExactPosition(TViewerState &state, QWidget *parent)
    : TDialogForm(parent),
      state(state),
      importDialog(MakeImportDialog(this, "Import saved positions from another list",
                                    "Position lists (*.dat)")) {
    ui.setupUi(this);
    OnDoubleClick(ui.NameList, [this] { NameListClick(); });
    FixInPlace();
}

TExactPosition::~TExactPosition() = default;

void TExactPosition::ShowView(long double re, long double im, long double factor) {
    ui.X->setText(FormatFixed(re, 15));
    ui.Y->setText(FormatFixed(im, 15));
    ui.Mul->setText(FormatFixed(factor, 2));
}

void TExactPosition::ShowView(const quob::common::ExactView &view) {
    ui.X->setText(QString::fromStdString(view.re));
    ui.Y->setText(QString::fromStdString(view.im));
    ui.Mul->setText(QString::fromStdString(quob::common::Quotient(kHomeScale, view.scale)));
}

void TExactPosition::ReadView(long double &re, long double &im, long double &scale) const {
    constexpr long double largestCentre = std::numeric_limits<double>::max();  // a double's
    re = ReadReal(ui.X->text(), "Re(z)", largestCentre);
    im = ReadReal(ui.Y->text(), "Im(z)", largestCentre);
    scale = FactorToScale(ReadReal(ui.Mul->text(), "Scale factor"));
}

bool TExactPosition::ReadView(long double &re, long double &im, long double &scale,
                              quob::common::ExactView &texts) const {
    ReadView(re, im, scale);
    const std::string factor = ui.Mul->text().trimmed().toStdString();
    texts = {ui.X->text().trimmed().toStdString(), ui.Y->text().trimmed().toStdString(),
             quob::common::Quotient(kHomeScale, factor)};
    // A factor that is no positive number reads as the scale 1, as ever.
    if (texts.scale.empty()) return false;
    return quob::common::BeyondExtended(texts) ||
           quob::common::NeedsDeep(texts, state.DrawnHeight());
}

void TExactPosition::FormShow() {
    const QUOB_FillerParams &view = state.CurrentParams();
    if (state.ViewHasTexts())
        ShowView(state.View());  // every digit
    else
        ShowView(view.CenterRe, view.CenterIm, kHomeScale / static_cast<long double>(view.Scale));
    ui.X->setFocus();  // each time it is shown the dialog starts at the centre's first edit
    list = std::make_unique<THotList>(
        "hotspots.dat", [this](const QString &message) { state.ShowGeneralError(message); });
    ShowEntries(ui.NameList, *list);
}

void TExactPosition::FormHide() { list.reset(); }

void TExactPosition::LoadClick() {
    if (const THotEntry *entry = GetSelected(ui.NameList, list.get()))
        ShowView(quob::common::LoadExtended(entry->Re), quob::common::LoadExtended(entry->Im),
                 ScaleToFactor(quob::common::LoadExtended(entry->Scale)));
}

void TExactPosition::AddClick() {
    if (!list) return;
    long double re, im, scale;
    try {
        ReadView(re, im, scale);
    } catch (const EConvertError &error) {
        state.ShowGeneralError(QString::fromUtf8(error.what()));
        return;
    }
    AddEntry(ui.NameList, list.get(), THotEntry::Make(ui.Name->text().toUtf8(), re, im, scale));
}

void TExactPosition::DeleteClick() { DeleteSelected(ui.NameList, list.get()); }

void TExactPosition::ImportClick() { ImportEntries(importDialog, ui.NameList, list.get()); }

void TExactPosition::OKClick() {
    long double re, im, scale;
    quob::common::ExactView texts;
    bool digits = false;
    try {
        digits = ReadView(re, im, scale, texts);
    } catch (const EConvertError &error) {
        state.ShowGeneralError(QString::fromUtf8(error.what()));
        return;  // the dialog stays open, the view as it was
    }
    // A jump: the history stays as it is.
    if (digits)
        state.JumpTo(texts);
    else
        state.JumpTo(re, im, scale);
    hide();
}

void TExactPosition::CancelClick() { hide(); }

void TExactPosition::NameListClick() {
    LoadClick();
    OKClick();
}
