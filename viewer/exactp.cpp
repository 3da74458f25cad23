#include "exactp.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "state.h"

namespace {

// A decimal text's number as its significant digits and the power of ten of their point, "-25e-1"
// for "-0.0250" and "-2.5e-2" alike; "0" for every zero.
std::string Significant(const std::string &text) {
    size_t at = 0;
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    std::string digits;
    long long point = 0;  // the digits before the decimal point
    bool fraction = false;
    for (; at < text.size() && (std::isdigit(uint8_t(text[at])) || text[at] == '.'); ++at) {
        if (text[at] == '.') {
            fraction = true;
            continue;
        }
        digits += text[at];
        if (!fraction) ++point;
    }
    long long exponent = 0;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        const bool down = ++at < text.size() && text[at] == '-';
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
        for (; at < text.size() && std::isdigit(uint8_t(text[at])); ++at)
            exponent = std::min(exponent * 10 + (text[at] - '0'), 1000000000000LL);
        if (down) exponent = -exponent;
    }
    const size_t first = digits.find_first_not_of('0');
    if (first == std::string::npos) return "0";
    digits = digits.substr(first, digits.find_last_not_of('0') + 1 - first);
    return (negative ? "-" : "") + digits + "e" +
           std::to_string(point - static_cast<long long>(first) + exponent);
}

// True when a centre's text as typed holds more than its extended value gives back: it is
// another number than the value's shortest text.
bool HoldsMoreDigits(const QString &text, long double value) {
    return Significant(text.trimmed().toStdString()) !=
           Significant(ShortestText(value).toStdString());
}

}  // namespace

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
    ui.Mul->setText(FactorText(view.scale));
}

QString FactorText(const std::string &scale) {
    const std::string factor = quob::common::Quotient(kHomeScale, scale);
    if (factor.empty()) return FormatFixed(1, 2);  // no positive scale: the factor 1, as ever
    const long double value = quob::common::ExtendedOf(factor);
    return value < 1e36L ? FormatFixed(value, 2) : QString::fromStdString(factor);
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
    // Once for each number of them, not at every showing.
    const int32_t unattached = list->Unattached();
    if (unattached && unattached != unattachedTold) {
        const QString positions =
            unattached == 1 ? QString("1 saved position that no longer matches")
                            : QString("%1 saved positions that no longer match").arg(unattached);
        state.ShowGeneralInformation(QString("hotspots.digits holds the digits of %1 any entry "
                                             "of hotspots.dat; they are kept there")
                                         .arg(positions));
    }
    unattachedTold = unattached;
}

void TExactPosition::FormHide() { list.reset(); }

void TExactPosition::ShowTexts(const QString &re, const QString &im, const QString &scale) {
    ui.X->setText(re);
    ui.Y->setText(im);
    ui.Mul->setText(FactorText(scale.trimmed().toStdString()));
}

void TExactPosition::LoadClick() {
    const THotEntry *entry = GetSelected(ui.NameList, list.get());
    if (!entry) return;
    const long double re = quob::common::LoadExtended(entry->Re),
                      im = quob::common::LoadExtended(entry->Im),
                      scale = quob::common::LoadExtended(entry->Scale);
    const quob::common::PositionDigits &digits = list->Digits(SelectedIndex(ui.NameList));
    if (digits.empty()) {
        ShowView(re, im, ScaleToFactor(scale));
        return;
    }
    // A text that the digits lack is the record's value's.
    const auto text = [](const std::string &digits, long double value) {
        return digits.empty() ? ShortestText(value) : QString::fromStdString(digits);
    };
    ShowTexts(text(digits.re, re), text(digits.im, im), text(digits.scale, scale));
}

void TExactPosition::AddClick() {
    if (!list) return;
    long double re, im, scale;
    quob::common::ExactView texts;
    bool deep = false;
    try {
        deep = ReadView(re, im, scale, texts);
    } catch (const EConvertError &error) {
        state.ShowGeneralError(QString::fromUtf8(error.what()));
        return;
    }
    // Centres typed with more digits than the record keeps, and deep views, are kept as typed,
    // with the scale of the factor typed.
    const QString x = ui.X->text().trimmed(), y = ui.Y->text().trimmed();
    quob::common::PositionDigits digits;
    if (deep || HoldsMoreDigits(x, re) || HoldsMoreDigits(y, im))
        digits = {x.toStdString(), y.toStdString(),
                  texts.scale.empty() ? FormatGeneral(scale, 21).toStdString() : texts.scale};
    AddEntry(ui.NameList, list.get(), THotEntry::Make(ui.Name->text().toUtf8(), re, im, scale),
             digits);
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
