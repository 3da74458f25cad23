// Image buffers in the caller's thread: the table, messages and the order of the samples. The
// pictures of the preview and both fills are compared with the reference renderer in
// render_picture_test.
#include "fill/ibuffer.h"

#include <algorithm>
#include <climits>

#include "render_support.h"

namespace quob::test {
namespace {

using IBufferTest = RenderTest;

// Creates the filler that draws its sample positions (red x and green y, see PointParams), and a
// buffer of that size bound to it.
int32_t PointBuffer(int32_t width, int32_t height) {
    const QUOB_FillerParams p = PointParams(width, height, "x y = x ret y neg ret 0 ret");
    EXPECT_EQ(QUOB_CreateFiller(&p), 1);
    return QUOB_CreateIBufferEx(width, height, 1);
}

// Counts its calls: n is fed back and never rewritten by the filler, and the iterate's real
// part shows the count, drawn as red.
QUOB_FillerParams CountingParams() {
    QUOB_FillerParams p = DefaultParams();
    p.FractalFormula = "tx ty n x y = n 1 + ret 0 ret n 1 + ret";
    p.ColorFormula = "x y = x ret 0 ret 0 ret";
    p.IterationsLimit = 1;
    p.BlockLength = 1;
    p.MaxModule = 1e30f;
    return p;
}

// The order of the samples, which a fed-back value carries from one to the next: the plain fill
// goes down the rows, each from its right edge; the smoothed fill samples each of the
// (W + 1) x (H + 1) corners once in the same order and gives each pixel the mean of its four.
TEST_F(IBufferTest, FillsSampleRowsFromTheRightEdge) {
    const QUOB_FillerParams p = CountingParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t w = 10, h = 6;
    const int32_t buffer = QUOB_CreateIBufferEx(w, h, 1);
    EXPECT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_FILL), 1);
    std::vector<uint32_t> pixels = Pixels(buffer);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            ASSERT_EQ(pixels[y * w + x], uint32_t(y * w + (w - 1 - x) + 1) << 16) << x << "," << y;

    ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_FRACTAL_FORMULA}.flags), 1);  // count 0
    EXPECT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_FILL_SMOOTH), 1);
    auto sample = [&](int32_t x, int32_t r) { return uint32_t(r * (w + 1) + (w - x) + 1); };
    pixels = Pixels(buffer);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t sum =
                sample(x, y) + sample(x + 1, y) + sample(x, y + 1) + sample(x + 1, y + 1);
            ASSERT_EQ(pixels[y * w + x], (sum / 4) << 16) << x << "," << y;
        }
}

// Messages in the caller's thread: the result and what the picture looks like afterwards.
enum class Picture { Untouched, Cleared, Preview, Filled };

struct MessageCase {
    const char *name;
    int32_t code;
    bool bound;
    int32_t result;
    Picture picture;
};

