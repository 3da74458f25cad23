// Writes the program's icon for the desktop's icon theme: the 32 x 32 picture of icons.cpp and
// its enlargements by whole factors, each of its pixels a square of the same colour.
//   program-icons FOLDER   writes FOLDER/NxN/apps/spiralis.png for N = 32, 64, 128 and 256
// Run it on Qt's offscreen platform: it draws into images only.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>

#include "icons.h"

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    if (app.arguments().size() != 2) {
        std::fprintf(stderr, "usage: program-icons FOLDER\n");
        return 2;
    }
    const QImage icon = ProgramIcon();
    for (const int size : {32, 64, 128, 256}) {
        const QString folder = QString("%1/%2x%2/apps").arg(app.arguments()[1]).arg(size);
        const QString file = folder + "/spiralis.png";
        if (!QDir().mkpath(folder) ||
            !icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation).save(file)) {
            std::fprintf(stderr, "program-icons: %s cannot be written\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
