// Whole pictures against the long double reference renderer, and the fractal function's
// early-leaving variant against its exact block loop.
#include <functional>

#include "filler.h"
#include "render_reference.h"
#include "render_support.h"

namespace quob::test {
namespace {

using reference::View;
using FractalStep = std::function<void(long double &, long double &, long double, long double)>;
using ColorStep = std::function<void(long double, long double, long double[3])>;

struct Formula {
    const char *text;
    FractalStep fractal;
};

struct Coloring {
    const char *text;
    ColorStep color;
};

const Formula kMandelbrot{kDefaultFractal, reference::Mandelbrot};
// Quotients: zero divides and invalid operations in some samples.
const Formula kQuotients{"tx ty x y = tx ty / x + ret ty tx / y + ret",
                         [](long double &tx, long double &ty, long double x, long double y) {
                             const long double re = ty / tx + x;
                             ty = tx / ty + y;
                             tx = re;
                         }};
// Cubic, with a constant that a single cannot hold exactly.
const Formula kCubic{"tx ty x y = ty sqr 3 * tx sqr - tx * x + ret ty sqr tx sqr 3 * - ty * 0.7 y * + ret",
                     [](long double &tx, long double &ty, long double x, long double y) {
                         const long double re = (tx * tx - 3 * (ty * ty)) * tx + x;
                         ty = (3 * (tx * tx) - ty * ty) * ty + static_cast<long double>(0.7f) * y;
                         tx = re;
                     }};

const Coloring kRoots{kDefaultColor, reference::Roots};
const Coloring kScaled{"x y = x 100 * ret y 100 * ret x y * 50 * ret",
                       [](long double x, long double y, long double out[3]) {
                           out[0] = x * 100;
                           out[1] = y * 100;
                           out[2] = x * y * 50;
                       }};

struct PictureCase {
    const char *name;
    const Formula *formula;
    const Coloring *coloring;
    View view;
};

View Make(int32_t w, int32_t h, std::function<void(View &)> change = {}) {
    View v;
    v.width = w;
    v.height = h;
    if (change) change(v);
    return v;
}

QUOB_FillerParams ParamsOf(const PictureCase &c) {
    QUOB_FillerParams p = DefaultParams();
    const View &v = c.view;
    p.FractalFormula = c.formula->text;
    p.ColorFormula = c.coloring->text;
    p.CenterRe = v.centerRe;
    p.CenterIm = v.centerIm;
    p.Scale = v.scale;
    p.MaxModule = v.maxModule;
    p.Differential = v.differential;
    p.IterationsLimit = v.iterationsLimit;
    p.RecursionInit = v.recursionInit;
    p.BlockLength = v.blockLength;
    p.EscapeColor = static_cast<int32_t>(v.escapeColor);
    p.EscapeTakesColor = v.escapeTakesColor;
    return p;
}

class Pictures : public RenderTest, public ::testing::WithParamInterface<PictureCase> {
protected:
    void TearDown() override {
        UseFractalVariant(true);
        RenderTest::TearDown();
    }

    int32_t Buffer() {
        const QUOB_FillerParams p = ParamsOf(GetParam());
        EXPECT_EQ(QUOB_CreateFiller(&p), 1);
        return QUOB_CreateIBufferEx(GetParam().view.width, GetParam().view.height, 1);
    }

