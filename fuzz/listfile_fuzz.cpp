// libFuzzer target: the readers of the data files ("fractals.dat" and "cadjusts.dat" share the
// formula list's, "hotspots.dat" has the positions'). The first byte of the input chooses the
// list by its low bit, the rest is the file, random and cut anywhere. The list reads the file,
// makes its lines, deletes its first entry and writes the file back, which then holds every whole
// record but the deleted one, and reports no failure.
#include <stdlib.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "datafiles.h"
#include "fuzz_support.h"

namespace {

// Writing into a folder of the fuzzer's own must not fail.
void Report(const QString &message) {
    std::fprintf(stderr, "listfile_fuzz: %s\n", qPrintable(message));
    std::abort();
}

// Reads the file into a list, makes the lines of its list box and deletes its first entry; the
// list writes the file back when it ends. The number of entries read.
template <class TEntry>
int32_t ReadAndDeleteFirst(const char *name) {
    // The list's fixed block is megabytes: on the heap, as the dialogs hold it.
    const auto list = std::make_unique<TStoredList<TEntry>>(name, Report);
    const int32_t count = list->Count();
    for (int32_t i = 0; i < count; ++i) DisplayLine(list->Entry(i));
    list->Delete(0);
    Check(list->Count() == (count > 0 ? count - 1 : 0));
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
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
    const int32_t capacity = positions ? THotEntry::Capacity : TExprEntry::Capacity;
    QFile file(name);
    Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    Check(file.write(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1)) ==
          qsizetype(size - 1));
    file.close();

    const qsizetype records = qsizetype(size - 1) / recordSize;
    const int32_t count =
        positions ? ReadAndDeleteFirst<THotEntry>(name) : ReadAndDeleteFirst<TExprEntry>(name);
    Check(count == std::min<qsizetype>(records, capacity));
    Check(QFile(name).size() == (records - (count > 0 ? 1 : 0)) * recordSize);
    return 0;
}
