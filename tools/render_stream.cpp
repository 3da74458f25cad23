// The band pipeline.
#include "render_stream.h"

#include <algorithm>
#include <vector>

namespace quob::tools {

int32_t BandRowsFor(int32_t width) { return std::clamp<int32_t>((1 << 20) / width, 1, 64); }

bool StreamBands(TBandProducer &producer, common::TPictureWriter &writer,
                 std::atomic<int64_t> &rowsWritten) {
    const int32_t height = producer.Height();
    std::vector<uint32_t> band(static_cast<std::size_t>(producer.BandRows()) *
                               static_cast<std::size_t>(producer.Width()));
    for (int32_t top = 0; top < height; top += producer.BandRows()) {
        const int32_t rows = std::min(producer.BandRows(), height - top);
        if (!producer.Next(band.data()) || !writer.Rows(band.data(), rows)) return false;
        rowsWritten.store(top + rows, std::memory_order_relaxed);
    }
    return writer.Finish();
}

}  // namespace quob::tools
