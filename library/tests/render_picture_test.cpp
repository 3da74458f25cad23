// Whole pictures against the long double reference renderer and against the pictures of the
// fill before its execution copies kept their values in x87 registers, and the fractal function's
// early-leaving variant against its exact block loop.
#include <cstdio>
#include <cstring>
#include <functional>

#include "fill/filler.h"
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
const Formula kCubic{
    "tx ty x y = ty sqr 3 * tx sqr - tx * x + ret ty sqr tx sqr 3 * - ty * 0.7 y * + ret",
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

void PrintTo(const PictureCase &c, std::ostream *os) { *os << c.name; }

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
        PictureCase{"Home", &kMandelbrot, &kRoots, {.width = 64, .height = 48}},
        PictureCase{"HomeScaledColours", &kMandelbrot, &kScaled, {.width = 61, .height = 37}},
        PictureCase{"Seahorses",
                    &kMandelbrot,
                    &kScaled,
                    {.width = 48,
                     .height = 40,
                     .centerRe = -0.7435,
                     .centerIm = 0.1314,
                     .scale = 0.002,
                     .differential = 0,
                     .iterationsLimit = 60,
                     .blockLength = 7}},
        PictureCase{
            "StartAtZero", &kMandelbrot, &kScaled, {.width = 50, .height = 30, .recursionInit = 1}},
        PictureCase{"EscapeTakesColor",
                    &kMandelbrot,
                    &kScaled,
                    {.width = 50,
                     .height = 30,
                     .iterationsLimit = 40,
                     .blockLength = 1,
                     .escapeColor = 0x00102030,
                     .escapeTakesColor = 1}},
        PictureCase{
            "BlockOfOne",
            &kMandelbrot,
            &kRoots,
            {.width = 40, .height = 40, .maxModule = 4, .iterationsLimit = 100, .blockLength = 1}},
        PictureCase{"Quotients", &kQuotients, &kScaled, {.width = 45, .height = 35}},
        PictureCase{"QuotientsFromZero",
                    &kQuotients,
                    &kScaled,
                    {.width = 20, .height = 10, .recursionInit = 1}},
        PictureCase{"Cubic",
                    &kCubic,
                    &kScaled,
                    {.width = 56, .height = 42, .centerRe = 0, .scale = 3, .blockLength = 3}},
        // An infinite start point: the variant leaves its block on an infinity that raised no
        // flag, so the exact loop has to give the iterate.
        PictureCase{
            "InfiniteCentre",
            &kCubic,
            &kScaled,
            {.width = 12, .height = 8, .centerRe = kInfinity, .maxModule = __builtin_inff()}},
        PictureCase{"InfiniteCentreFromZero",
                    &kQuotients,
                    &kScaled,
                    {.width = 12, .height = 8, .centerIm = -kInfinity, .blockLength = 5}}),
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

// ---- today's pictures -----------------------------------------------------------------------

// Pictures by checksum: FNV-1a over the pixels of the plain fill, the smoothed fill and the
// preview. The checksums are those of the fill whose execution copies were the record's code
// itself (register-resident copies must not change one pixel); never regenerate them to make a
// failing case pass. The formulas use exactly rounded operations only (no FSIN, F2XM1, ...), so
// the pictures are those of any x86 processor in either build.
struct TodaysPicture {
    const char *name;
    uint64_t checksum;
    int32_t width, height;
    const char *fractal;
    const char *color;
    std::function<void(QUOB_FillerParams &)> change = {};
};

constexpr const char *kScaledColor = "x y = x 100 * ret y 100 * ret x y * 50 * ret";

