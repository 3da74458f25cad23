// Streamed pictures against the image buffer's fill of the whole picture, file byte for file
// byte; anti-aliasing's grid; stopping the band fill. Runs under TSan as well.
#include "render_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <thread>

#include "render_support.h"

namespace quob::test {
namespace {

using common::TBmpWriter;
using common::TPictureWriter;
using common::TPngWriter;

constexpr int32_t kThreads = 3;  // more than this machine's cores: threads share them
constexpr int32_t kBandRows = 37;

std::vector<uint8_t> Bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Streams : public RenderTest {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("render_stream_test_" + std::to_string(getpid()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        RenderTest::TearDown();
        std::filesystem::remove_all(folder_);
    }

    // A picture file written through `write`, which gets a writer onto it.
    std::vector<uint8_t> File(bool png, int32_t w, int32_t h,
                              const std::function<void(TPictureWriter &)> &write) {
        const std::string path = (folder_ / (png ? "p.png" : "p.bmp")).string();
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        std::unique_ptr<TPictureWriter> writer;
        if (png)
            writer = std::make_unique<TPngWriter>(fd, w, h, std::vector<common::TextChunk>{});
        else
            writer = std::make_unique<TBmpWriter>(fd, w, h);
        write(*writer);
        close(fd);
        return Bytes(path);
    }

    // The picture through the band pipeline.
    std::vector<uint8_t> Streamed(bool png, TBandMode mode, int32_t supersample, int32_t w,
                                  int32_t h) {
        TBandFill fill(mode, supersample, kBandRows, kThreads);
        return File(png, w, h, [&](TPictureWriter &writer) {
            std::atomic<int64_t> rows{0};
            EXPECT_TRUE(tools::StreamBands(fill, writer, rows));
            EXPECT_EQ(rows.load(), h);
        });
    }

    // The image buffer's picture, filled whole in the caller's thread, written row by row.
    std::vector<uint8_t> Whole(bool png, int32_t buffer, int32_t code) {
        EXPECT_EQ(QUOB_IBufferMessage(buffer, code), 1);
        QUOB_IBufferInfo info{};
        EXPECT_EQ(QUOB_GetIBuffer(buffer, &info), 1);
        const auto *bits = static_cast<const uint32_t *>(info.Bits);
        return File(png, info.Width, info.Height, [&](TPictureWriter &writer) {
            for (int32_t y = info.Height - 1; y >= 0; --y)
                EXPECT_TRUE(writer.Rows(bits + std::size_t(y) * info.Width, 1));
            EXPECT_TRUE(writer.Finish());
        });
    }

    std::filesystem::path folder_;
};

struct StreamCase {
    const char *name;
    TBandMode mode;
    bool png;
    QUOB_FillerParams (*params)();
    int32_t threads;  // that the band fill gets
};

void PrintTo(const StreamCase &c, std::ostream *out) { *out << c.name; }

QUOB_FillerParams Home() { return DefaultParams(); }

// A fed-back count that no sample resets: each sample sees the count of the ones before it, so
// the picture is the whole fill's only if the samples come in the whole fill's order.
QUOB_FillerParams CountsItsCalls() {
    QUOB_FillerParams p = DefaultParams();
    p.FractalFormula = "tx ty n x y = n 1 + ret 0 ret n 1 + ret";
    p.ColorFormula = "x y = x sin 100 * 128 + ret 0 ret 0 ret";
    p.IterationsLimit = 1;
    p.BlockLength = 1;
    p.MaxModule = 1e30f;
    return p;
}

class StreamedPictures : public Streams, public ::testing::WithParamInterface<StreamCase> {};

// 1000 x 700 in bands of 37 rows (the last one of 34), so that the smoothed fill's shared sample
// rows and the preview's block rows fall across band borders.
TEST_P(StreamedPictures, EqualTheWholeFillByteForByte) {
    const StreamCase &c = GetParam();
    const QUOB_FillerParams p = c.params();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(1000, 700, 1);
    const int32_t codes[] = {QUOB_MSG_FILL, QUOB_MSG_FILL_SMOOTH, QUOB_MSG_PREVIEW};
    const std::vector<uint8_t> whole = Whole(c.png, buffer, codes[static_cast<int>(c.mode)]);
    // A new compilation starts from fresh cells (the count of CountsItsCalls).
    QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_FRACTAL_FORMULA}.flags);
    EXPECT_EQ(TBandFill(c.mode, 1, kBandRows, kThreads).Threads(), c.threads);
    const std::vector<uint8_t> streamed = Streamed(c.png, c.mode, 1, 1000, 700);
    ASSERT_EQ(streamed.size(), whole.size());
    EXPECT_TRUE(streamed == whole);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, StreamedPictures,
    ::testing::Values(StreamCase{"PlainBmp", TBandMode::kPlain, false, Home, kThreads},
                      StreamCase{"PlainPng", TBandMode::kPlain, true, Home, kThreads},
                      StreamCase{"SmoothedBmp", TBandMode::kSmoothed, false, Home, kThreads},
                      StreamCase{"SmoothedPng", TBandMode::kSmoothed, true, Home, kThreads},
                      StreamCase{"PreviewBmp", TBandMode::kPreview, false, Home, kThreads},
                      StreamCase{"CountsPlain", TBandMode::kPlain, false, CountsItsCalls, 1},
                      StreamCase{"CountsSmoothed", TBandMode::kSmoothed, false, CountsItsCalls, 1},
                      StreamCase{"CountsPreview", TBandMode::kPreview, false, CountsItsCalls, 1}),
    [](const auto &info) { return std::string(info.param.name); });

// A colour that grows linearly with the point, 64 levels a pixel: the mean of N x N samples on a
// grid centred on the pixel's point is the colour of the point itself, for every N. A grid off
// centre, or a mean that is not one, shifts the levels.
TEST_F(Streams, SupersamplingAveragesAGridCentredOnThePixel) {
    const int32_t w = 4, h = 3;
    const QUOB_FillerParams p =
        PointParams(w, h, "x y = x 64 * 32 + ret y neg 64 * 32 + ret 0 ret");
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(w, h, 1);
    const std::vector<uint8_t> plain = Whole(false, buffer, QUOB_MSG_FILL);
    for (int32_t n = 1; n <= 8; ++n)
        EXPECT_EQ(Streamed(false, TBandMode::kPlain, n, w, h), plain) << n << " x " << n;
    // On the home view's edges the samples differ, and so do the pixels.
    QUOB_DeleteIBuffer(buffer);
    QUOB_DeleteFiller(1);
    const QUOB_FillerParams home = DefaultParams();
    ASSERT_EQ(QUOB_CreateFiller(&home), 1);
    const int32_t homeBuffer = QUOB_CreateIBufferEx(64, 48, 1);
    EXPECT_NE(Streamed(false, TBandMode::kPlain, 3, 64, 48),
              Whole(false, homeBuffer, QUOB_MSG_FILL));
}

// Stop ends a Next that waits for slow rows, and a band fill whose client took no band ends at
// once: its threads wait for room in the ring.
TEST_F(Streams, StopAndDestructionEndTheThreads) {
    QUOB_FillerParams p = DefaultParams();
    p.FractalFormula = "tx ty x y = 0 ret 0 ret";  // never escapes, never settles
    p.Differential = 0;
    p.IterationsLimit = 1000;
    p.BlockLength = 1000;  // a million iterations for every sample
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    QUOB_CreateIBufferEx(400, 300, 1);
    {
        TBandFill slow(TBandMode::kSmoothed, 1, 8, kThreads);
        std::vector<uint32_t> band(8 * 400);
        auto next = std::async(std::launch::async, [&] { return slow.Next(band.data()); });
        slow.Stop();
        EXPECT_FALSE(next.get());
        EXPECT_FALSE(slow.Next(band.data()));
    }
    const QUOB_FillerParams quick = DefaultParams();
    QUOB_UpdateFiller(1, &quick, ChangeSet{QUOB_FP_ITERATIONS_LIMIT}.flags);
    {
        TBandFill unread(TBandMode::kPlain, 1, 1, kThreads);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace
}  // namespace quob::test
