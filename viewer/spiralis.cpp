// The program Spiralis: start-up and shutdown in their fixed order.
#include <QMessageBox>
#include <cstdio>

#include "main.h"

// The library's message boxes (its load banner among them) are shown by the host: this function
// is exported from the executable and found by the library with dlsym(RTLD_DEFAULT, ...).
extern "C" __attribute__((visibility("default"))) int QUOB_HostMessageBox(const char *text,
                                                                          const char *caption,
                                                                          unsigned style) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if (style & 64) icon = QMessageBox::Information;
    if (style & 16) icon = QMessageBox::Critical;
    QMessageBox box(icon, caption ? QString::fromUtf8(caption) : QString("Error"),
                    QString::fromUtf8(text).replace("\r\n", "\n"), QMessageBox::Ok);
    box.exec();
    return 1;  // OK
}

namespace {

// The banner appears while the dynamic loader is loading the library: whatever Qt loads for a
// message box (its platform window, style icons and their plugins) is loaded here beforehand.
void PrepareMessageBoxes() {
    QMessageBox box;
    box.setIcon(QMessageBox::Information);
    box.setIcon(QMessageBox::Critical);
    box.ensurePolished();
    box.winId();
}

}  // namespace

int main(int argc, char **argv) {
    TApplication application(argc, argv);
    PrepareMessageBoxes();
    std::string error;
    if (!LoadQuob32(QCoreApplication::applicationDirPath().toStdString(), error)) {
        std::fprintf(stderr, "spiralis: %s\n", error.c_str());
        ErrorMessageBox(QString::fromStdString(error));
        return 1;
    }
    if (!ViewerInit()) {  // has shown "Runtime error 2613"
        UnloadQuob32();
        return 1;
    }
    CreateForms();
    // X11 window managers keep the size a program asks for, so the viewer asks for 640 x 480
    // rather than the form's design size of 324 x 173.
    MainWin->resize(640, 480);
    MainWin->show();
    const int result = application.exec();
    DestroyForms();
    ViewerDone();
    UnloadQuob32();
    return result;
}
