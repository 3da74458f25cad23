// The filler's exports and its pixel routine.
#include "fill/filler.h"

#include <algorithm>
#include <cmath>

#include "render_support.h"

namespace quob::test {
namespace {

using FillerTest = RenderTest;

long double Cell(const uint8_t *cell) {
    long double v = 0;
    std::memcpy(&v, cell, 10);
    return v;
}

// A cell of the installed fractal function.
const uint8_t *FractalCell(uint32_t offset) { return FillerState().fractal.function->Cell(offset); }

std::string FunctionName(int32_t handle) {
    QUOB_FunctionRecord record{};
    return GetFunction(handle, &record) ? std::string(record.Name) : std::string("<none>");
}

uint16_t ControlWord() {
    uint16_t cw;
    asm volatile("fnstcw %0" : "=m"(cw));
    return cw;
}

void SetControlWord(uint16_t cw) { asm volatile("fnclex\n\tfldcw %0" ::"m"(cw)); }

bool SameFormula(const TCompiledFormula &a, const TCompiledFormula &b) {
    return a.handle == b.handle && a.letter == b.letter && a.function == b.function &&
           a.leavesOnFault == b.leavesOnFault && a.x == b.x && a.y == b.y &&
           std::equal(a.cells, a.cells + 3, b.cells) && a.fedBackBytes == b.fedBackBytes;
}

bool SameState(const TFillerState &a, const TFillerState &b) {
    return a.exists == b.exists && a.version == b.version && a.description == b.description &&
           a.width == b.width && a.height == b.height && a.centerRe == b.centerRe &&
           a.centerIm == b.centerIm && a.scale == b.scale && a.maxModule == b.maxModule &&
           a.differential == b.differential && a.iterationsLimit == b.iterationsLimit &&
           a.recursionInit == b.recursionInit && a.blockLength == b.blockLength &&
           a.escapeColor == b.escapeColor && a.escapeTakesColor == b.escapeTakesColor &&
           a.step == b.step && SameFormula(a.fractal, b.fractal) && SameFormula(a.color, b.color);
}

// The colour of sample (x, y) under the filler as it stands.
uint32_t Colour(int32_t x, int32_t y) {
    QUOB_FillerParams identity{};
    EXPECT_EQ(QUOB_GetFiller(1, &identity), 1);
    return identity.PixelRoutine(x, y);
}

TEST_F(FillerTest, CreationChecksVersionAndUniqueness) {
    QUOB_FillerParams p = DefaultParams();
    p.Version = 2;
    EXPECT_EQ(QUOB_CreateFiller(&p), 0);
    p.Version = 1;
    EXPECT_EQ(QUOB_CreateFiller(&p), 1);
    EXPECT_EQ(QUOB_CreateFiller(&p), 0);

    QUOB_FillerParams got{};
    std::memset(&got, 0xAB, sizeof got);
    EXPECT_EQ(QUOB_GetFiller(1, &got), 1);
    EXPECT_EQ(got.Version, 1);
    // Copies: the packed record's pointer fields are not aligned for a reference.
    EXPECT_EQ(static_cast<QUOB_PixelRoutine>(got.PixelRoutine), &quob_pixel_routine);
    EXPECT_EQ(static_cast<const void *>(got.Description), kDefaultDescription);
    EXPECT_EQ(got.Width, 0);
    EXPECT_EQ(got.Height, 0);
    EXPECT_EQ(reinterpret_cast<const uint8_t *>(&got)[offsetof(QUOB_FillerParams, Height) + 4],
              0xAB);  // only the first five fields are written
}

TEST_F(FillerTest, HandleZeroAndMissingFillerFail) {
    QUOB_FillerParams p = DefaultParams();
    const ChangeSet none{};
    EXPECT_EQ(QUOB_UpdateFiller(1, &p, none.flags), 0);
    EXPECT_EQ(QUOB_GetFiller(1, &p), 0);
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    EXPECT_EQ(QUOB_UpdateFiller(0, &p, none.flags), 0);
    EXPECT_EQ(QUOB_GetFiller(0, &p), 0);
    EXPECT_EQ(QUOB_DeleteFiller(0), 0);
    EXPECT_EQ(QUOB_DeleteFiller(1), 1);
    EXPECT_EQ(QUOB_GetFiller(1, &p), 0);
    EXPECT_EQ(QUOB_CreateFiller(&p), 1);  // may be created again
}

TEST_F(FillerTest, EmptyChangeSetChangesNothing) {
    QUOB_FillerParams p = DefaultParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const TFillerState before = FillerState();
    QUOB_FillerParams other{};
    other.FractalFormula = "bad";
    other.Width = 77;
    other.Scale = 9;
    const ChangeSet none{};
    EXPECT_EQ(QUOB_UpdateFiller(1, &other, none.flags), 1);
    EXPECT_TRUE(SameState(before, FillerState()));
}

TEST_F(FillerTest, StepFollowsHeightAndScale) {
    QUOB_FillerParams p = DefaultParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    EXPECT_EQ(FillerState().step, 0.0);  // Height is 0 after creation
    p.Scale = 4;
    EXPECT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_SCALE}.flags), 1);
    EXPECT_EQ(FillerState().step, 0.0);  // still no height
    p.Width = 100;
    p.Height = 100;
    EXPECT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_WIDTH, QUOB_FP_HEIGHT}.flags), 1);
    EXPECT_EQ(FillerState().step, 0.04);
    p.Scale = 2;
    EXPECT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_SCALE}.flags), 1);
    EXPECT_EQ(FillerState().step, 0.02);
    p.Height = 0;
    p.Scale = 8;
    EXPECT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_HEIGHT, QUOB_FP_SCALE}.flags), 1);
    EXPECT_EQ(FillerState().step, 0.02);  // kept while Height is 0
}