class IBufferMessages : public IBufferTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(IBufferMessages, ResultAndPicture) {
    const MessageCase c = GetParam();
    const int32_t w = 24, h = 12;
    const int32_t buffer = PointBuffer(w, h);
    if (!c.bound) {
        ASSERT_EQ(QUOB_SelectFiller(buffer, 0), 1);
    }
    auto *bits = static_cast<uint32_t *>(QUOB_IBufferDC(buffer));
    std::fill(bits, bits + w * h, 0x00ABCDEFu);
    EXPECT_EQ(QUOB_IBufferMessage(buffer, c.code), c.result);
    const std::vector<uint32_t> pixels = Pixels(buffer);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint32_t expected = 0x00ABCDEF;
            if (c.picture == Picture::Cleared) expected = 0;
            if (c.picture == Picture::Preview)
                expected = (x / 10 * 10 + 5) << 16 | (y / 10 * 10 + 5) << 8;
            if (c.picture == Picture::Filled) expected = x << 16 | y << 8;
            ASSERT_EQ(pixels[y * w + x], expected) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, IBufferMessages,
    ::testing::Values(MessageCase{"Nothing", 0, true, 1, Picture::Untouched},
                      MessageCase{"Clear", 1, true, 1, Picture::Cleared},
                      MessageCase{"ClearAndPreviewDoNeither", 33, true, 1, Picture::Untouched},
                      MessageCase{"Preview", 32, true, 1, Picture::Preview},
                      MessageCase{"PreviewUnbound", 32, false, 0, Picture::Untouched},
                      MessageCase{"ClearUnbound", 1, false, 1, Picture::Cleared},
                      MessageCase{"Fill", 4, true, 1, Picture::Filled},
                      MessageCase{"FillUnbound", 4, false, 0, Picture::Untouched},
                      MessageCase{"ClearThenFill", 5, true, 1, Picture::Filled},
                      MessageCase{"PreviewFailsFillDecides", 36, false, 0, Picture::Untouched},
                      MessageCase{"ReservedBoth", 12, true, 1, Picture::Untouched},
                      MessageCase{"Reserved16", 16, true, 1, Picture::Untouched},
                      MessageCase{"Mode20", 20, true, 0, Picture::Untouched},
                      MessageCase{"Mode24", 24, true, 0, Picture::Untouched},
                      MessageCase{"Mode28", 28, true, 0, Picture::Untouched},
                      MessageCase{"PreviewThenMode20", 52, true, 0, Picture::Preview},
                      MessageCase{"ClearThenUnboundFill", 5, false, 0, Picture::Cleared},
                      MessageCase{"NoWorkerToSuspend", 64 | 128 | 256, true, 1,
                                  Picture::Untouched}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(IBufferTest, TableHolds1024AndReusesTheLowestSlot) {
    for (int32_t i = 1; i <= 1024; ++i) ASSERT_EQ(QUOB_CreateIBuffer(1, 1), i);
    EXPECT_EQ(QUOB_CreateIBuffer(1, 1), 0);
    EXPECT_EQ(QUOB_CreateIBufferEx(1, 1, 0), 0);
    EXPECT_EQ(QUOB_DeleteIBuffer(7), 1);
    EXPECT_EQ(QUOB_DeleteIBuffer(7), 0);
    EXPECT_EQ(QUOB_CreateIBuffer(2, 2), 7);
}

class IBufferWithoutPixels : public IBufferTest,
                             public ::testing::WithParamInterface<std::pair<int32_t, int32_t>> {};

TEST_P(IBufferWithoutPixels, IsRegisteredButDrawsNothing) {
    const auto [w, h] = GetParam();
    const QUOB_FillerParams p = DefaultParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(w, h, 1);
    ASSERT_EQ(buffer, 1);
    QUOB_IBufferInfo info{};
    EXPECT_EQ(QUOB_GetIBuffer(buffer, &info), 0);
    EXPECT_EQ(QUOB_IBufferDC(buffer), nullptr);
    for (int32_t code : {1, 32, 4, 8, 4 | 2, 8 | 2})
        EXPECT_EQ(QUOB_IBufferMessage(buffer, code), 0);
    EXPECT_EQ(QUOB_IBufferMessage(buffer, 64 | 128 | 256), 1);
    EXPECT_EQ(QUOB_IBufferFilled(buffer), 1);
    EXPECT_EQ(QUOB_SelectFiller(buffer, 1), 1);
    EXPECT_EQ(QUOB_DeleteIBuffer(buffer), 1);
}

INSTANTIATE_TEST_SUITE_P(Sizes, IBufferWithoutPixels,
                         ::testing::Values(std::pair{0, 10}, std::pair{10, 0}, std::pair{-5, 10},
                                           std::pair{INT32_MAX / 4 + 1, 1}));

TEST_F(IBufferTest, EmptySlotsFailExceptFilled) {
    for (int32_t handle : {0, 1, 1024, 1025, -1}) {
        QUOB_IBufferInfo info{};
        EXPECT_EQ(QUOB_GetIBuffer(handle, &info), 0);
        EXPECT_EQ(QUOB_SelectFiller(handle, 1), 0);
        EXPECT_EQ(QUOB_IBufferMessage(handle, 0), 0);
        EXPECT_EQ(QUOB_IBufferDC(handle), nullptr);
        EXPECT_EQ(QUOB_DeleteIBuffer(handle), 0);
        EXPECT_EQ(QUOB_IBufferFilled(handle), 1);
    }
}

TEST_F(IBufferTest, InfoDescribesTheBottomUpPixels) {
    const int32_t buffer = PointBuffer(31, 17);
    QUOB_IBufferInfo info{};
    ASSERT_EQ(QUOB_GetIBuffer(buffer, &info), 1);
    EXPECT_EQ(info.Valid, 1);
    EXPECT_EQ(info.Width, 31);
    EXPECT_EQ(info.Height, 17);
    EXPECT_EQ(info.BytesPerLine, 124);
    EXPECT_EQ(info.Filler, 1);
    // Copies: the packed record's pointer fields are not aligned for a reference.
    void *const bits = info.Bits, *const dc = info.DC, *const bitmap = info.Bitmap;
    EXPECT_NE(bits, nullptr);
    EXPECT_EQ(dc, bits);
    EXPECT_EQ(bitmap, bits);
    EXPECT_EQ(QUOB_IBufferDC(buffer), bits);
    for (uint32_t pixel : Pixels(buffer)) ASSERT_EQ(pixel, 0u);  // a new picture is black
    ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_FILL), 1);
    // The first stored row is the picture's bottom row, y = 16; each row starts at x = 0.
    const auto *stored = static_cast<const uint32_t *>(bits);
    EXPECT_EQ(stored[0], 0x00001000u);
    EXPECT_EQ(stored[3], 0x00031000u);
    EXPECT_EQ(stored[16 * 31 + 30], 0x001E0000u);
}

TEST_F(IBufferTest, SelectingTheFillerGivesItTheBuffersSize) {
    QUOB_FillerParams p = DefaultParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBuffer(300, 150);
    QUOB_IBufferInfo info{};
    ASSERT_EQ(QUOB_GetIBuffer(buffer, &info), 1);
    EXPECT_EQ(info.Filler, 0);
    EXPECT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_FILL), 0);
    EXPECT_EQ(QUOB_SelectFiller(buffer, 1), 1);
    ASSERT_EQ(QUOB_GetFiller(1, &p), 1);
    EXPECT_EQ(p.Width, 300);
    EXPECT_EQ(p.Height, 150);
    ASSERT_EQ(QUOB_GetIBuffer(buffer, &info), 1);
    EXPECT_EQ(info.Filler, 1);
    EXPECT_EQ(QUOB_SelectFiller(buffer, 0), 1);
    EXPECT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_PREVIEW), 0);
}

TEST_F(IBufferTest, SelectingAMissingFillerKeepsTheBinding) {
    const int32_t buffer = PointBuffer(20, 10);
    ASSERT_EQ(QUOB_DeleteFiller(1), 1);
    EXPECT_EQ(QUOB_SelectFiller(buffer, 1), 0);
    QUOB_IBufferInfo info{};
    ASSERT_EQ(QUOB_GetIBuffer(buffer, &info), 1);
    EXPECT_EQ(info.Filler, 1);
    // The routine of a deleted filler draws black.
    EXPECT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_FILL), 1);
    for (uint32_t pixel : Pixels(buffer)) ASSERT_EQ(pixel, 0u);
}

}  // namespace
}  // namespace quob::test
