#include "exactp.h"

#include <QEvent>
#include <QHideEvent>
#include <QListWidget>
#include <QShowEvent>
#include <QStringList>
#include <cstring>

#include "dlgcommon.h"
#include "main.h"

long double LoadExtended(const TExtended &bytes) {
    long double value = 0;  // the bytes beyond the ten of the format stay zero
    std::memcpy(&value, bytes, sizeof bytes);
    return value;
}

void StoreExtended(TExtended &bytes, long double value) {
    std::memcpy(bytes, &value, sizeof bytes);
}

// ---- Saved positions ---------------------------------------------------------------------------

THotList::THotList(const char *fileName, QListWidget *listBox)
    : listBox(listBox), file(fileName, sizeof(THotEntry), Capacity) {
    file.Read([this](const char *bytes) {
        THotEntry record;
        std::memcpy(&record, bytes, sizeof record);
        Append(record);
    });
    ShowEntries();  // once, after the whole file
}

THotList::~THotList() { file.Write(entries, count); }

bool THotList::Append(const THotEntry &entry) {
    if (count >= Capacity) return false;
    THotEntry &to = entries[count];
    std::memcpy(to.Re, entry.Re, sizeof to.Re);
    std::memcpy(to.Im, entry.Im, sizeof to.Im);
    std::memcpy(to.Scale, entry.Scale, sizeof to.Scale);
    StoreText(to.Comment, CommentSize, FieldText(entry.Comment, CommentSize));
    ++count;
    return true;
}

void THotList::AddEntry(const QByteArray &comment, long double re, long double im,
                        long double scale) {
    THotEntry entry = {};
    StoreExtended(entry.Re, re);
    StoreExtended(entry.Im, im);
    StoreExtended(entry.Scale, scale);
    StoreText(entry.Comment, CommentSize, comment);
    if (Append(entry)) ShowEntries();
}

void THotList::DeleteSelected() {
    const int32_t selected = SelectedIndex(listBox);
    if (selected < 0 || selected >= count) return;
    std::memmove(&entries[selected], &entries[selected + 1],
                 sizeof(THotEntry) * size_t(count - 1 - selected));
    --count;
    std::memset(&entries[count], 0, sizeof(THotEntry));
    ShowEntries();
}

bool THotList::GetSelected(long double &re, long double &im, long double &scale) const {
    const int32_t selected = SelectedIndex(listBox);
    if (selected < 0 || selected >= count) return false;
    re = LoadExtended(entries[selected].Re);
    im = LoadExtended(entries[selected].Im);
    scale = LoadExtended(entries[selected].Scale);
    return true;
}

void THotList::ShowEntries() {
    QStringList lines;
    lines.reserve(count);
    for (int32_t i = 0; i < count; ++i)
        lines.append(QString::fromUtf8(FieldText(entries[i].Comment, CommentSize)));
    listBox->clear();
    listBox->addItems(lines);
}

long double ScaleToFactor(long double scale) { return scale > 0 ? HomeScale / scale : 1.0L; }

long double FactorToScale(long double factor) { return factor > 0 ? HomeScale / factor : 1.0L; }

// ---- The exact position dialog -----------------------------------------------------------------

TExactPosition::TExactPosition(QWidget *parent) : QDialog(parent) {
    setupUi(this);
    NameList->viewport()->installEventFilter(this);  // every double click, also below the lines
    setFixedSize(size());
    CenterOnScreen(this);
}

TExactPosition::~TExactPosition() = default;  // a list still open is saved

void TExactPosition::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();  // not when the window system restores the window
}

void TExactPosition::hideEvent(QHideEvent *event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) FormHide();
}

bool TExactPosition::eventFilter(QObject *watched, QEvent *event) {
    if (watched == NameList->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        NameListClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TExactPosition::reject() { CancelClick(); }

void TExactPosition::ShowView(long double re, long double im, long double factor) {
    X->setText(FormatFixed(re, 15));
    Y->setText(FormatFixed(im, 15));
    Mul->setText(FormatFixed(factor, 2));
}

void TExactPosition::ReadView(long double &re, long double &im, long double &scale) const {
    constexpr long double largestCentre = std::numeric_limits<double>::max();  // a double's
    re = ReadReal(X->text(), "Re(z)", largestCentre);
    im = ReadReal(Y->text(), "Im(z)", largestCentre);
    scale = FactorToScale(ReadReal(Mul->text(), "Scale factor"));
}

void TExactPosition::FormShow() {
    ShowView(CurrentParams.CenterRe, CurrentParams.CenterIm,
             HomeScale / static_cast<long double>(CurrentParams.Scale));
    list = std::make_unique<THotList>("hotspots.dat", NameList);
}

void TExactPosition::FormHide() { list.reset(); }

void TExactPosition::LoadClick() {
    long double re, im, scale;
    if (list && list->GetSelected(re, im, scale)) ShowView(re, im, ScaleToFactor(scale));
}

void TExactPosition::AddClick() {
    if (!list) return;
    long double re, im, scale;
    try {
        ReadView(re, im, scale);
    } catch (const EConvertError &error) {
        ShowGeneralError(QString::fromUtf8(error.what()));
        return;
    }
    list->AddEntry(Name->text().toUtf8(), re, im, scale);
}

void TExactPosition::DeleteClick() {
    if (list) list->DeleteSelected();
}

void TExactPosition::OKClick() {
    long double re, im, scale;
    try {
        ReadView(re, im, scale);
    } catch (const EConvertError &error) {
        ShowGeneralError(QString::fromUtf8(error.what()));
        return;  // the dialog stays open, the view as it was
    }
    CurrentParams.CenterRe = static_cast<double>(re);
    CurrentParams.CenterIm = static_cast<double>(im);
    CurrentParams.Scale = static_cast<double>(scale);
    Redraw(ViewChanged);  // a jump: the history stays as it is
    hide();
}

void TExactPosition::CancelClick() { hide(); }

void TExactPosition::NameListClick() {
    LoadClick();
    OKClick();
}