struct MappingCase {
    int32_t x, y;
    double re, im;
};

class FillerMapping : public FillerTest, public ::testing::WithParamInterface<MappingCase> {};

TEST_P(FillerMapping, SampleLandsOnItsPoint) {
    QUOB_FillerParams p = DefaultParams();
    p.Width = 100;
    p.Height = 100;
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_WIDTH, QUOB_FP_HEIGHT}.flags), 1);
    EXPECT_EQ(FillerState().step, 0.02);
    const MappingCase c = GetParam();
    Colour(c.x, c.y);
    const long double re = Cell(FractalCell(FillerState().fractal.x));
    const long double im = Cell(FractalCell(FillerState().fractal.y));
    EXPECT_EQ(static_cast<double>(re), c.re);
    EXPECT_EQ(static_cast<double>(im), c.im);
    // Exactly the extended-precision mapping, with halving rounded down.
    const long double step = 0.02;
    EXPECT_EQ(re, (c.x - 50) * step + -0.5L);
    EXPECT_EQ(im, 0.0L - (c.y - 50) * step);
}

INSTANTIATE_TEST_SUITE_P(Points, FillerMapping,
                         ::testing::Values(MappingCase{50, 50, -0.5, 0}, MappingCase{0, 0, -1.5, 1},
                                           MappingCase{100, 100, 0.5, -1},
                                           MappingCase{-50, 150, -2.5, -2}));

TEST_F(FillerTest, OddSizesHalveRoundingDown) {
    QUOB_FillerParams p = DefaultParams();
    p.Width = -3;  // -3 >> 1 is -2
    p.Height = 5;  // 5 >> 1 is 2
    p.Scale = 5;
    p.CenterRe = 0;
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_WIDTH, QUOB_FP_HEIGHT}.flags), 1);
    Colour(0, 2);
    EXPECT_EQ(Cell(FractalCell(FillerState().fractal.x)), 2.0L);
    EXPECT_EQ(Cell(FractalCell(FillerState().fractal.y)), 0.0L);
}

// The block length that the installed fractal function was compiled with: one call of a
// counting formula from 0.
int32_t CompiledBlockLength() {
    const int32_t handle = FillerState().fractal.handle;
    auto *count = static_cast<uint8_t *>(AccessParam(handle, 0));
    const long double zero = 0;
    std::memcpy(count, &zero, 10);
    LaunchFunction(handle);
    return static_cast<int32_t>(Cell(count));
}

class FillerBlockLength : public FillerTest,
                          public ::testing::WithParamInterface<std::pair<int32_t, int32_t>> {};