    std::vector<uint32_t> Draw(int32_t buffer, int32_t code) {
        EXPECT_EQ(QUOB_IBufferMessage(buffer, code), 1);
        return Pixels(buffer);
    }
};

TEST_P(Pictures, MatchTheReferenceRenderer) {
    const PictureCase &c = GetParam();
    const auto renderer = reference::MakeRenderer(c.view, c.formula->fractal, c.coloring->color);
    const int32_t buffer = Buffer();
    EXPECT_EQ(Draw(buffer, QUOB_MSG_FILL), renderer.Plain());
    EXPECT_EQ(Draw(buffer, QUOB_MSG_FILL_SMOOTH), renderer.Smoothed());
    EXPECT_EQ(Draw(buffer, QUOB_MSG_PREVIEW), renderer.Preview());
}

TEST_P(Pictures, VariantDrawsWhatTheExactLoopDraws) {
    const int32_t buffer = Buffer();
    const std::vector<uint32_t> variant = Draw(buffer, QUOB_MSG_FILL);
    UseFractalVariant(false);
    EXPECT_EQ(Draw(buffer, QUOB_MSG_CLEAR | QUOB_MSG_FILL), variant);
}

constexpr double kInfinity = __builtin_inf();

INSTANTIATE_TEST_SUITE_P(
    Views, Pictures,
    ::testing::Values(
        PictureCase{"Home", &kMandelbrot, &kRoots, Make(64, 48)},
        PictureCase{"HomeScaledColours", &kMandelbrot, &kScaled, Make(61, 37)},
        PictureCase{"Seahorses", &kMandelbrot, &kScaled,
                    Make(48, 40,
                         [](View &v) {
                             v.centerRe = -0.7435;
                             v.centerIm = 0.1314;
                             v.scale = 0.002;
                             v.iterationsLimit = 60;
                             v.blockLength = 7;
                             v.differential = 0;
                         })},
        PictureCase{"StartAtZero", &kMandelbrot, &kScaled,
                    Make(50, 30, [](View &v) { v.recursionInit = 1; })},
        PictureCase{"EscapeTakesColor", &kMandelbrot, &kScaled,
                    Make(50, 30,
                         [](View &v) {
                             v.escapeTakesColor = 1;
                             v.escapeColor = 0x00102030;
                             v.blockLength = 1;
                             v.iterationsLimit = 40;
                         })},
        PictureCase{"BlockOfOne", &kMandelbrot, &kRoots,
                    Make(40, 40,
                         [](View &v) {
                             v.blockLength = 1;
                             v.iterationsLimit = 100;
                             v.maxModule = 4;
                         })},
        PictureCase{"Quotients", &kQuotients, &kScaled, Make(45, 35)},
        PictureCase{"QuotientsFromZero", &kQuotients, &kScaled,
                    Make(20, 10, [](View &v) { v.recursionInit = 1; })},
        PictureCase{"Cubic", &kCubic, &kScaled,
                    Make(56, 42,
                         [](View &v) {
                             v.centerRe = 0;
                             v.scale = 3;
                             v.blockLength = 3;
                             v.escapeTakesColor = 0;
                         })},
        // An infinite start point: the variant leaves its block on an infinity that raised no
        // flag, so the exact loop has to give the iterate.
        PictureCase{"InfiniteCentre", &kCubic, &kScaled,
                    Make(12, 8,
                         [](View &v) {
                             v.centerRe = kInfinity;
                             v.maxModule = kInfinity;
                         })},
        PictureCase{"InfiniteCentreFromZero", &kQuotients, &kScaled,
                    Make(12, 8,
                         [](View &v) {
                             v.centerIm = -kInfinity;
                             v.recursionInit = 0;
                             v.blockLength = 5;
                         })}),
    [](const auto &info) { return std::string(info.param.name); });

// A fed-back value that becomes infinite without any flag (copied from an infinite point):
// leaving the block there would colour the sample from an iterate 19 iterations early.
TEST_F(RenderTest, VariantMatchesOnSilentInfinities) {
    QUOB_FillerParams p = DefaultParams();
    p.FractalFormula = "tx ty x y = x ret ty 1 + ret";
    p.ColorFormula = "x y = 0 ret y ret 0 ret";
    p.CenterRe = kInfinity;
    p.RecursionInit = 1;
    p.Width = p.Height = 4;
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_WIDTH, QUOB_FP_HEIGHT}.flags), 1);
    EXPECT_EQ(quob_pixel_routine(1, 1), 20u << 8);  // the whole block of 20 ran
    UseFractalVariant(false);
    EXPECT_EQ(quob_pixel_routine(1, 1), 20u << 8);
    UseFractalVariant(true);
}

}  // namespace
}  // namespace quob::test
