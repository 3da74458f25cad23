#include "thumbnail.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <utility>

QString RendererBesideProgram() { return QCoreApplication::applicationDirPath() + "/quob-render"; }

TThumbnail::TThumbnail(QLabel *box, QString renderer) : box(box), renderer(std::move(renderer)) {}

TThumbnail::~TThumbnail() {
    Abandon();
    // Killed, they end at once; waiting lets none write into the folder as it goes.
    for (QProcess *process : findChildren<QProcess *>()) process->waitForFinished(1000);
}

QSize TThumbnail::Size() const { return box->contentsRect().size(); }

void TThumbnail::Draw(const QStringList &options) {
    Abandon();
    if (!QFileInfo(renderer).isExecutable())
        return Clear(QString("No picture: %1 is missing; the build places quob-render beside "
                             "spiralis")
                         .arg(renderer));
    if (!folder.isValid())
        return Clear(QString("No picture: no temporary folder (%1)").arg(folder.errorString()));
    const QString file = folder.filePath(QString("drawing-%1.bmp").arg(++drawings));
    running = new QProcess(this);
    running->setProgram(renderer);
    running->setArguments(options + QStringList{"-o", file});
    running->setProcessChannelMode(QProcess::SeparateChannels);
    connect(
        running, &QProcess::finished, this,
        [this, file](int exitCode, QProcess::ExitStatus status) { Take(exitCode, status, file); });
    connect(running, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;  // the others end with finished
        QProcess *const process = std::exchange(running, nullptr);
        process->deleteLater();
        Clear(QString("No picture: %1 did not start (%2)").arg(renderer, process->errorString()));
    });
    running->start();
}

void TThumbnail::Clear(const QString &why) {
    Abandon();
    box->clear();
    box->setToolTip(why);
    emit Finished();
}

void TThumbnail::Abandon() {
    if (!running) return;
    QProcess *const process = std::exchange(running, nullptr);
    process->disconnect(this);
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    process->kill();
}

void TThumbnail::Take(int exitCode, QProcess::ExitStatus status, const QString &file) {
    QProcess *const process = std::exchange(running, nullptr);
    process->deleteLater();
    const QImage picture(file);
    QFile::remove(file);
    if (status != QProcess::NormalExit || exitCode != 0 || picture.isNull()) {
        const QString said = QString::fromLocal8Bit(process->readAllStandardError()).trimmed();
        box->clear();
        const QString how = status == QProcess::NormalExit
                                ? QString("ended with status %1").arg(exitCode)
                                : QString("was ended by a signal");
        box->setToolTip(QString("No picture: quob-render %1%2")
                            .arg(how, said.isEmpty() ? QString() : ": " + said));
    } else {
        box->setPixmap(QPixmap::fromImage(picture));
        box->setToolTip("What OK would show, at the current view and precision");
    }
    emit Finished();
}
