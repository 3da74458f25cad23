// The rendering unit's load and unload steps.
#pragma once

namespace quob {

// Creates the table of image buffers.
void RenderingUnitInit();
// Frees the table with every buffer still in it (their workers are stopped first).
void RenderingUnitDone();

}  // namespace quob
