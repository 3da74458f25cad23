#include "about.h"

#include <QPixmap>

#include "dlgcommon.h"
#include "icons.h"

TAbout::TAbout(QWidget *parent) : QDialog(parent) {
    setupUi(this);
    Image1->setPixmap(QPixmap::fromImage(ProgramIcon()));
    // Font heights in pixels, which the form file cannot express.
    QFont title = Label1->font();
    title.setPixelSize(16);
    Label1->setFont(title);
    QFont program = Label2->font();
    program.setPixelSize(13);
    Label2->setFont(program);
    QPalette black = Label2->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    Label2->setPalette(black);
    setFixedSize(size());
    CenterOnScreen(this);
}

void TAbout::OKClick() { hide(); }
