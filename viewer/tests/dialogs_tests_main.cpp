// Runs the dialog tests on Qt's offscreen platform with libquob32 bound through the viewer's own
// ordinal loader; the filler's updates and the buffer's messages are recorded on their way.
#include <QDir>
#include <QFile>
#include <cstdio>

#include "dialogs_testing.h"

std::vector<TLibraryCall> LibraryCalls;
std::vector<TRecordedBox> RecordedBoxes;
QUOB_FillerParams StartParams;

namespace {

TQuobImports Real;

int32_t QUOB_CALL SpyUpdateFiller(int32_t filler, const QUOB_FillerParams *params,
                                  const uint8_t *changes) {
    TLibraryCall call{-1, {}, *params, {}, {}};
    std::copy(changes, changes + QUOB_FP_FIELD_COUNT, call.Changes.begin());
    if (params->FractalFormula) call.Fractal = params->FractalFormula;
    if (params->ColorFormula) call.Color = params->ColorFormula;
    LibraryCalls.push_back(call);
    return Real.UpdateFiller(filler, params, changes);
}

int32_t QUOB_CALL SpyIBufferMessage(int32_t buffer, int32_t code) {
    LibraryCalls.push_back({code, {}, CurrentParams, {}, {}});
    return Real.IBufferMessage(buffer, code);
}

QPoint LinePoint(QListWidget *list, int row) {
    if (row < list->count()) return list->visualItemRect(list->item(row)).center();
    return QPoint(list->viewport()->width() / 2, list->viewport()->height() - 3);
}

}  // namespace

void DialogTest::SetUp() {
    ASSERT_TRUE(dir.isValid());
    previousDir = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    ResetState();
}

void DialogTest::TearDown() {
    QDir::setCurrent(previousDir);
    CurrentParams = StartParams;
}

void DialogTest::ResetState() {
    CurrentParams = StartParams;
    History = std::make_unique<THotSpotStack>();
    History->Push(HomeRe, HomeIm, HomeScale);
    LibraryCalls.clear();
    RecordedBoxes.clear();
}

QByteArray DialogTest::ReadFile(const char *name) {
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void DialogTest::WriteFile(const char *name, const QByteArray &bytes) {
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

std::vector<TLibraryCall> DialogTest::Updates() {
    std::vector<TLibraryCall> updates;
    for (const TLibraryCall &call : LibraryCalls)
        if (call.Code == -1) updates.push_back(call);
    return updates;
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

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    MessageBoxHook = [](TBoxIcon icon, const QString &caption, const QString &text) {
        RecordedBoxes.push_back({icon, caption, text});
    };
    std::string error;
    if (!LoadQuob32(QUOB_LIBRARY_DIR, error)) {
        std::fprintf(stderr, "dialogs_tests: %s\n", error.c_str());
        return 1;
    }
    // Without a filler the updates fail, which the dialogs do not look at: the tests still run.
    if (!ViewerInit()) {
        CurrentParams = DefaultParams;
        CurrentParams.FractalFormula = CurrentParams.ColorFormula = nullptr;
    }
    StartParams = CurrentParams;
    Real = Quob;
    Quob.UpdateFiller = SpyUpdateFiller;
    Quob.IBufferMessage = SpyIBufferMessage;
    const int result = RUN_ALL_TESTS();
    Quob = Real;
    ViewerDone();
    UnloadQuob32();
    return result;
}
