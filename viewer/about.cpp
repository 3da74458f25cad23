#include "about.h"

#include <QFont>
#include <QPalette>

TAbout::TAbout(QWidget *parent) : TDialogForm(parent) {
    ui.setupUi(this);
    // The program's icon, which start-up gives the application.
    ui.Image1->setPixmap(windowIcon().pixmap(32, 32));
    // Font heights in pixels, which the form file cannot express.
    QFont title = ui.Label1->font();
    title.setPixelSize(16);
    ui.Label1->setFont(title);
    QFont program = ui.Label2->font();
    program.setPixelSize(13);
    ui.Label2->setFont(program);
    QPalette black = ui.Label2->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    ui.Label2->setPalette(black);
    FixInPlace();
}

void TAbout::OKClick() { hide(); }
