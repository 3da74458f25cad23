#include "gallery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <string>
#include <vector>

#include "list_records.h"

namespace {

// A file's name without its extension and without an order number in front.
QString Stem(const QString &file) {
    static const QRegularExpression order("^[0-9]+-");
    return QFileInfo(file).completeBaseName().remove(order);
}

std::string Slug(const QString &name) { return quob::common::NameSlug(name.toStdString()); }

QStringList PngFiles(const QString &folder) {
    QStringList files;
    const QDir dir(folder);
    for (const QFileInfo &file : dir.entryInfoList({"*.png"}, QDir::Files, QDir::Name))
        files.append(file.filePath());
    return files;
}

}  // namespace

QList<TGalleryPicture> GalleryPictures(const QString &folder, const QStringList &entryNames) {
    QList<TGalleryPicture> pictures;
    for (const QString &file : PngFiles(folder)) {
        const QString stem = Stem(file);
        QString name = QString(stem).replace(QRegularExpression("[-_]+"), " ").trimmed();
        for (const QString &entry : entryNames)
            if (Slug(entry) == Slug(stem)) {
                name = entry;
                break;
            }
        pictures.append({file, name.isEmpty() ? QFileInfo(file).fileName() : name});
    }
    return pictures;
}

QStringList EntryNames(const QString &listFile) {
    std::vector<quob::common::FormulaEntry> entries;
    std::string error;
    QStringList names;
    if (quob::common::ReadFormulaFile(QFile::encodeName(listFile).toStdString(), entries, error))
        for (const quob::common::FormulaEntry &entry : entries)
            names.append(QString::fromStdString(quob::common::EntryName(entry.comment)));
    return names;
}

bool EntryScene(const QString &folder, const QByteArray &expression, const QByteArray &comment,
                quob::common::PictureSettings &scene, QString &file) {
    const std::string name =
        Slug(QString::fromStdString(quob::common::EntryName(comment.toStdString())));
    if (name.empty() || expression.isEmpty()) return false;
    for (const QString &candidate : PngFiles(folder)) {
        if (Slug(Stem(candidate)) != name) continue;
        quob::common::PictureSettings read;
        std::string error;
        if (quob::common::ReadScene(QFile::encodeName(candidate).toStdString(), read, error) &&
            read.fractal == expression.toStdString()) {
            scene = read;
            file = candidate;
            return true;
        }
    }
    return false;
}
