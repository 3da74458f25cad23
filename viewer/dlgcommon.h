// What the dialogs share: their behaviour as forms, the lines of their list boxes, the fixed-point
// display of numbers and the readers of real and whole-number edits.
#ifndef SPIRALIS_DLGCOMMON_H
#define SPIRALIS_DLGCOMMON_H

#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QListWidget>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>

#include "datafiles.h"

// A dialog of the viewer, created once and shown and hidden as needed: of fixed size in the
// centre of the screen, FormShow when the program shows it and FormHide when the program hides it
// (by OK, Cancel, Esc or the close box), not when the window system minimises or restores it.
class TDialogForm : public QDialog {
    Q_OBJECT
  protected:
    explicit TDialogForm(QWidget *parent);
    // Fits the texts of the form that setupUi made (FitTexts), then fixes its size and centres
    // it.
    void FixInPlace();
    virtual void FormShow() {}
    virtual void FormHide() {}

    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
};

// Gives every label and button of a form laid out by position (not by a layout) the size its
// text needs in the form's font, where the form's own size for it is smaller: the control
// widens, the controls right of it in its rows (and those aligned under them) move right by as
// much, fields and lists that reach across its right edge widen with it, and the panels and the
// form grow to keep their margins. Controls of one column (the same left edge and width) widen
// alike, so the fields beside them stay aligned; a label of one line that may wrap takes the width
// of its line. Positions, order and keyboard order stay as they were where every text fits.
void FitTexts(QWidget *form);

// Runs handler on every double click in the list box, also below its last line.
void OnDoubleClick(QListWidget *listBox, std::function<void()> handler);

// The index of the selected line of a list box, -1 when no line is selected.
int32_t SelectedIndex(const QListWidget *listBox);

// A stored list (TExprList or THotList) as its dialog's list box shows it: line i shows entry i,
// and the selection addresses an entry. Every change rebuilds the list box, which then has no
// selection.
template <class TList>
void ShowEntries(QListWidget *listBox, const TList &list) {
    QStringList lines;
    lines.reserve(list.Count());
    for (int32_t i = 0; i < list.Count(); ++i) lines.append(DisplayLine(list.Entry(i)));
    listBox->clear();
    listBox->addItems(lines);
}

// The entry selected in the list box; null when no line is selected (or there is no list).
template <class TList>
auto GetSelected(const QListWidget *listBox, const TList *list) -> decltype(&list->Entry(0)) {
    const int32_t selected = list ? SelectedIndex(listBox) : -1;
    return selected >= 0 && selected < list->Count() ? &list->Entry(selected) : nullptr;
}

// Appends the entry (for a position, with its digits when given).
template <class TList, class... TEntry>
void AddEntry(QListWidget *listBox, TList *list, const TEntry &...entry) {
    if (list && list->Add(entry...)) ShowEntries(listBox, *list);
}

// The dialog that asks for the file whose entries "Import..." appends to a list: Qt's own, the
// same for the user and the tests, an existing file of the given types.
QFileDialog *MakeImportDialog(QWidget *parent, const QString &caption, const QString &filter);

// Qt's own file dialog on every desktop, the same for the user and the tests. The completion list
// of its file name edit, which fills in as the folder's listing arrives, shows only while the
// dialog does: one left open when a name typed in full is taken with Return, or shown after the
// dialog has closed, would take the keyboard from the program.
void UseOwnFileDialog(QFileDialog *dialog);

// "Import...": asks for a file with the chooser and appends its entries that the list lacks.
template <class TList>
void ImportEntries(QFileDialog *chooser, QListWidget *listBox, TList *list) {
    if (!list || chooser->exec() != QDialog::Accepted) return;
    for (const QString &file : chooser->selectedFiles()) list->Import(QFile::encodeName(file));
    ShowEntries(listBox, *list);
}

template <class TList>
void DeleteSelected(QListWidget *listBox, TList *list) {
    if (!GetSelected(listBox, list)) return;
    list->Delete(SelectedIndex(listBox));
    ShowEntries(listBox, *list);
}

// Fixed-point notation with the given number of decimals, in the C locale; magnitudes of 1e36
// and more in exponent notation with as many decimals.
QString FormatFixed(long double value, int decimals);
// The value with the given number of significant digits ("%.*Lg"), in the C locale.
QString FormatGeneral(long double value, int digits);
// The shortest text of FormatGeneral that reads back as the value: 21 digits at most, which every
// finite extended value needs at most.
QString ShortestText(long double value);

// The conversion errors of the dialogs' edits, which name the text that does not read.
class EConvertError : public std::runtime_error {
  public:
    explicit EConvertError(const QString &message);
};

// A decimal real for the field named field: optional blanks, optional sign, digits with an
// optional decimal point and fraction, optional exponent ("E" or "e", optional sign, digits),
// optional trailing blanks. Throws EConvertError ("<field>: '%s' is not a valid floating point
// value") for any other text, the empty one included, and for a magnitude above largest, the
// greatest finite value of the field's type.
long double ReadReal(const QString &text, const QString &field,
                     long double largest = std::numeric_limits<long double>::max());

// A whole number: optional leading blanks, optional sign, then decimal digits or "$" and
// hexadecimal digits; nothing may follow, and the value must fit a signed 32-bit integer.
// Throws EConvertError ("'%s' is not a valid integer value") otherwise.
int32_t ReadInteger(const QString &text);

#endif  // SPIRALIS_DLGCOMMON_H
