// Runs the viewer's tests on Qt's offscreen platform with libquob32 bound through the viewer's
// own ordinal loader; the filler's updates, the buffer's messages and the message boxes are
// recorded on their way. The library's banner goes to standard error: no host message box here.
#include <fcntl.h>
#include <sched.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "application.h"
#include "picture_files.h"
#include "viewer_testing.h"

namespace {

TQuobImports Real;                               // as the library exports them
std::vector<TLibraryCall> *Recording = nullptr;  // the running test's
bool Rendering = false;

int32_t QUOB_CALL SpyUpdateFiller(int32_t filler, const QUOB_FillerParams *params,
                                  const uint8_t *changes) {
    TLibraryCall call{-1, {}, *params, {}, {}};
    std::copy(changes, changes + QUOB_FP_FIELD_COUNT, call.Changes.begin());
    if (params->FractalFormula) call.Fractal = params->FractalFormula;
    if (params->ColorFormula) call.Color = params->ColorFormula;
    Recording->push_back(call);
    return Real.UpdateFiller(filler, params, changes);
}

int32_t QUOB_CALL SpyIBufferMessage(int32_t buffer, int32_t code) {
    Recording->push_back({code, {}, {}, {}, {}});
    return Real.IBufferMessage(buffer, code);
}

QPoint LinePoint(QListWidget *list, int row) {
    if (row < list->count()) return list->visualItemRect(list->item(row)).center();
    return QPoint(list->viewport()->width() / 2, list->viewport()->height() - 3);
}

}  // namespace

bool RenderingAvailable() { return Rendering; }

void ViewerTest::SetUp() {
    ASSERT_TRUE(dir.isValid());
    previousDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
    Recording = &LibraryCalls;
    Quob = Real;
    Quob.UpdateFiller = SpyUpdateFiller;
    Quob.IBufferMessage = SpyIBufferMessage;
    viewer = std::make_unique<TViewerState>(Quob, Recorder());
    // Without the rendering engine the updates fail, which the dialogs do not look at.
    EXPECT_EQ(viewer->ViewerInit(), Rendering);
    StartParams = viewer->CurrentParams();
    LibraryCalls.clear();
    RecordedBoxes.clear();
}

void ViewerTest::TearDown() {
    viewer.reset();
    Recording = nullptr;
    QDir::setCurrent(previousDir);
}

std::vector<TLibraryCall> ViewerTest::Updates() const {
    std::vector<TLibraryCall> updates;
    for (const TLibraryCall &call : LibraryCalls)
        if (call.Code == -1) updates.push_back(call);
    return updates;
}

void ViewerTest::ExpectApplied(const TChanges &changes) const {
    ASSERT_EQ(LibraryCalls.size(), 3u);
    EXPECT_EQ(LibraryCalls[0].Code, QUOB_MSG_STOP);
    EXPECT_EQ(LibraryCalls[1].Code, -1);
    EXPECT_EQ(LibraryCalls[1].Changes, changes);
    EXPECT_EQ(LibraryCalls[2].Code, RedrawMessage);
}

void ViewerTest::ExpectOneBox(const QString &caption, const QString &text) const {
    ASSERT_EQ(RecordedBoxes.size(), 1u);
    EXPECT_EQ(RecordedBoxes[0].Icon, TBoxIcon::Error);
    EXPECT_EQ(RecordedBoxes[0].Caption, caption);
    EXPECT_EQ(RecordedBoxes[0].Text, text);
}

TMessageBox ViewerTest::Recorder() {
    return [this](TBoxIcon icon, const QString &caption, const QString &text) {
        RecordedBoxes.push_back({icon, caption, text});
    };
}

