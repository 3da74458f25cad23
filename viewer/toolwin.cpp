#include "toolwin.h"

#include <QCloseEvent>
#include <QShowEvent>
#include <QVBoxLayout>
#include <utility>

#include "icons.h"
#include "main.h"

TToolsForm::TToolsForm(QWidget *parent) : QWidget(parent) {}

// The window system's close requests (its menu command and shortcut) are spontaneous and
// ignored. The program's own close, when the application closes its windows on quitting, is
// not: ignoring that too would veto the quit.
void TToolsForm::closeEvent(QCloseEvent *event) {
    if (event->spontaneous())
        event->ignore();
    else
        QWidget::closeEvent(event);
}

namespace {

// The one tool window, for the main window's move handling.
TTools *ToolWindow = nullptr;

void PlaceToolWindow(TViewWindow *) { ToolWindow->FormShow(); }

// The main window's client area is what lies below its menu bar: its central widget.
QWidget *ClientArea(QMainWindow *window) {
    return window->centralWidget() ? window->centralWidget() : window;
}

}  // namespace

TTools::TTools(QWidget *parent) : TToolsForm(parent) {
    setupUi(this);
    auto *fill = new QVBoxLayout(this);  // the panel fills the client area
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(Panel1);
    // A small caption bar without any buttons, above all other windows. It never takes the
    // keyboard focus, so the main window's shortcuts keep working after a button is pressed.
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    const std::pair<QToolButton *, TToolPicture> pictures[] = {
        {SpeedButton9, TToolPicture::Home},    {SpeedButton10, TToolPicture::Back},
        {SpeedButton4, TToolPicture::Forward}, {SpeedButton2, TToolPicture::Stop},
        {SpeedButton8, TToolPicture::ZoomIn},  {SpeedButton6, TToolPicture::ZoomOut},
        {SpeedButton7, TToolPicture::Exact},   {SpeedButton5, TToolPicture::Fractal},
        {SpeedButton1, TToolPicture::Colors},  {SpeedButton3, TToolPicture::Save}};
    for (const auto &[button, picture] : pictures)
        button->setIcon(QIcon(QPixmap::fromImage(ToolPicture(picture))));
    ToolWindow = this;
    ToolWindowPlacer = PlaceToolWindow;
}

TTools::~TTools() {
    if (ToolWindow == this) {
        ToolWindowPlacer = nullptr;
        ToolWindow = nullptr;
    }
}

void TTools::showEvent(QShowEvent *event) {
    TToolsForm::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TTools::FormShow() {
    // The outer size counts the caption bar and borders that the window system adds.
    const QSize frame = frameGeometry().size() - geometry().size();
    setFixedSize(QSize(35, 285) - frame);
    if (!MainWin) return;
    move(ClientArea(MainWin)->mapToGlobal(QPoint(0, 0)) + QPoint(2, 2));
}

// Each button does exactly what its menu command does.
void TTools::SpeedButton9Click() {
    if (MainWin) MainWin->Home1Click();
}
void TTools::SpeedButton10Click() {
    if (MainWin) MainWin->Back1Click();
}
void TTools::SpeedButton4Click() {
    if (MainWin) MainWin->Defaultview1Click();
}
void TTools::SpeedButton2Click() {
    if (MainWin) MainWin->Stop1Click();
}
void TTools::SpeedButton8Click() {
    if (MainWin) MainWin->Zoomin1Click();
}
void TTools::SpeedButton6Click() {
    if (MainWin) MainWin->Zoomout1Click();
}
void TTools::SpeedButton7Click() {
    if (MainWin) MainWin->Exactposition1Click();
}
void TTools::SpeedButton5Click() {
    if (MainWin) MainWin->Fractal1Click();
}
void TTools::SpeedButton1Click() {
    if (MainWin) MainWin->Colorajustment1Click();
}
void TTools::SpeedButton3Click() {
    if (MainWin) MainWin->Savepicture1Click();
}
