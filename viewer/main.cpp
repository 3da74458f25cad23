#include "main.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QShowEvent>
#include <QTimer>
#include <QUrl>
#include <utility>

#include "about.h"
#include "ca.h"
#include "dlgcommon.h"
#include "exactp.h"
#include "fdef.h"
#include "help.h"
#include "icons.h"
#include "prec.h"
#include "state.h"
#include "toolwin.h"

TMainWin::TMainWin(TViewerState &state, QWidget *parent)
    : TViewWindow(parent),
      state(state),
      DisplayTimer(new QTimer(this)),
      SaveAsBmp(new QFileDialog(this, "Save current image in bmp format (True color)")),
      LoadPng(new QFileDialog(this, "Load a picture with its scene")) {
    ui.setupUi(this);
    // The pictures of the commands that the tool window's buttons show; the menu shows none.
    const std::pair<QAction *, TToolPicture> pictures[] = {
        {ui.Home1, TToolPicture::Home},
        {ui.Back1, TToolPicture::Back},
        {ui.Defaultview1, TToolPicture::Forward},
        {ui.Stop1, TToolPicture::Stop},
        {ui.Zoomin1, TToolPicture::ZoomIn},
        {ui.Zoomout1, TToolPicture::ZoomOut},
        {ui.Exactposition1, TToolPicture::Exact},
        {ui.Fractal1, TToolPicture::Fractal},
        {ui.Colorajustment1, TToolPicture::Colors},
        {ui.Savepicture1, TToolPicture::Save}};
    for (const auto &[command, picture] : pictures)
        command->setIcon(QIcon(QPixmap::fromImage(ToolPicture(picture))));
    DisplayTimer->setObjectName("DisplayTimer");
    DisplayTimer->setInterval(1500);
    connect(DisplayTimer, &QTimer::timeout, this, &TMainWin::Displaying);
    connect(&state, &TViewerState::FillStarted, this, &TMainWin::StartDisplay);
    SaveAsBmp->setObjectName("SaveAsBmp");
    // Qt's own dialog on every desktop: the same dialog for the user and for the tests. It asks
    // before a file that exists is replaced.
    UseOwnFileDialog(SaveAsBmp);
    SaveAsBmp->setAcceptMode(QFileDialog::AcceptSave);
    SaveAsBmp->setFileMode(QFileDialog::AnyFile);
    SaveAsBmp->setNameFilters({"Windows bitmap (24 bits) (*.bmp)", "PNG picture (*.png)"});
    SaveAsBmp->setDefaultSuffix("bmp");
    // A name typed without an extension takes that of the file type chosen.
    connect(SaveAsBmp, &QFileDialog::filterSelected, SaveAsBmp, [this](const QString &filter) {
        SaveAsBmp->setDefaultSuffix(filter.endsWith("(*.png)") ? "png" : "bmp");
    });
    SaveAsBmp->selectFile("default");
    LoadPng->setObjectName("LoadPng");
    UseOwnFileDialog(LoadPng);
    LoadPng->setAcceptMode(QFileDialog::AcceptOpen);
    LoadPng->setFileMode(QFileDialog::ExistingFile);
    LoadPng->setNameFilters({"PNG picture (*.png)", "All files (*)"});
    setAcceptDrops(true);
    // Deep views skip iterations, within the approximation's tolerance, unless this is off.
    connect(ui.Linearapproximation1, &QAction::toggled, this,
            [this](bool on) { this->state.SetApproximation(on); });
    EnableDialogCommands();
}

TMainWin::~TMainWin() = default;

void TMainWin::CreateForms() {
    ExactPosition = new TExactPosition(state, this);
    Precision = new TPrecision(state, this);
    Fractals = new TFractals(state, this);
    ColorAdjustment = new TColorAdjustment(state, this);
    About = new TAbout(this);
    Tools = new TTools(this);
    connect(this, &TViewWindow::Moved, Tools, &TTools::FormShow);
    EnableDialogCommands();
}

void TMainWin::EnableDialogCommands() {
    ui.Exactposition1->setEnabled(ExactPosition);
    ui.PrecisionvsSpeed1->setEnabled(Precision);
    ui.Fractal1->setEnabled(Fractals);
    ui.Colorajustment1->setEnabled(ColorAdjustment);
    ui.About1->setEnabled(About);
    ui.Help2->setEnabled(About);  // with the other forms
}

// ---- The display -------------------------------------------------------------------------------

QImage TMainWin::CopyPicture() const { return state.CopyPicture(ui.Display->size()); }

// While the deep fill computes its reference orbit the display looks often, so that the preview
// shows as soon as it is there.
constexpr int kDisplayInterval = 1500, kReferenceInterval = 100;

void TMainWin::StartDisplay() {
    DisplayTimer->start(state.ReferencePending() ? kReferenceInterval : kDisplayInterval);
    ui.Display->TakePicture(CopyPicture());
    ui.Display->SetNote(state.DepthNote());
    ui.Display->update();
}

void TMainWin::ScreenPanelResize() { state.CreateBuffer(ui.Display->size()); }

