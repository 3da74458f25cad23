#include "toolwin.h"

#include <QAction>
#include <QCloseEvent>
#include <QMainWindow>
#include <QShowEvent>
#include <QVBoxLayout>
#include <utility>

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

TTools::TTools(QMainWindow *mainWindow) : TToolsForm(mainWindow), mainWindow(mainWindow) {
    ui.setupUi(this);
    auto *fill = new QVBoxLayout(this);  // the panel fills the client area
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(ui.Panel1);
    // A small caption bar without any buttons, above all other windows. It never takes the
    // keyboard focus, so the main window's shortcuts keep working after a button is pressed.
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    const std::pair<QToolButton *, const char *> commands[] = {
        {ui.SpeedButton9, "Home1"},           {ui.SpeedButton10, "Back1"},
        {ui.SpeedButton4, "Defaultview1"},    {ui.SpeedButton2, "Stop1"},
        {ui.SpeedButton8, "Zoomin1"},         {ui.SpeedButton6, "Zoomout1"},
        {ui.SpeedButton7, "Exactposition1"},  {ui.SpeedButton5, "Fractal1"},
        {ui.SpeedButton1, "Colorajustment1"}, {ui.SpeedButton3, "Savepicture1"}};
    for (const auto &[button, command] : commands)
        button->setDefaultAction(mainWindow->findChild<QAction *>(command));
}

void TTools::showEvent(QShowEvent *event) {
    TToolsForm::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TTools::FormShow() {
    // The outer size counts the caption bar and borders that the window system adds.
    const QSize frame = frameGeometry().size() - geometry().size();
    setFixedSize(QSize(35, 285) - frame);
    // The main window's client area is what lies below its menu bar: its central widget.
    const QWidget *clientArea =
        mainWindow->centralWidget() ? mainWindow->centralWidget() : mainWindow;
    move(clientArea->mapToGlobal(QPoint(0, 0)) + QPoint(2, 2));
}
