// A small picture drawn by quob-render in a child process: the formula dialogs show with it what
// OK would show, while nothing of the typed formula reaches the filler and nothing in the viewer
// computes a pixel.
#ifndef SPIRALIS_THUMBNAIL_H
#define SPIRALIS_THUMBNAIL_H

#include <QObject>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>

class QLabel;

// The path of quob-render as the build places it, beside the running program.
QString RendererBesideProgram();

// Shows in a label, at the label's size, the picture that a renderer draws; why there is none in
// its tooltip.
class TThumbnail : public QObject {
    Q_OBJECT
  public:
    TThumbnail(QLabel *box, QString renderer);
    ~TThumbnail() override;  // a drawing under way ends with it

    // The picture's size: the label's inside.
    QSize Size() const;
    // Starts drawing with these options (the output file is added) and returns at once.
    // A drawing still under way is abandoned: no picture older than the latest request is shown.
    void Draw(const QStringList &options);
    // No picture, and why; a drawing under way is abandoned.
    void Clear(const QString &why);

  signals:
    // A drawing has ended, with its picture shown or why not.
    void Finished();

  private:
    void Abandon();
    void Take(int exitCode, QProcess::ExitStatus status, const QString &file);

    QLabel *const box;
    const QString renderer;
    QTemporaryDir folder;  // the drawings' files, each read once and removed
    QProcess *running = nullptr;
    int32_t drawings = 0;
};

#endif  // SPIRALIS_THUMBNAIL_H
