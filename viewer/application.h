// The application object: the program's title, and the general error display for an error that
// escapes an event handler.
#ifndef SPIRALIS_APPLICATION_H
#define SPIRALIS_APPLICATION_H

#include <QApplication>
#include <QString>
#include <functional>

inline constexpr const char *ApplicationTitle = "Spiralis 3.0";

class TApplication : public QApplication {
  public:
    TApplication(int &argc, char **argv);

    // Where an error that escapes an event handler goes, once the viewer exists to show it; the
    // handler's remaining steps are skipped. Until then the message goes to standard error.
    void SetErrorDisplay(std::function<void(const QString &message)> display);

    bool notify(QObject *receiver, QEvent *event) override;

  private:
    std::function<void(const QString &)> errorDisplay;
};

#endif  // SPIRALIS_APPLICATION_H
