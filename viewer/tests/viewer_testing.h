// Shared state of the viewer tests: one process, one library, one filler.
#ifndef SPIRALIS_VIEWER_TESTING_H
#define SPIRALIS_VIEWER_TESTING_H

#include <gtest/gtest.h>

#include <QString>
#include <vector>

#include "main.h"

// FillerParams is packed: its doubles may lie misaligned, so the tests compare copies of its
// fields (+CurrentParams.Scale) rather than bind references to them (UBSan reports that).

// True when QUOB_CreateFiller accepted DefaultParams at start: the rendering engine is there.
extern bool RenderingAvailable;

#define SKIP_WITHOUT_RENDERING()                                          \
    if (!RenderingAvailable)                                              \
    GTEST_SKIP() << "libquob32 reports the rendering engine unavailable " \
                    "(QUOB_CreateFiller returned 0 for DefaultParams)"

struct TRecordedBox {
    TBoxIcon Icon;
    QString Caption, Text;
};
// The message boxes shown since the last ResetViewer, in order.
extern std::vector<TRecordedBox> RecordedBoxes;

// The state after start-up: home view in CurrentParams, a history holding only the home view,
// no hot spot, the default cursor, no recorded boxes.
void ResetViewer();

#endif  // SPIRALIS_VIEWER_TESTING_H
