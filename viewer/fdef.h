// The formula libraries ("fractals.dat", "cadjusts.dat") and the fractal definition dialog, with
// the behaviour that it shares with its twin, the colour adjustment dialog (ca.h).
#ifndef SPIRALIS_FDEF_H
#define SPIRALIS_FDEF_H

#include <QByteArray>
#include <QDialog>
#include <cstdint>
#include <memory>

#include "datafiles.h"
#include "ui_fdef.h"

class QLineEdit;
class QListWidget;

// One expression entry, also the 2050-byte record of the files: two NUL-terminated UTF-8 texts.
struct TExprEntry {
    char Expression[1025];
    char Comment[1025];
};
static_assert(sizeof(TExprEntry) == 2050);

// A formula library of one kind, bound to a list box whose line i shows entry i. It lives while
// its dialog is shown: creating it reads its file, destroying it writes the file back whole.
class TExprList {
  public:
    static constexpr int32_t Capacity = 4097;
    static constexpr size_t TextSize = sizeof(TExprEntry::Expression);

    // Reads the file (a missing or unreadable one is an empty list) and fills the list box.
    TExprList(const char *fileName, QListWidget *listBox);
    // Rewrites the file with the whole list (see TListFile::Write).
    virtual ~TExprList();
    TExprList(const TExprList &) = delete;
    TExprList &operator=(const TExprList &) = delete;

    // Appends the pair, each text cut to 1024 bytes on a character boundary. A full list
    // refuses the entry.
    void AddEntry(const QByteArray &expression, const QByteArray &comment);
    // Removes the entry selected in the list box, if any.
    void DeleteSelected();
    // Copies the selected entry's texts out; false when no line is selected.
    bool GetSelected(char expression[TextSize], char comment[TextSize]) const;
    // Rebuilds the list box: one line per entry, entry 0 first, no selection.
    void ShowEntries();

    int32_t Count() const { return count; }

  private:
    bool Append(const QByteArray &expression, const QByteArray &comment);

    TExprEntry entries[Capacity] = {};
    int32_t count = 0;
    QListWidget *const listBox;
    TListFile file;
};

// The dialog behaviour that TFractals and TColorAdjustment share: the list on the dialog's file
// while it is shown, Load, Add, Delete, and OK that hands Expr to the filler through Redraw and
// closes the dialog once the formula compiles; until then the dialog shows the library's message
// and stays open, and the previous formula stays in force.
class TFormulaDialog : public QDialog {
    Q_OBJECT
  public:
    enum class TFormula { Fractal, Color };

    ~TFormulaDialog() override;

    // The list while the dialog is shown, null while it is hidden.
    TExprList *List() const { return list.get(); }

  public slots:
    void FormShow();
    void FormHide();
    void LoadClick();
    void AddClick();
    void DeleteClick();
    void OKClick();
    void CancelClick();
    void DispListDblClick();

  protected:
    TFormulaDialog(const char *fileName, TFormula formula, QWidget *parent);
    // Hands the form's controls over once setupUi has made them.
    void BindControls(QLineEdit *expr, QLineEdit *comm, QListWidget *dispList);

    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void reject() override;  // Esc and the close box

  private:
    void SetFormula(const char *text);

    const char *const fileName;
    const TFormula formula;
    QLineEdit *exprEdit = nullptr;
    QLineEdit *commEdit = nullptr;
    QListWidget *listBox = nullptr;
    std::unique_ptr<TExprList> list;
};

// "Fractal definition": the fractal formula, library "fractals.dat", change set FractalChanged.
class TFractals : public TFormulaDialog, public Ui::TFractals {
    Q_OBJECT
  public:
    explicit TFractals(QWidget *parent = nullptr);
};

#endif  // SPIRALIS_FDEF_H
