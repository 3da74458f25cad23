// The fractal definition dialog, with the behaviour that it shares with its twin, the colour
// adjustment dialog (ca.h): a formula library and two edits, and OK that applies the formula.
#ifndef SPIRALIS_FDEF_H
#define SPIRALIS_FDEF_H

#include <QTimer>
#include <memory>

#include "dlgcommon.h"
#include "state.h"
#include "thumbnail.h"
#include "ui_fdef.h"

class QFileDialog;
class QLabel;
class QLineEdit;
class QPushButton;

// The dialog behaviour that TFractals and TColorAdjustment share: the list on the dialog's file
// while it is shown, Load, Add, Delete, Import..., and OK that applies Expr and closes the dialog
// once the formula compiles; until then the dialog shows the library's message and stays open, and
// the previous formula stays in force. The fractal dialog also offers, for an entry whose scene
// the gallery keeps (a starter formula, named by its comment), to apply that scene with it.
class TFormulaDialog : public TDialogForm {
    Q_OBJECT
  public:
    ~TFormulaDialog() override;  // a list still open is saved

    // The list while the dialog is shown, null while it is hidden.
    const TExprList *List() const { return list.get(); }

  public slots:
    void LoadClick();
    void AddClick();
    void DeleteClick();
    void ImportClick();
    void OKClick();
    void CancelClick();
    // Applies Expr with the colour formula, view and precision of the gallery's scene of the
    // entry (Comm names it) as Load picture applies a scene, and closes the dialog.
    void OKSceneClick();
    void DispListDblClick();
    // The status line and the thumbnail for the text of Expr.
    void CheckExpr();

  protected:
    TFormulaDialog(TViewerState &state, const char *fileName, TFormula formula, QWidget *parent);
    // Takes the form's controls once setupUi has made them; the fractal dialog's button that
    // applies an entry with its scene, none in the colour dialog.
    void BindControls(QLineEdit *expr, QLineEdit *comm, QListWidget *dispList, QLabel *status,
                      QLabel *thumbnailBox, QPushButton *okScene = nullptr);
    void FormShow() override;
    void FormHide() override;

  private:
    // The text of Expr as OK applies it: at most 1024 bytes, as a list's field holds it.
    QByteArray ExprText() const;
    // The gallery's scene of the entry that Expr and Comm hold, and its file; false for none.
    bool EntrySceneOf(quob::common::PictureSettings &scene, QString &file) const;

    TViewerState &state;
    const char *const fileName;
    const TFormula formula;
    QLineEdit *exprEdit = nullptr;
    QLineEdit *commEdit = nullptr;
    QListWidget *listBox = nullptr;
    QFileDialog *importDialog = nullptr;
    QLabel *statusLine = nullptr;
    QPushButton *okScene = nullptr;
    std::unique_ptr<TThumbnail> thumbnail;
    QTimer checkTimer;  // single shot, restarted by every edit
    std::unique_ptr<TExprList> list;
};

// "Fractal definition": the fractal formula, library "fractals.dat".
class TFractals : public TFormulaDialog {
    Q_OBJECT
  public:
    explicit TFractals(TViewerState &state, QWidget *parent = nullptr);

  private:
    Ui::TFractals ui;
};

#endif  // SPIRALIS_FDEF_H
