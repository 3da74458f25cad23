#include "help.h"

#include <QDir>
#include <QEvent>
#include <QImageReader>
#include <QKeyEvent>
#include <QShowEvent>

#include "gallery.h"

namespace {

constexpr QSize kThumbnail(160, 120);

QString Guide(const QString &folder) {
    return QString(R"(<h3>Spiralis 3.0</h3>
<p><b>Mouse.</b> A click on the picture places the hot spot, a circle. Drag its centre to move
it and its rim to resize it; a double click inside it zooms into the circle. Drop a PNG picture
on the window to open its scene.</p>
<p><b>Keys.</b></p>
<table cellspacing="0" cellpadding="1">
<tr><td>Ctrl+I, Ctrl+O</td><td>zoom in, zoom out</td></tr>
<tr><td>Shift+Del, Shift+Ins</td><td>back, forward</td></tr>
<tr><td>Ctrl+Del</td><td>home</td></tr>
<tr><td>Ctrl+Z</td><td>stop drawing</td></tr>
<tr><td>Ctrl+H</td><td>hide the hot spot</td></tr>
<tr><td>Ctrl+S, Ctrl+L</td><td>save picture, load picture</td></tr>
<tr><td>F1</td><td>this window</td></tr>
<tr><td>F2</td><td>exact position</td></tr>
<tr><td>F3, F4</td><td>fractal, colour adjustment</td></tr>
<tr><td>F5</td><td>precision vs speed</td></tr>
<tr><td>F10</td><td>exit</td></tr>
</table>
<p><b>Dialogs.</b> F2 takes a centre and a zoom factor and keeps named positions. F3 and F4 keep
lists of fractal and colour formulas: choose a line, press Load, then OK; for a starter fractal
formula, "OK with its view and colouring" brings its colour formula, view and precision as
well. F5 sets the iterations limit, the escape and convergence thresholds and the block length.
The tool window's buttons repeat ten commands of the menu.</p>
<p><b>Files</b> live in the working folder, %1:</p>
<ul>
<li>fractals.dat and cadjusts.dat, the formula lists;</li>
<li>hotspots.dat, the saved positions, and hotspots.digits, the digits of the deep ones;</li>
<li>gallery/, the gallery's pictures.</li>
</ul>
<p>A picture saved as PNG keeps its scene: both formulas, the view, the precision values and the
escape colour. Load picture opens it again, and quob-render --from draws it at any size. Save a
PNG into the gallery folder to add it to the gallery.</p>)")
        .arg(folder.toHtmlEscaped());
}

}  // namespace

THelpIndex::THelpIndex(QWidget *parent) : QWidget(parent, Qt::Window) {
    ui.setupUi(this);
    ui.Gallery->viewport()->installEventFilter(this);
    ui.Gallery->installEventFilter(this);
    connect(ui.Gallery, &QListWidget::clicked, this,
            [this](const QModelIndex &index) { Choose(ui.Gallery->item(index.row())); });
    connect(&watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (isVisible()) Refresh();
    });
}

void THelpIndex::Refresh() {
    const QString working = QDir::currentPath();
    const QString folder = QDir(working).filePath(GalleryFolder);
    ui.Guide->setHtml(Guide(working));
    if (!watcher.directories().isEmpty()) watcher.removePaths(watcher.directories());
    if (QFileInfo(folder).isDir()) watcher.addPath(folder);

    ui.Gallery->clear();
    const QList<TGalleryPicture> pictures =
        GalleryPictures(folder, EntryNames(QDir(working).filePath("fractals.dat")));
    for (const TGalleryPicture &picture : pictures) {
        QImageReader reader(picture.File);
        const QSize size = reader.size();
        if (size.width() > kThumbnail.width() || size.height() > kThumbnail.height())
            reader.setScaledSize(size.scaled(kThumbnail, Qt::KeepAspectRatio));
        auto *item = new QListWidgetItem(QIcon(QPixmap::fromImage(reader.read())), picture.Name);
        item->setData(Qt::UserRole, picture.File);
        item->setToolTip(picture.File);
        ui.Gallery->addItem(item);
    }
    ui.GalleryCaption->setText(
        pictures.isEmpty()
            ? QString("The gallery folder %1 holds no pictures yet: save a picture as PNG there "
                      "to start it.")
                  .arg(folder)
            : QString("The gallery, %1: click a picture to open its scene; Back returns to the "
                      "view before.")
                  .arg(folder));
}

void THelpIndex::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    Refresh();
    ui.Gallery->setFocus();
}

// A double click is one choice: its second press and release are not a second click.
bool THelpIndex::eventFilter(QObject *watched, QEvent *event) {
    if (watched == ui.Gallery->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) skipRelease = false;
        if (event->type() == QEvent::MouseButtonDblClick) {
            skipRelease = true;
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease && skipRelease) {
            skipRelease = false;
            return true;
        }
    } else if (watched == ui.Gallery && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Choose(ui.Gallery->currentItem());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void THelpIndex::Choose(const QListWidgetItem *item) {
    if (item) emit SceneChosen(item->data(Qt::UserRole).toString());
}
