// The band pipeline of quob-render: a producer's bands written to a picture file as they come.
#pragma once
#include <atomic>
#include <cstdint>

#include "fill/bandfill.h"
#include "picture_files.h"

namespace quob::tools {

// Rows of a band of a picture `width` pixels wide: about a million pixels and at most 64 rows,
// so that the few bands in memory stay small whatever the picture's size, and a band's writing
// costs little beside its samples.
int32_t BandRowsFor(int32_t width);

// Takes the producer's bands in order and writes each one at once, counting the rows written.
// False when the producer was stopped or the writer failed (its Error() tells why).
bool StreamBands(TBandProducer &producer, common::TPictureWriter &writer,
                 std::atomic<int64_t> &rowsWritten);

}  // namespace quob::tools
