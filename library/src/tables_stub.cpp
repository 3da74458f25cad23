// Placeholder until the integer back end's lookup tables exist: nothing is ever created.
#include "tables.h"

namespace quob {
void FreeLookupTables() {}
}  // namespace quob
