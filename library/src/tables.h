// The square and sine tables of the integer back end.
#pragma once

namespace quob {

// Frees both tables if they were created (the library's unload step).
void FreeLookupTables();

}  // namespace quob
