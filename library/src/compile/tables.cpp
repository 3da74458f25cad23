// The square and sine tables: built on first use, freed at unload.
#include "compile/tables.h"

#include <cmath>

#include "platform/platform.h"

namespace quob {
namespace {

TSQRTable *squares = nullptr;
TSINCOSTable *sines = nullptr;
TableAllocator allocateTable = platform::AllocateLowData;

constexpr int32_t kZeroIndex = 32768;  // position of the square of 0

void BuildSquares(TSQRTable &table) {
    for (int32_t i = -32768; i <= 32767; ++i) table.entries[i + kZeroIndex] = i * i;
}

// Entry i: sin(i * pi / 65536) * 32767 on the x87 unit, rounded by the rounding mode in force.
int16_t SineEntry(int32_t i) {
    constexpr float kStep = 1.52587890625e-05f;  // 2^-16
    constexpr float kScale = 32767.0f;
    long double pi;
    __asm__("fldpi" : "=t"(pi));
    long double x = static_cast<long double>(i) * pi * kStep;
    uint16_t status;
    __asm__("fsin\n\tfnstsw %%ax" : "+t"(x), "=a"(status));
    if (status & 0x0400) x = 0;  // C2: argument out of range
    return static_cast<int16_t>(std::lrint(x * kScale));
}

void BuildSines(TSINCOSTable &table) {
    for (int32_t i = 0; i < kTableEntries; ++i) table.entries[i] = SineEntry(i);
}

}  // namespace

const int32_t *SquareTable() {
    if (!squares) {
        auto *table = static_cast<TSQRTable *>(allocateTable(sizeof(TSQRTable)));
        if (!table) return nullptr;
        BuildSquares(*table);
        squares = table;
    }
    return &squares->entries[kZeroIndex];
}

const int16_t *SineTable() {
    if (!sines) {
        auto *table = static_cast<TSINCOSTable *>(allocateTable(sizeof(TSINCOSTable)));
        if (!table) return nullptr;
        BuildSines(*table);
        sines = table;
    }
    return sines->entries;
}

bool SquareTableBuilt() { return squares != nullptr; }
bool SineTableBuilt() { return sines != nullptr; }

int32_t SineLookup(int32_t angle) {
    const int32_t entry = sines->entries[angle & 0xFFFF];
    return (angle & 0x10000) ? -entry : entry;
}

void FreeLookupTables() {
    if (squares) platform::FreeLowBlock(squares, sizeof(TSQRTable));
    if (sines) platform::FreeLowBlock(sines, sizeof(TSINCOSTable));
    squares = nullptr;
    sines = nullptr;
}

TableAllocator SetTableAllocator(TableAllocator allocate) {
    const TableAllocator previous = allocateTable;
    allocateTable = allocate;
    return previous;
}

}  // namespace quob
