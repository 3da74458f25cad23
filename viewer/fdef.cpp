#include "fdef.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "gallery.h"

// Long enough to wait for a pause in the typing, short enough to feel immediate.
constexpr int kCheckDelay = 200;  // ms

TFormulaDialog::TFormulaDialog(TViewerState &state, const char *fileName, TFormula formula,
                               QWidget *parent)
    : TDialogForm(parent), state(state), fileName(fileName), formula(formula) {
    checkTimer.setSingleShot(true);
    checkTimer.setInterval(kCheckDelay);
    connect(&checkTimer, &QTimer::timeout, this, &TFormulaDialog::CheckExpr);
}

TFormulaDialog::~TFormulaDialog() = default;

void TFormulaDialog::BindControls(QLineEdit *expr, QLineEdit *comm, QListWidget *dispList,
                                  QLabel *status, QLabel *thumbnailBox, QPushButton *okScene) {
    exprEdit = expr;
    commEdit = comm;
    listBox = dispList;
    statusLine = status;
    this->okScene = okScene;
    thumbnail = std::make_unique<TThumbnail>(thumbnailBox, RendererBesideProgram());
    connect(exprEdit, &QLineEdit::textChanged, &checkTimer, qOverload<>(&QTimer::start));
    // The comment names the entry whose scene the gallery may keep.
    if (okScene)
        connect(commEdit, &QLineEdit::textChanged, &checkTimer, qOverload<>(&QTimer::start));
    importDialog =
        MakeImportDialog(this, "Import formulas from another list", "Formula lists (*.dat)");
    OnDoubleClick(listBox, [this] { DispListDblClick(); });
    FixInPlace();
}

void TFormulaDialog::FormShow() {
    list = std::make_unique<TExprList>(
        fileName, [this](const QString &message) { state.ShowGeneralError(message); });
    ShowEntries(listBox, *list);
    CheckExpr();
}

void TFormulaDialog::FormHide() {
    checkTimer.stop();
    thumbnail->Clear({});
    list.reset();
}

QByteArray TFormulaDialog::ExprText() const {
    char text[TExprEntry::TextSize];
    quob::common::StoreText(text, sizeof text, AsStringView(exprEdit->text().toUtf8()));
    return text;
}

bool TFormulaDialog::EntrySceneOf(quob::common::PictureSettings &scene, QString &file) const {
    return okScene && EntryScene(GalleryFolder, ExprText(), commEdit->text().toUtf8(), scene, file);
}

void TFormulaDialog::CheckExpr() {
    checkTimer.stop();
    const QByteArray text = ExprText();
    if (okScene) okScene->setEnabled(false);
    // An empty field is where every formula starts, not a fault.
    if (text.trimmed().isEmpty()) {
        statusLine->setText(QString("Type a %1 formula, or choose one in the list and press Load.")
                                .arg(formula == TFormula::Fractal ? "fractal" : "colour"));
        thumbnail->Clear("No picture: no formula yet");
        return;
    }
    const TFormulaCheck check = state.CheckFormula(formula, text);
    QString status = check.Message;
    quob::common::PictureSettings scene;
    QString file;
    if (check.Usable && EntrySceneOf(scene, file)) {
        okScene->setEnabled(true);
        status += QString(
                      "\nOK with its view and colouring: the colour formula, view (centre "
                      "%1, %2, scale %3) and precision of %4.")
                      .arg(QString::fromStdString(scene.centerReText),
                           QString::fromStdString(scene.centerImText),
                           QString::fromStdString(scene.scaleText), file);
    }
    statusLine->setText(status);
    if (check.Usable)
        thumbnail->Draw(state.PictureArguments(formula, text, thumbnail->Size()));
    else
        thumbnail->Clear("No picture: the filler cannot take this formula");
}

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
    const QString failure = state.ApplyFormula(formula, ExprText());
    // A text that the filler cannot take leaves the formula in force; the dialog stays open with
    // the text, to be corrected.
    if (!failure.isEmpty()) {
        state.ErrorMessageBox(failure);
        return;
    }
    hide();
}

void TFormulaDialog::CancelClick() { hide(); }

void TFormulaDialog::OKSceneClick() {
    quob::common::PictureSettings scene;
    QString file;
    if (!EntrySceneOf(scene, file)) return;  // Expr or Comm changed a moment ago
    const QString failure = state.ApplyScene(scene);
    if (!failure.isEmpty()) {
        state.ErrorMessageBox(
            QString("The scene of \"%1\" cannot be applied: %2.").arg(file, failure));
        return;
    }
    hide();
}

void TFormulaDialog::DispListDblClick() {
    LoadClick();
    OKClick();
}

TFractals::TFractals(TViewerState &state, QWidget *parent)
    : TFormulaDialog(state, "fractals.dat", TFormula::Fractal, parent) {
    ui.setupUi(this);
    BindControls(ui.Expr, ui.Comm, ui.DispList, ui.Status, ui.Thumbnail, ui.OKScene);
}