const TodaysPicture kTodaysPictures[] = {
    {"Home", 0xBA7D841553C3087Cull, 160, 120, kDefaultFractal, kDefaultColor},
    {"Seahorses", 0x037F76357C7E4325ull, 48, 36, kDefaultFractal, kDefaultColor,
     [](QUOB_FillerParams &p) {
         p.CenterRe = -0.7435, p.CenterIm = 0.1314, p.Scale = 0.002;
         p.IterationsLimit = 60, p.BlockLength = 7, p.Differential = 0;
     }},
    {"Quotients", 0x24C5B8FEEB6BA95Aull, 48, 36, "tx ty x y = tx ty / x + ret ty tx / y + ret",
     kScaledColor},
    {"Cubic", 0x847CCE4B7BC29B5Eull, 48, 36,
     "tx ty x y = ty sqr 3 * tx sqr - tx * x + ret ty sqr tx sqr 3 * - ty * 0.7 y * + ret",
     kScaledColor, [](QUOB_FillerParams &p) { p.CenterRe = 0, p.Scale = 3, p.BlockLength = 3; }},
    {"BurningShip", 0x95B5867DFF3FF799ull, 48, 36,
     "tx ty x y = tx sqr ty sqr - x + ret tx ty * abs 2 * y + ret", kDefaultColor,
     [](QUOB_FillerParams &p) { p.CenterRe = -0.4, p.CenterIm = -0.6, p.Scale = 2.5; }},
    {"Swapped", 0x7190CF39A00F9D98ull, 48, 36,
     "tx ty x y = ty tx swap / x + ret tx ty swap - y + ret", kScaledColor},
    // Eight values at once: no room for registers of its own, the record's code runs.
    {"DeepStack", 0x63017B61F9B10F07ull, 48, 36,
     "tx ty x y = 0 0 0 0 0 x ty sqr tx sqr - + + + + + + ret y 2 tx ty * * + ret", kDefaultColor},
    // A third fed-back value carries from sample to sample, so the pictures depend on where
    // each block ends: always at its end (the early-leaving variant used to end it at a fault).
    {"ThreeFedBack", 0x52D37DC7BF4F7C84ull, 48, 36,
     "tx ty tz x y = tx sqr ty sqr - x + tz 0.001 * + ret 2 tx ty * * y + ret tz 1 + ret",
     kDefaultColor},
    {"RepeatedColour", 0x8A4E10A362FF013Dull, 48, 36, kDefaultFractal,
     "x y = x x * y y * + sqrt 60 * ret x abs 80 * ret y abs 80 * ret"},
    // Long blocks that overflow: the variant leaves early.
    {"LongBlocks", 0xF9798792157D6735ull, 48, 36, kDefaultFractal, kDefaultColor,
     [](QUOB_FillerParams &p) {
         p.BlockLength = 1000, p.IterationsLimit = 2, p.MaxModule = 1e30f;
     }},
    {"FromZeroEscapeColour", 0xD03A28C0436B1857ull, 48, 36, kDefaultFractal, kScaledColor,
     [](QUOB_FillerParams &p) {
         p.RecursionInit = 1, p.EscapeTakesColor = 1, p.EscapeColor = 0x00102030;
         p.BlockLength = 1, p.IterationsLimit = 40;
     }},
    // Result 0 is copied on the stack and tx read after it: it waits in its cell.
    {"WaitsInItsCell", 0x65F00CED86F18938ull, 48, 36,
     "tx ty x y = tx sqr ty sqr - x + copy ret tx * ty 2 * * y + ret", kScaledColor},
    {"Remainders", 0x8E6D6C333902B67Dull, 48, 36,
     "tx ty x y = tx sqr ty sqr - x + 4 swap \\ ret 2 tx ty * * y + ret", kScaledColor},
    {"ScaleAndDrop", 0x8C9896B1718EAA63ull, 48, 36,
     "tx ty x y = tx sqr ty sqr - x + ret 1 tx ty * scale swap del y + ret", kDefaultColor},
    {"IntegerParts", 0x8CA21B2BA31E4C7Full, 48, 36,
     "tx ty x y = tx sqr ty sqr - x + ret tx ty * 2 * y + 1000 * int 1000 / ret",
     "x y = x y * abs log2 neg 10 * ret x 50 * ret y 50 * ret"},
};

uint64_t PictureChecksum(const TodaysPicture &c) {
    QUOB_FillerParams p = DefaultParams();
    p.FractalFormula = c.fractal;
    p.ColorFormula = c.color;
    if (c.change) c.change(p);
    if (QUOB_CreateFiller(&p) != 1) return 0;
    const int32_t buffer = QUOB_CreateIBufferEx(c.width, c.height, 1);
    uint64_t hash = 14695981039346656037ull;
    for (const int32_t code : {QUOB_MSG_FILL, QUOB_MSG_FILL_SMOOTH, QUOB_MSG_PREVIEW}) {
        QUOB_IBufferMessage(buffer, code);
        const auto *bits = static_cast<const uint8_t *>(QUOB_IBufferDC(buffer));
        for (size_t i = 0; i < 4 * size_t(c.width) * size_t(c.height); ++i)
            hash = (hash ^ bits[i]) * 1099511628211ull;
    }
    QUOB_DeleteIBuffer(buffer);
    QUOB_DeleteFiller(1);
    return hash;
}

void PrintTo(const TodaysPicture &c, std::ostream *os) { *os << c.name; }

class TodaysPictures : public RenderTest, public ::testing::WithParamInterface<TodaysPicture> {};

TEST_P(TodaysPictures, AreDrawnBitForBit) {
    EXPECT_EQ(PictureChecksum(GetParam()), GetParam().checksum);
}

INSTANTIATE_TEST_SUITE_P(Views, TodaysPictures, ::testing::ValuesIn(kTodaysPictures),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quob::test

int main(int argc, char **argv) {
    // Prints every case's checksum under this build.
    if (argc == 2 && std::strcmp(argv[1], "--checksums") == 0) {
        for (const auto &c : quob::test::kTodaysPictures)
            std::printf("%s 0x%016llXull\n", c.name,
                        static_cast<unsigned long long>(quob::test::PictureChecksum(c)));
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
