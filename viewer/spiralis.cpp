// The program Spiralis: start-up and shutdown in their fixed order.
#include <QIcon>
#include <QMessageBox>
#include <QPixmap>
#include <cstdio>
#include <string>

#include "application.h"
#include "icons.h"
#include "main.h"
#include "quobimport.h"
#include "state.h"
#include "workfolder.h"

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
    application.setWindowIcon(QIcon(QPixmap::fromImage(ProgramIcon())));
    PrepareMessageBoxes();
    const QString programFolder = QCoreApplication::applicationDirPath();
    QString folderError;
    if (!EnterWorkFolder(programFolder, folderError)) {
        std::fprintf(stderr, "spiralis: %s\n", folderError.toLocal8Bit().constData());
        ModalMessageBox(TBoxIcon::Error, "Error", folderError);
    }
    TQuobLibrary library;  // unloaded last, after everything that calls it
    std::string error;
    if (!library.Load(LibraryFolders(programFolder), error)) {
        std::fprintf(stderr, "spiralis: %s\n", error.c_str());
        ModalMessageBox(TBoxIcon::Error, "Error", QString::fromStdString(error));
        return 1;
    }
    TViewerState state(library.Imports());
    if (!state.ViewerInit()) return 1;  // it has shown "Runtime error 2613"
    application.SetErrorDisplay(
        [&state](const QString &message) { state.ShowGeneralError(message); });
    int result;
    {
        TMainWin mainWin(state);  // the application's main window
        mainWin.CreateForms();
        // X11 window managers keep the size a program asks for, so the viewer asks for 640 x 480
        // rather than the form's design size of 324 x 173.
        mainWin.resize(640, 480);
        mainWin.show();
        result = application.exec();
    }  // the windows end, then the viewer's shutdown (the state's end), then the library's
    application.SetErrorDisplay({});
    return result;
}
