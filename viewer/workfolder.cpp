#include "workfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "whole_file.h"

namespace {

constexpr const char *kStarterLists[] = {"fractals.dat", "cadjusts.dat", "hotspots.dat"};

// Copies source to target unless target exists (a dangling link counts as existing: it is the
// user's), through a temporary file renamed into place. False with a sentence in error.
bool SeedFile(const QString &source, const QString &target, QString &error) {
    const QFileInfo existing(target);
    if (existing.exists() || existing.isSymLink()) return true;
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QString("%1 cannot be read: %2").arg(source, file.errorString());
        return false;
    }
    const QByteArray bytes = file.readAll();
    std::string why;
    if (!quob::common::WriteWholeFile(QFile::encodeName(target).toStdString(),
                                      std::string_view(bytes.constData(), bytes.size()), why)) {
        error = QString("%1 cannot be written: %2").arg(target, QString::fromStdString(why));
        return false;
    }
    return true;
}

}  // namespace

QString InstalledDataFolder(const QString &programFolder) {
    const QDir bin(programFolder);
    if (bin.dirName() != "bin") return {};
    const QString data = QDir::cleanPath(bin.absoluteFilePath("../share/spiralis"));
    return QFileInfo(data).isDir() ? data : QString();
}

std::vector<std::string> LibraryFolders(const QString &programFolder) {
    return {QFile::encodeName(programFolder).toStdString(),
            QFile::encodeName(QDir::cleanPath(programFolder + "/../lib/spiralis")).toStdString()};
}

bool SeedWorkFolder(const QString &data, const QString &work, QString &error) {
    QStringList failures;
    QString failure;
    for (const char *list : kStarterLists) {
        const QString source = QDir(data).filePath(list);
        if (QFileInfo::exists(source) && !SeedFile(source, QDir(work).filePath(list), failure))
            failures << failure;
    }
    const QDir pictures(QDir(data).filePath("gallery"));
    const QStringList names = pictures.entryList({"*.png"}, QDir::Files, QDir::Name);
    const QString gallery = QDir(work).filePath("gallery");
    if (!names.isEmpty() && !QDir().mkpath(gallery))
        failures << QString("the folder %1 cannot be made").arg(gallery);
    else
        for (const QString &name : names)
            if (!SeedFile(pictures.filePath(name), QDir(gallery).filePath(name), failure))
                failures << failure;
    if (failures.isEmpty()) return true;
    error = QString("The working folder %1 could not be given the starter files: %2")
                .arg(work, failures.join("; "));
    return false;
}

bool EnterWorkFolder(const QString &programFolder, QString &error) {
    const QString data = InstalledDataFolder(programFolder);
    if (data.isEmpty()) return true;
    const QString work = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
                             .filePath("spiralis");
    if (!QDir().mkpath(work) || !QDir::setCurrent(work)) {
        error = QString(
                    "The working folder %1 cannot be made or entered; the viewer works "
                    "in %2")
                    .arg(work, QDir::currentPath());
        return false;
    }
    return SeedWorkFolder(data, work, error);
}
