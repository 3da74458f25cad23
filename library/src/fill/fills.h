// What every fill shares, whichever engine runs it (the image buffers' fills, the band fills, the
// deep fills): the preview's blocks, the smoothed pixel's mean, how many threads a fill uses, and
// that only one fill may run at a time.
#pragma once
#include <cstdint>

namespace quob {

// The preview's blocks: one sample at the centre of each 10 x 10 block.
constexpr int32_t kPreviewBlock = 10;

// A pixel of the smoothed fill: the floor of the per-channel mean of the colours at its corners.
uint32_t Mean(uint32_t a, uint32_t b, uint32_t c, uint32_t d);

// How many threads a threaded fill uses: n, or with 0 (the default) one per processor core.
void SetFillThreads(int32_t n);
int32_t FillThreads();

// Stops the fill of every image buffer: the one filler's fields and compiled code are shared by
// all fills, so a sample may only be computed while no other fill runs.
void StopAllFills();
// The deep image buffers' part of StopAllFills (release false), and of the library's unload
// (release true: the buffers go), which they register where they are built in.
void SetDeepFills(void (*deepFills)(bool release));

}  // namespace quob
