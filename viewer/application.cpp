#include "application.h"

#include <cstdio>
#include <exception>
#include <utility>

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv) {
    setApplicationName(ApplicationTitle);
}

void TApplication::SetErrorDisplay(std::function<void(const QString &)> display) {
    errorDisplay = std::move(display);
}

bool TApplication::notify(QObject *receiver, QEvent *event) {
    QString message;
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &error) {
        message = QString::fromUtf8(error.what());
    } catch (...) {
        message = "Unknown error";
    }
    if (errorDisplay)
        errorDisplay(message);
    else
        std::fprintf(stderr, "%s: %s\n", ApplicationTitle, qPrintable(message));
    return false;
}
