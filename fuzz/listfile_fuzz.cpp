// libFuzzer target: the readers of the data files ("fractals.dat" and "cadjusts.dat" share the
// formula list's, "hotspots.dat" has the positions'). The first byte of the input chooses the
// list by its low bit, the rest is the file, random and cut anywhere. The list reads the file,
// shows its lines, hands out and deletes its first entry and writes the file back, which then
// holds every whole record but the deleted one, and shows no message.
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "exactp.h"
#include "fdef.h"
#include "main.h"

namespace {

void Check(bool promise) {
    if (!promise) std::abort();
}

QListWidget *box = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication application(*argc, *argv);
    box = new QListWidget;
    // Writing into a folder of the fuzzer's own must not fail.
    MessageBoxHook = [](TBoxIcon, const QString &, const QString &text) {
        std::fprintf(stderr, "listfile_fuzz: %s\n", qPrintable(text));
        std::abort();
    };
    static char folder[] = "/tmp/listfile_fuzz-XXXXXX";
    Check(mkdtemp(folder) != nullptr && chdir(folder) == 0);
    std::atexit([] { QDir(folder).removeRecursively(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const bool positions = data[0] & 1;
    const char *const name = positions ? "hotspots.dat" : "fractals.dat";
    const qsizetype recordSize = positions ? sizeof(THotEntry) : sizeof(TExprEntry);
    const int32_t capacity = positions ? THotList::Capacity : TExprList::Capacity;
    QFile file(name);
    Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    Check(file.write(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)) ==
          qsizetype(size - 1));
    file.close();

    const qsizetype records = qsizetype(size - 1) / recordSize;
    int32_t count;
    if (positions) {
        auto list = std::make_unique<THotList>(name, box);
        count = list->Count();
        Check(box->count() == count);
        box->setCurrentRow(0);
        long double re, im, scale;
        Check(list->GetSelected(re, im, scale) == (count > 0));
        list->DeleteSelected();
    } else {
        auto list = std::make_unique<TExprList>(name, box);
        count = list->Count();
        Check(box->count() == count);
        box->setCurrentRow(0);
        char expression[TExprList::TextSize], comment[TExprList::TextSize];
        Check(list->GetSelected(expression, comment) == (count > 0));
        list->DeleteSelected();
    }
    Check(count == std::min<qsizetype>(records, capacity));
    Check(QFile(name).size() == (records - (count > 0 ? 1 : 0)) * recordSize);
    return 0;
}
