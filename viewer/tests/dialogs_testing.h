// Shared state of the dialog tests: one process, one library, one filler, and spies on the two
// library calls through which the dialogs apply their changes.
#ifndef SPIRALIS_DIALOGS_TESTING_H
#define SPIRALIS_DIALOGS_TESTING_H

#include <gtest/gtest.h>

#include <QByteArray>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "main.h"

using TChanges = std::array<uint8_t, QUOB_FP_FIELD_COUNT>;

// One call of QUOB_UpdateFiller (Code -1) or QUOB_IBufferMessage, as the record stood then.
struct TLibraryCall {
    int32_t Code;
    TChanges Changes;
    QUOB_FillerParams Params;
    std::optional<std::string> Fractal, Color;  // the formula texts, when the fields were set
};
extern std::vector<TLibraryCall> LibraryCalls;  // since the last ResetState, in order

struct TRecordedBox {
    TBoxIcon Icon;
    QString Caption, Text;
};
extern std::vector<TRecordedBox> RecordedBoxes;  // since the last ResetState, in order

extern QUOB_FillerParams StartParams;  // CurrentParams as start-up left it

// Each test runs in a fresh, empty working directory, where the dialogs' files go.
class DialogTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // CurrentParams and the history as after start-up; no calls or boxes recorded.
    static void ResetState();

    static QByteArray ReadFile(const char *name);
    static void WriteFile(const char *name, const QByteArray &bytes);
    static std::vector<TLibraryCall> Updates();

  private:
    QTemporaryDir dir;
    QString previousDir;
};

// Input through Qt's event delivery.
void Click(QWidget *widget);
void Type(QLineEdit *edit, const QString &text);  // replaces the text; ASCII only
// A row beyond the lines hits the empty area below them.
void ClickLine(QListWidget *list, int row);
void DoubleClickLine(QListWidget *list, int row);
QStringList Lines(const QListWidget *list);

#endif  // SPIRALIS_DIALOGS_TESTING_H