TEST_P(FillerBlockLength, OutOfRangeMeansOne) {
    QUOB_FillerParams p = DefaultParams();
    p.FractalFormula = "n t x y = n 1 + ret t ret";
    p.BlockLength = GetParam().first;
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    EXPECT_EQ(CompiledBlockLength(), GetParam().second);

    // Taken alone it waits for the next compilation; taken with the formula it applies to it.
    p.BlockLength = 7;
    ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_BLOCK_LENGTH}.flags), 1);
    EXPECT_EQ(CompiledBlockLength(), GetParam().second);
    ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_FRACTAL_FORMULA}.flags), 1);
    EXPECT_EQ(CompiledBlockLength(), 7);
}

INSTANTIATE_TEST_SUITE_P(Lengths, FillerBlockLength,
                         ::testing::Values(std::pair{0, 1}, std::pair{-5, 1}, std::pair{1001, 1},
                                           std::pair{1000, 1000}, std::pair{1, 1},
                                           std::pair{20, 20}));

TEST_F(FillerTest, NameLettersRunToZThenAlternate) {
    QUOB_FillerParams p = DefaultParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    std::string fractal = FunctionName(FillerState().fractal.handle).substr(1);
    std::string color = FunctionName(FillerState().color.handle).substr(1);
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(QUOB_UpdateFiller(
                      1, &p, ChangeSet{QUOB_FP_FRACTAL_FORMULA, QUOB_FP_COLOR_FORMULA}.flags),
                  1);
        ASSERT_EQ(QUOB_GetLastError(), 0);
        fractal += FunctionName(FillerState().fractal.handle).substr(1);
        color += FunctionName(FillerState().color.handle).substr(1);
    }
    EXPECT_EQ(fractal, "abcdefghijklmnopqrstuvwxyzyzyzy");
    EXPECT_EQ(color, fractal);
    EXPECT_EQ(FunctionName(FillerState().fractal.handle), "Dy");
    EXPECT_EQ(FunctionName(FillerState().color.handle), "Cy");
    // Two slots in use, whatever the history: the next function takes the third.
    const int32_t probe = CreateRealFunction("probe x = x ret");
    EXPECT_EQ(probe, 3);
    DeleteFunction(probe);
}

struct RejectedFormula {
    const char *name;
    int field;
    const char *formula;
    int32_t lastError;  // -2: any error code
};

class FillerRejects : public FillerTest, public ::testing::WithParamInterface<RejectedFormula> {};

TEST_P(FillerRejects, PreviousFunctionStaysAndNoSlotIsLost) {
    QUOB_FillerParams p = DefaultParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const TFillerState before = FillerState();
    const RejectedFormula r = GetParam();
    QUOB_SetLastError(77);  // a compilation always records its outcome
    (r.field == QUOB_FP_FRACTAL_FORMULA ? p.FractalFormula : p.ColorFormula) = r.formula;
    EXPECT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{r.field}.flags), 1);
    if (r.lastError == -2) {
        EXPECT_NE(QUOB_GetLastError(), 77);
        EXPECT_NE(QUOB_GetLastError(), 0);
    } else {
        EXPECT_EQ(QUOB_GetLastError(), r.lastError);
    }
    EXPECT_TRUE(SameState(before, FillerState()));
    const int32_t probe = CreateRealFunction("probe x = x ret");
    EXPECT_EQ(probe, 3);
    DeleteFunction(probe);
    // It keeps drawing: the home view's centre is inside the set.
    p.Width = p.Height = 100;
    ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_WIDTH, QUOB_FP_HEIGHT}.flags), 1);
    EXPECT_NE(Colour(50, 50), 0x00FFFFFFu);
    EXPECT_EQ(Colour(0, 0), Colour(0, 0));
}