void TMainWin::Displaying() {
    const bool filled = state.Filled();
    const bool pending = state.ReferencePending();
    ui.Display->TakePicture(CopyPicture());
    ui.Display->SetNote(state.DepthNote());
    ui.Display->repaint();
    if (filled)
        DisplayTimer->stop();  // the last copy has shown the finished picture
    else if (!pending && DisplayTimer->interval() != kDisplayInterval)
        DisplayTimer->start(kDisplayInterval);
}

void TMainWin::DisplayMouseDown(int x, int y) {
    TViewSpot *const spot = ui.Display->HotSpot();
    if (!spot) {
        ui.Display->CreateHotSpot(x, y);
        return;
    }
    if (!spot->IsInside(x, y)) spot->MoveCenter(x, y);
    if (spot->IsNearCenter(x, y)) spot->DragMode = TViewSpot::Moving;
    if (spot->IsOnRim(x, y)) spot->DragMode = TViewSpot::Resizing;
}

void TMainWin::DisplayMouseMove(int x, int y) {
    TViewSpot *const spot = ui.Display->HotSpot();
    if (!spot) return;
    spot->UpdateCursor(x, y);
    if (spot->DragMode == TViewSpot::Moving)
        spot->MoveCenter(x, y);
    else if (spot->DragMode == TViewSpot::Resizing)
        spot->ResizeTo(x, y);
}

void TMainWin::DisplayMouseUp(int x, int y) {
    if (TViewSpot *const spot = ui.Display->HotSpot())
        spot->DragMode = spot->IsInside(x, y) ? TViewSpot::Armed : TViewSpot::ReleasedOutside;
}

void TMainWin::DisplayDblClick() {
    const TViewSpot *const spot = ui.Display->HotSpot();
    if (!spot || spot->DragMode != TViewSpot::Armed) return;
    state.ZoomToSpot(*spot);  // the display follows the new fill
    ui.Display->DeleteHotSpot();
}

// ---- Commands ----------------------------------------------------------------------------------

namespace {
void ShowForm(QWidget *form) {
    if (!form) return;
    form->show();
    form->raise();
    form->activateWindow();
}
}  // namespace

void TMainWin::Zoomin1Click() { state.Zoom(0.5); }

void TMainWin::Zoomout1Click() { state.Zoom(2.0); }

void TMainWin::Home1Click() { state.Navigate(kHomeRe, kHomeIm, kHomeScale); }

void TMainWin::Back1Click() { state.Back(); }

void TMainWin::Defaultview1Click() { state.Forward(); }

void TMainWin::Stop1Click() { state.Stop(); }

void TMainWin::Hidehotspot1Click() { ui.Display->DeleteHotSpot(); }

void TMainWin::Exactposition1Click() { ShowForm(ExactPosition); }
void TMainWin::PrecisionvsSpeed1Click() { ShowForm(Precision); }
void TMainWin::Fractal1Click() { ShowForm(Fractals); }
void TMainWin::Colorajustment1Click() { ShowForm(ColorAdjustment); }
void TMainWin::About1Click() { ShowForm(About); }

void TMainWin::Help2Click() {
    if (!Help) {
        Help = new THelpIndex(this);
        connect(Help, &THelpIndex::SceneChosen, this, &TMainWin::LoadPicture);
    }
    ShowForm(Help);
}

void TMainWin::Exit1Click() { QCoreApplication::quit(); }

void TMainWin::FormShow() { ShowForm(Tools); }

void TMainWin::showEvent(QShowEvent *event) {
    TViewWindow::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TMainWin::LoadPicture(const QString &fileName) {
    const QString refusal = state.LoadScene(fileName);  // the display follows the new fill
    if (!refusal.isEmpty()) state.ErrorMessageBox(refusal);
}

void TMainWin::Loadpicture1Click() {
    // The folder of the last file chosen, else the working folder with the gallery.
    if (LoadPng->exec() != QDialog::Accepted || LoadPng->selectedFiles().isEmpty()) return;
    LoadPicture(LoadPng->selectedFiles().constFirst());
}

namespace {
// The one local file that a drag carries; empty when it carries anything else.
QString DraggedFile(const QMimeData *data) {
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();
    return urls.size() == 1 && urls.constFirst().isLocalFile() ? urls.constFirst().toLocalFile()
                                                               : QString();
}
}  // namespace

void TMainWin::dragEnterEvent(QDragEnterEvent *event) {
    if (!DraggedFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TMainWin::dropEvent(QDropEvent *event) {
    const QString file = DraggedFile(event->mimeData());
    if (file.isEmpty()) return;
    event->acceptProposedAction();
    LoadPicture(file);
}

void TMainWin::Savepicture1Click() {
    if (SaveAsBmp->exec() != QDialog::Accepted || SaveAsBmp->selectedFiles().isEmpty()) return;
    const QString fileName = SaveAsBmp->selectedFiles().constFirst();
    const QString reason = state.SavePicture(fileName, ui.Display->size());
    if (!reason.isEmpty())
        state.ShowGeneralError(QString("Cannot create file \"%1\". %2").arg(fileName, reason));
}
