// Renders every starter fractal formula with its colour formula and view through quob-render,
// from the written lists, and lays the pictures out in one contact sheet with their names.
//   gallery QUOB-RENDER SOURCE-FOLDER LIST-FOLDER OUTPUT-FOLDER
// Run it on Qt's offscreen platform: it draws into images only.
#include <QCoreApplication>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStringList>
#include <cstdio>

#include "starter_sources.h"

using namespace quob;

namespace {

constexpr int kWidth = 160, kHeight = 120, kColumns = 6, kLabel = 34, kGap = 8;

int Fail(const QString &message) {
    std::fprintf(stderr, "gallery: %s\n", qPrintable(message));
    return 1;
}

QString Text(long double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.21Lg", value);
    return text;
}

}  // namespace

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5)
        return Fail("usage: gallery QUOB-RENDER SOURCE-FOLDER LIST-FOLDER OUTPUT-FOLDER");
    const QString renderer = args[1], lists = args[3];
    const QDir out(args[4]);
    examples::StarterLibrary library;
    std::string error;
    if (!examples::ReadStarterSources(args[2].toStdString(), library, error))
        return Fail(QString::fromStdString(error));
    if (!QDir().mkpath(out.path())) return Fail("cannot create " + out.path());

    const std::vector<std::string> colors = examples::CommentsOf(library.colors);
    const int count = int(library.fractals.size());
    const int rows = (count + kColumns - 1) / kColumns;
    QImage sheet(kColumns * (kWidth + kGap) + kGap, rows * (kHeight + kLabel + kGap) + kGap,
                 QImage::Format_RGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    QFont font = painter.font();
    font.setPixelSize(11);
    painter.setFont(font);
    for (int i = 0; i < count; ++i) {
        const examples::StarterFractal &f = library.fractals[std::size_t(i)];
        const long color = common::FindEntry(colors, f.color, error);
        if (color < 0) return Fail(QString::fromStdString(error));
        const std::string entryName = common::EntryName(f.entry.comment);
        const QString name = QString::fromStdString(entryName);
        // Named so, the picture is the scene that the viewer suggests for its entry.
        const QString file =
            out.filePath(QString("%1-%2.png")
                             .arg(i + 1, 2, 10, QChar('0'))
                             .arg(QString::fromStdString(common::NameSlug(entryName))));
        QStringList options = {"-o",
                               file,
                               "--width",
                               QString::number(kWidth),
                               "--height",
                               QString::number(kHeight),
                               "--fractal-from",
                               lists + "/fractals.dat:" + QString::number(i + 1),
                               "--color-from",
                               lists + "/cadjusts.dat:" + QString::number(color + 1),
                               "--center",
                               Text(f.re) + "," + Text(f.im),
                               "--scale",
                               Text(f.scale)};
        if (f.iterations) options << "--iterations" << QString::number(f.iterations);
        if (f.blockLength) options << "--block-length" << QString::number(f.blockLength);
        if (f.maxModule) options << "--max-module" << QString::number(double(f.maxModule));
        if (f.recursionInit) options << "--recursion-init" << QString::number(f.recursionInit);
        if (QProcess::execute(renderer, options) != 0) return Fail("quob-render failed on " + name);
        const QImage picture(file);
        if (picture.isNull()) return Fail("cannot read " + file);
        const int left = kGap + (i % kColumns) * (kWidth + kGap);
        const int top = kGap + (i / kColumns) * (kHeight + kLabel + kGap);
        painter.drawImage(left, top, picture);
        painter.drawText(QRect(left, top + kHeight + 2, kWidth, kLabel - 2),
                         Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, name);
    }
    painter.end();
    const QString sheetFile = out.filePath("contact-sheet.png");
    if (!sheet.save(sheetFile)) return Fail("cannot write " + sheetFile);
    std::printf("gallery: %d pictures and %s\n", count, qPrintable(sheetFile));
    return 0;
}