INSTANTIATE_TEST_SUITE_P(
    Formulas, FillerRejects,
    ::testing::Values(
        RejectedFormula{"FractalWithoutY", QUOB_FP_FRACTAL_FORMULA, "tx ty x = x ret tx ret", 0},
        RejectedFormula{"FractalWithOneParameter", QUOB_FP_FRACTAL_FORMULA, "x = x ret", 0},
        RejectedFormula{"FractalNotCompiling", QUOB_FP_FRACTAL_FORMULA, "tx ty x y = tx +", 15},
        RejectedFormula{"FractalNull", QUOB_FP_FRACTAL_FORMULA, nullptr, -2},
        RejectedFormula{"ColorWithTwoResults", QUOB_FP_COLOR_FORMULA, "x y = x ret y ret", 0},
        RejectedFormula{"ColorWithoutX", QUOB_FP_COLOR_FORMULA, "a y = a ret y ret y ret", 0},
        RejectedFormula{"ColorNotCompiling", QUOB_FP_COLOR_FORMULA, "x y = x ret y", 13}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(FillerTest, OverlongFormulaIsRefusedNotCut) {
    QUOB_FillerParams p = DefaultParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t handle = FillerState().fractal.handle;
    std::string text = std::string(p.FractalFormula) + std::string(4092, ' ');
    p.FractalFormula = text.c_str();
    EXPECT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_FRACTAL_FORMULA}.flags), 1);
    EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_OUT_OF_RESOURCES);
    EXPECT_EQ(FillerState().fractal.handle, handle);
    text.resize(4092);  // the longest text that fits
    EXPECT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_FRACTAL_FORMULA}.flags), 1);
    EXPECT_EQ(QUOB_GetLastError(), QUOB_OK);
}

TEST_F(FillerTest, FailedCreationKeepsNoFunction) {
    QUOB_FillerParams p = DefaultParams();
    p.ColorFormula = "x y = x ret";
    EXPECT_EQ(QUOB_CreateFiller(&p), 0);
    EXPECT_EQ(QUOB_GetFiller(1, &p), 0);
    const int32_t probe = CreateRealFunction("probe x = x ret");
    EXPECT_EQ(probe, 1);
    DeleteFunction(probe);
}

// Colour conversion: rounding to nearest even, clamping, and 0 for what a 32-bit integer
// cannot hold.
struct ChannelCase {
    const char *value;  // formula text of the red result
    uint32_t red;
};

class FillerChannel : public FillerTest, public ::testing::WithParamInterface<ChannelCase> {};

TEST_P(FillerChannel, ConvertsLikeAnIntegerStore) {
    const std::string color = std::string("x y = ") + GetParam().value + " ret 0 ret 0 ret";
    QUOB_FillerParams p = DefaultParams();
    p.ColorFormula = color.c_str();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1) << color;
    EXPECT_EQ(Colour(0, 0), GetParam().red << 16) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Values, FillerChannel,
                         ::testing::Values(ChannelCase{"-3", 0}, ChannelCase{"12.5", 12},
                                           ChannelCase{"13.5", 14}, ChannelCase{"0.5", 0},
                                           ChannelCase{"0.75", 1}, ChannelCase{"1.5", 2},
                                           ChannelCase{"254.5", 254}, ChannelCase{"254.75", 255},
                                           ChannelCase{"255.5", 255}, ChannelCase{"300", 255},
                                           ChannelCase{"-0.5", 0}, ChannelCase{"3e9", 0},
                                           ChannelCase{"2e9", 255}, ChannelCase{"-3e9", 0},
                                           ChannelCase{"0 1 /", 0}, ChannelCase{"0 1 / neg", 0},
                                           ChannelCase{"0 0 /", 0}));

// The pass loop, by default with a formula that counts its iterations in tx from 0 (any
// RecursionInit but 0 starts the iterate at 0; ty stays 0) and a colour formula that shows tx as
// red; a fault gives the escape colour whatever EscapeTakesColor says.
constexpr const char *kCounting = "tx ty x y = tx 1 + ret ty ret";

struct PassCase {
    const char *name;
    int32_t limit, block;
    float maxModule, differential;
    int32_t escapeTakesColor;
    uint32_t colour;
    const char *fractal = kCounting;
};

class FillerPasses : public FillerTest, public ::testing::WithParamInterface<PassCase> {};

