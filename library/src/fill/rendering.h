// The rendering unit's load and unload steps. They run from the library's constructor and
// destructor functions, which the loader calls after the static destructors of the library: the
// state they touch must live in plain (trivially destructible) variables.
#pragma once

namespace quob {

// Creates the table of image buffers.
void RenderingUnitInit();
// Frees the table with every buffer still in it (their workers are stopped first).
void RenderingUnitDone();

}  // namespace quob