QByteArray ViewerTest::ReadFile(const char *name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void ViewerTest::WriteFile(const char *name, const QByteArray &bytes) {
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

namespace {

constexpr uid_t Nobody = 65534;

// Mounts made by the tests stay in a mount namespace of the test's thread, invisible to the rest
// of the machine. Empty when there is one, otherwise why not.
std::string PrivateMounts() {
    static const std::string reason = []() -> std::string {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return std::string("no file system can be mounted here (") + std::strerror(errno) +
                   "; it takes CAP_SYS_ADMIN)";
        return {};
    }();
    return reason;
}

}  // namespace

const TWriteFailureCase WriteFailures[4] = {
    {"ReadOnlyFolder", TWriteFailure::ReadOnlyFolder, "Permission denied"},
    {"FullFileSystem", TWriteFailure::FullFileSystem, "No space left on device"},
    {"FileSizeLimit", TWriteFailure::FileSizeLimit, "File too large"},
    {"NoDescriptorLeft", TWriteFailure::NoDescriptorLeft, "Too many open files"}};

TFailingFolder::TFailingFolder(TWriteFailure how)
    : how(how), path(QDir::current().filePath("failing")), previousDir(QDir::currentPath()) {
    // "nobody" must reach the folder to be refused in it.
    chmod(QFile::encodeName(previousDir).constData(), 0755);
    QDir().mkdir(path);
    const QByteArray folder = QFile::encodeName(path);
    if (how == TWriteFailure::FullFileSystem) {
        unavailable = PrivateMounts();
        if (unavailable.empty() && mount("spiralis-test", folder.constData(), "tmpfs",
                                         MS_NOSUID | MS_NODEV, "size=256k") != 0)
            unavailable = std::string("no tmpfs can be mounted here: ") + std::strerror(errno);
        mounted = unavailable.empty();
    }
    QDir::setCurrent(path);
    if (how == TWriteFailure::ReadOnlyFolder) {
        Arm();
        const int probe = open("probe", O_WRONLY | O_CREAT | O_EXCL, 0644);
        Disarm();
        if (probe >= 0) {
            close(probe);
            unlink("probe");
            unavailable = "this process writes into read-only folders and cannot give that up";
        }
    }
}

TFailingFolder::~TFailingFolder() {
    Disarm();
    QDir::setCurrent(previousDir);
    if (mounted) umount2(QFile::encodeName(path).constData(), MNT_DETACH);
}

void TFailingFolder::Arm() {
    if (armed) return;
    armed = true;
    switch (how) {
        case TWriteFailure::ReadOnlyFolder:
            chmod(".", 0555);
            if (geteuid() == 0) setfsuid(Nobody);  // drops root's right to override modes
            return;
        case TWriteFailure::FullFileSystem: {
            const int fd = open("filler", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            static const char block[4096] = {};
            while (write(fd, block, sizeof block) > 0) {
            }
            close(fd);
            return;
        }
        case TWriteFailure::FileSizeLimit: {
            // Writing beyond the limit raises SIGXFSZ, which would end the process.
            struct sigaction ignore = {};
            ignore.sa_handler = SIG_IGN;
            sigaction(SIGXFSZ, &ignore, &fileSizeAction);
            getrlimit(RLIMIT_FSIZE, &limit);
            const rlimit oneByte = {1, limit.rlim_max};
            setrlimit(RLIMIT_FSIZE, &oneByte);
            return;
        }
        case TWriteFailure::NoDescriptorLeft: {
            getrlimit(RLIMIT_NOFILE, &limit);
            const rlimit none = {0, limit.rlim_max};
            setrlimit(RLIMIT_NOFILE, &none);
            return;
        }
    }
}

void TFailingFolder::Disarm() {
    if (!armed) return;
    armed = false;
    switch (how) {
        case TWriteFailure::ReadOnlyFolder:
            if (geteuid() == 0) setfsuid(0);
            chmod(".", 0755);
            return;
        case TWriteFailure::FullFileSystem:
            unlink("filler");
            return;
        case TWriteFailure::FileSizeLimit:
            setrlimit(RLIMIT_FSIZE, &limit);
            sigaction(SIGXFSZ, &fileSizeAction, nullptr);
            return;
        case TWriteFailure::NoDescriptorLeft:
            setrlimit(RLIMIT_NOFILE, &limit);
            return;
    }
}

QByteArray ExprRecord(const QByteArray &expression, const QByteArray &comment, char filler) {
    QByteArray record(2050, filler);
    record.replace(0, expression.size() + 1, expression + '\0');
    record.replace(1025, comment.size() + 1, comment + '\0');
    return record.left(2050);
}

QByteArray Extended(long double value) {
    static_assert(std::numeric_limits<long double>::digits == 64);  // x87 extended
    return QByteArray(reinterpret_cast<const char *>(&value), 10);
}

QByteArray HotRecord(long double re, long double im, long double scale, const QByteArray &comment) {
    return (Extended(re) + Extended(im) + Extended(scale) + comment).leftJustified(287, 0, true);
}

std::vector<quob::common::TextChunk> SceneTexts(const char *fractal) {
    QUOB_FillerParams p = ViewerDefaults();
    p.Width = p.Height = 2;
    p.FractalFormula = fractal;
    p.ColorFormula = SceneColor;
    p.CenterRe = -0.75, p.CenterIm = 0.125, p.Scale = 0.5;
    p.MaxModule = 4, p.Differential = 1e-4f, p.IterationsLimit = 40, p.BlockLength = 1;
    p.RecursionInit = 1, p.EscapeColor = 0x102030, p.EscapeTakesColor = 1;
    quob::common::PictureParams picture{p, quob::common::RenderMode::kPlain, 3};
    picture.centerText = SceneCenter;
    return quob::common::PictureTexts(picture, "quob-render (Spiralis 3.0)");
}

std::vector<quob::common::TextChunk> SceneTexts(const char *keyword, const char *text) {
    std::vector<quob::common::TextChunk> texts = SceneTexts();
    for (auto at = texts.begin(); at != texts.end(); ++at) {
        if (at->first != keyword) continue;
        if (text)
            at->second = text;
        else
            texts.erase(at);
        return texts;
    }
    ADD_FAILURE() << "no text " << keyword;
    return texts;
}

QString WritePng(const QString &path, const std::vector<quob::common::TextChunk> &texts) {
    QDir().mkpath(QFileInfo(path).path());
    const uint32_t pixels[4] = {0x102030, 0x405060, 0x708090, 0xA0B0C0};
    EXPECT_TRUE(
        quob::common::WritePng(QFile::encodeName(path).toStdString(), {pixels, 2, 2}, texts))
        << path.toStdString();
    return QFileInfo(path).absoluteFilePath();
}

void Click(QWidget *widget) { QTest::mouseClick(widget, Qt::LeftButton); }

void Type(QLineEdit *edit, const QString &text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

void ClickLine(QListWidget *list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, LinePoint(list, row));
}

void DoubleClickLine(QListWidget *list, int row) {
    ClickLine(list, row);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, LinePoint(list, row));
}

QStringList Lines(const QListWidget *list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i) lines.append(list->item(i)->text());
    return lines;
}

void MainWinTest::SetUp() {
    ViewerTest::SetUp();
    win = std::make_unique<TMainWin>(Viewer());
    if (withForms) win->CreateForms();
    Display = Child<TDisplay>(win.get(), "Display");
    win->move(100, 80);
    win->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(win.get()));
    ResizeDisplay(QSize(314, 125));
    win->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(win.get()));
    LibraryCalls.clear();
    RecordedBoxes.clear();
}

