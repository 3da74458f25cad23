#include "fdef.h"

#include <QEvent>
#include <QHideEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QShowEvent>
#include <QStringList>
#include <cstring>

#include "dlgcommon.h"
#include "main.h"

// ---- Expression lists --------------------------------------------------------------------------

TExprList::TExprList(const char *fileName, QListWidget *listBox)
    : listBox(listBox), file(fileName, sizeof(TExprEntry), Capacity) {
    file.Read([this](const char *bytes) {
        TExprEntry record;
        std::memcpy(&record, bytes, sizeof record);
        Append(FieldText(record.Expression, TextSize), FieldText(record.Comment, TextSize));
    });
    // One rebuild after the whole file rather than one per record: the same lines, in linear
    // rather than quadratic time for a full list.
    ShowEntries();
}

TExprList::~TExprList() { file.Write(entries, count); }

bool TExprList::Append(const QByteArray &expression, const QByteArray &comment) {
    if (count >= Capacity) return false;
    StoreText(entries[count].Expression, TextSize, expression);
    StoreText(entries[count].Comment, TextSize, comment);
    ++count;
    return true;
}

void TExprList::AddEntry(const QByteArray &expression, const QByteArray &comment) {
    if (Append(expression, comment)) ShowEntries();
}

void TExprList::DeleteSelected() {
    const int32_t selected = SelectedIndex(listBox);
    if (selected < 0 || selected >= count) return;
    std::memmove(&entries[selected], &entries[selected + 1],
                 sizeof(TExprEntry) * size_t(count - 1 - selected));
    --count;
    std::memset(&entries[count], 0, sizeof(TExprEntry));
    ShowEntries();
}

bool TExprList::GetSelected(char expression[TextSize], char comment[TextSize]) const {
    const int32_t selected = SelectedIndex(listBox);
    if (selected < 0 || selected >= count) return false;
    std::memcpy(expression, entries[selected].Expression, TextSize);
    std::memcpy(comment, entries[selected].Comment, TextSize);
    return true;
}

void TExprList::ShowEntries() {
    QStringList lines;
    lines.reserve(count);
    char line[TextSize];
    for (int32_t i = 0; i < count; ++i) {
        const TExprEntry &entry = entries[i];
        StoreText(line, sizeof line,
                  FieldText(entry.Comment, TextSize) + " (" +
                      FieldText(entry.Expression, TextSize) + ")");
        lines.append(QString::fromUtf8(line));
    }
    listBox->clear();
    listBox->addItems(lines);
}

// ---- The formula dialogs -----------------------------------------------------------------------

TFormulaDialog::TFormulaDialog(const char *fileName, TFormula formula, QWidget *parent)
    : QDialog(parent), fileName(fileName), formula(formula) {}

TFormulaDialog::~TFormulaDialog() = default;  // a list still open is saved

void TFormulaDialog::BindControls(QLineEdit *expr, QLineEdit *comm, QListWidget *dispList) {
    exprEdit = expr;
    commEdit = comm;
    listBox = dispList;
    // Every double click in the list box, also below its last line.
    listBox->viewport()->installEventFilter(this);
    setFixedSize(size());
    CenterOnScreen(this);
}

void TFormulaDialog::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();  // not when the window system restores the window
}

void TFormulaDialog::hideEvent(QHideEvent *event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) FormHide();
}

bool TFormulaDialog::eventFilter(QObject *watched, QEvent *event) {
    if (watched == listBox->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        DispListDblClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TFormulaDialog::reject() { CancelClick(); }

void TFormulaDialog::FormShow() { list = std::make_unique<TExprList>(fileName, listBox); }

void TFormulaDialog::FormHide() { list.reset(); }

void TFormulaDialog::LoadClick() {
    if (!list) return;
    char expression[TExprList::TextSize], comment[TExprList::TextSize];
    if (!list->GetSelected(expression, comment)) return;
    exprEdit->setText(QString::fromUtf8(expression));
    commEdit->setText(QString::fromUtf8(comment));
}

void TFormulaDialog::AddClick() {
    if (list) list->AddEntry(exprEdit->text().toUtf8(), commEdit->text().toUtf8());
}

void TFormulaDialog::DeleteClick() {
    if (list) list->DeleteSelected();
}

void TFormulaDialog::OKClick() {
    // The library compiles the text during the update and keeps no pointer to it.
    char text[TExprList::TextSize];
    StoreText(text, sizeof text, exprEdit->text().toUtf8());
    SetFormula(text);
    Redraw(formula == TFormula::Fractal ? FractalChanged : ColoringChanged);
    SetFormula(nullptr);  // the formula fields are set only for the duration of an update
    // A text that does not compile leaves the formula in force and the reason in the library's
    // last error (every compilation records its code, 0 for success). The dialog stays open
    // with the text, to be corrected.
    if (Quob.GetLastError() != 0) {
        ErrorMessageBox(QString::fromUtf8(Quob.GetLastErrorEx()));
        return;
    }
    hide();
}

void TFormulaDialog::SetFormula(const char *text) {
    if (formula == TFormula::Fractal)
        CurrentParams.FractalFormula = text;
    else
        CurrentParams.ColorFormula = text;
}

void TFormulaDialog::CancelClick() { hide(); }

void TFormulaDialog::DispListDblClick() {
    LoadClick();
    OKClick();
}

TFractals::TFractals(QWidget *parent) : TFormulaDialog("fractals.dat", TFormula::Fractal, parent) {
    setupUi(this);
    BindControls(Expr, Comm, DispList);
}
