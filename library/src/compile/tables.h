// The square and sine tables of the integer back end.
//
// Each table exists at most once per loaded library, is built on first use and lives until the
// library is unloaded: compiled functions hold its address. Both lie below 2^31, so generated
// code addresses them with 32-bit absolute addresses.
#pragma once
#include <cstddef>
#include <cstdint>

namespace quob {

constexpr int32_t kTableEntries = 65536;

// Squares of the 16-bit signed integers, by argument from -32768 to 32767.
struct TSQRTable {
    int32_t entries[kTableEntries];
};

// 32767 times the sine over the half turn [0, pi), in steps of pi / 65536.
struct TSINCOSTable {
    int16_t entries[kTableEntries];
};

// The address of the square table's entry for 0 (the entry for i lies at that address + 4i);
// builds the table on first use. nullptr when it cannot be created (a later call tries again).
const int32_t *SquareTable();

// The address of the sine table's entry 0; builds the table on first use. nullptr when it
// cannot be created.
const int16_t *SineTable();

// True once the table has been built (and not freed since).
bool SquareTableBuilt();
bool SineTableBuilt();

// The sine of an angle in units of 1/131072 of a full turn, scaled by 32767, as compiled code
// computes it: the entry selected by the low 16 bits, negated when bit 16 is set. The sine
// table must exist.
int32_t SineLookup(int32_t angle);

// Frees both tables if they were created (the library's unload step).
void FreeLookupTables();

// Where the tables' memory comes from (platform::AllocateLowData normally; released with
// platform::FreeLowBlock). Returns the allocator it replaces, so that a test can make table
// creation fail and restore it.
using TableAllocator = void *(*)(std::size_t size);
TableAllocator SetTableAllocator(TableAllocator allocate);

}  // namespace quob
