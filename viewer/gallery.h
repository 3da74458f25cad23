// The gallery: the PNG pictures of the folder "gallery" in the working folder (the starter
// scenes, and whatever Save picture puts there), each keeping its scene in its texts. A picture
// is named after its file; the starter pictures are named "NN-name.png" after the entries of
// the starter fractal formulas, and a formula entry's suggested scene is the gallery picture of
// its name.
#ifndef SPIRALIS_GALLERY_H
#define SPIRALIS_GALLERY_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "picture_texts.h"

// The gallery's folder, relative to the working folder as the lists' files are.
inline constexpr const char *GalleryFolder = "gallery";

struct TGalleryPicture {
    QString File;  // the path
    QString Name;
};

// The folder's PNG files in the order of their names. Each is named after the entry among
// entryNames whose name it carries ("13-burning-ship.png" is "Burning Ship"), else after its
// file, without an order number in front and with blanks for dashes ("my-ship.png" is
// "my ship").
QList<TGalleryPicture> GalleryPictures(const QString &folder, const QStringList &entryNames);

// The names of the entries of a formula list file (its comments' first sentences); none when
// it cannot be read.
QStringList EntryNames(const QString &listFile);

// The scene that a fractal formula entry suggests: that of the folder's picture of the entry's
// name (its comment's first sentence) whose fractal formula is the expression. False when no
// picture of that name keeps a scene of that formula.
bool EntryScene(const QString &folder, const QByteArray &expression, const QByteArray &comment,
                quob::common::PictureSettings &scene, QString &file);

#endif  // SPIRALIS_GALLERY_H