void MainWinTest::TearDown() {
    win.reset();
    ViewerTest::TearDown();
}

void MainWinTest::ResizeDisplay(QSize size) {
    win->resize(win->size() + size - Display->size());
    QTRY_COMPARE_WITH_TIMEOUT(Display->size(), size, 5000);
    QCoreApplication::processEvents();
}

void MainWinTest::Mouse(char kind, QPoint p) {
    QWindow *window = win->windowHandle();
    const QPoint at = window->mapFromGlobal(Display->mapToGlobal(p));
    switch (kind) {
        case 'p':
            return QTest::mousePress(window, Qt::LeftButton, {}, at);
        case 'r':
            return QTest::mouseRelease(window, Qt::LeftButton, {}, at);
        case 'm':
            return QTest::mouseMove(window, at);
        case 'c':
            return QTest::mouseClick(window, Qt::LeftButton, {}, at);
        case 'd':
            return QTest::mouseDClick(window, Qt::LeftButton, {}, at);
        case 'D': {
            QMouseEvent event(QEvent::MouseButtonDblClick, p, Display->mapToGlobal(QPointF(p)),
                              Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(Display, &event);
            return;
        }
    }
    FAIL() << "no mouse action " << kind;
}

void MainWinTest::Key(int key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(win.get(), static_cast<Qt::Key>(key), modifiers);
    QCoreApplication::processEvents();
}

void MainWinTest::WaitFilled() {
    QTRY_VERIFY_WITH_TIMEOUT(Viewer().Filled(), 60000);
    win->Displaying();
}

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    TQuobLibrary library;
    std::string error;
    if (!library.Load({QUOB_LIBRARY_DIR}, error)) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
        return 1;
    }
    Real = library.Imports();
    const QUOB_FillerParams defaults = ViewerDefaults();
    const int32_t filler = Real.CreateFiller(&defaults);
    Rendering = filler != 0;
    Real.DeleteFiller(filler);
    if (!Rendering)
        std::fprintf(stderr, "%s: the rendering engine is unavailable; tests of pictures skip\n",
                     argv[0]);
    return RUN_ALL_TESTS();
}
