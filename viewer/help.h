// The help window ("&Help index", F1): a short guide to the mouse, the keys, the dialogs and
// where the files live, and the gallery, the scenes of the folder "gallery" as thumbnails with
// their names; a click on one opens its scene as Load picture does.
#ifndef SPIRALIS_HELP_H
#define SPIRALIS_HELP_H

#include <QFileSystemWatcher>
#include <QString>
#include <QWidget>

#include "ui_help.h"

class THelpIndex : public QWidget {
    Q_OBJECT
  public:
    // A window of its own that belongs to parent.
    explicit THelpIndex(QWidget *parent);

    // Lists the gallery folder's pictures afresh, named after the entries of "fractals.dat".
    void Refresh();

  signals:
    // A picture of the gallery chosen, by a click or with Return.
    void SceneChosen(const QString &file);

  protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

  private:
    void Choose(const QListWidgetItem *item);

    Ui::THelpIndex ui;
    QFileSystemWatcher watcher;  // the gallery folder: a picture saved there shows at once
    bool skipRelease = false;    // the release that ends a double click
};

#endif  // SPIRALIS_HELP_H