TEST_P(FillerPasses, StopsWhereTheTestsSay) {
    const PassCase c = GetParam();
    QUOB_FillerParams p = DefaultParams();
    p.FractalFormula = c.fractal;
    p.ColorFormula = "x y = x ret y ret 0 ret";
    p.RecursionInit = 5;
    p.IterationsLimit = c.limit;
    p.BlockLength = c.block;
    p.MaxModule = c.maxModule;
    p.Differential = c.differential;
    p.EscapeTakesColor = c.escapeTakesColor;
    p.EscapeColor = 0x00ABCDEF;
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    EXPECT_EQ(Colour(7, 9), c.colour);
}

INSTANTIATE_TEST_SUITE_P(
    Loop, FillerPasses,
    ::testing::Values(PassCase{"LimitCountsPasses", 5, 1, 1e9f, 0, 0, 5 << 16},
                      PassCase{"BlocksMultiply", 5, 3, 1e9f, 0, 0, 15 << 16},
                      PassCase{"LimitZeroIsOne", 0, 3, 1e9f, 0, 0, 3 << 16},
                      PassCase{"NegativeLimitIsOne", -7, 3, 1e9f, 0, 0, 3 << 16},
                      PassCase{"EscapeKeepsIterate", 100, 1, 3.5f, 0, 0, 4 << 16},
                      PassCase{"EscapeTestedPerBlock", 100, 3, 3.5f, 0, 0, 6 << 16},
                      PassCase{"EscapeTakesColor", 100, 1, 3.5f, 0, 1, 0x00ABCDEF},
                      PassCase{"SettlesOnFirstPass", 100, 1, 1e9f, 2, 0, 1 << 16},
                      PassCase{"EqualChangeKeepsGoing", 4, 1, 1e9f, 1, 0, 4 << 16},
                      // 100, 150, 175: the change 25 is the first below 30.
                      PassCase{"SettlesAgainstThePreviousPass", 100, 1, 1e9f, 30, 0, 175 << 16,
                               "tx ty x y = 2 tx / 100 + ret ty ret"},
                      PassCase{"ZeroDivide", 100, 1, INFINITY, 0, 0, 0x00ABCDEF,
                               "tx ty x y = 0 1 / ret ty ret"},
                      PassCase{"InvalidOperation", 100, 1, INFINITY, 0, 1, 0x00ABCDEF,
                               "tx ty x y = tx 0 0 / + ret ty ret"},
                      PassCase{"Overflow", 100, 1, INFINITY, 0, 0, 0x00ABCDEF,
                               "tx ty x y = 1e30 sqr sqr sqr sqr sqr sqr sqr sqr ret ty ret"}),
    [](const auto &info) { return std::string(info.param.name); });

// Zero divide, overflow and invalid operation unmasked, rounding toward zero, double precision.
constexpr uint16_t kCallerControl = 0x0E72;

// Runs one sample under the caller's control word above; returns the colour and the control
// word found afterwards, after one more x87 operation that would trap on a pending flag.
std::pair<uint32_t, uint16_t> ColourUnderCallerControl() {
    const uint16_t saved = ControlWord();
    const QUOB_PixelRoutine routine = &quob_pixel_routine;
    SetControlWord(kCallerControl);
    const uint32_t colour = routine(1, 1);
    const uint16_t after = ControlWord();
    volatile long double one = 1;
    one = one + 1;
    SetControlWord(saved);
    return {colour, after};
}

TEST_F(FillerTest, CallersControlWordIsKeptAndNotUsed) {
    QUOB_FillerParams p = DefaultParams();
    p.ColorFormula = "x y = 12.5 ret 13.5 ret 0.75 ret";
    p.Width = p.Height = 2;  // sample (1, 1) is the centre, inside the set
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_WIDTH, QUOB_FP_HEIGHT}.flags), 1);
    const auto [colour, after] = ColourUnderCallerControl();
    EXPECT_EQ(after, kCallerControl);
    EXPECT_EQ(colour, 0x000C0E01u);  // rounded to nearest even all the same
}

TEST_F(FillerTest, FaultNeitherTrapsNorLeaksIntoTheCaller) {
    QUOB_FillerParams p = DefaultParams();
    p.FractalFormula = "tx ty x y = 0 1 / ret ty ret";
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const auto [colour, after] = ColourUnderCallerControl();
    EXPECT_EQ(after, kCallerControl);
    EXPECT_EQ(colour, 0x00FFFFFFu);
}

}  // namespace
}  // namespace quob::test
