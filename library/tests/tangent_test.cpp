// The colour formula's orbit inputs: the tangent iteration's derivatives against finite
// differences of the iterate, keyword by keyword and on random formulas; the iterations each
// sample ran; the derivative at the filler's cells; and a distance estimate from it against the
// distance to the Mandelbrot set found by search.
#include "compile/tangent.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <string>

#include "compile/functions.h"
#include "fill/filler.h"
#include "platform/platform.h"
#include "render_reference.h"
#include "render_support.h"
#include "x87_reference.h"

namespace quob::test {
namespace {

using ld = long double;

// A formula "a b x y = ..." run by its tangent function from the point (re, im), the iterate
// starting there: the iterate after `iterations` and its derivative (d a/d re, d a/d im, d b/d re,
// d b/d im).
struct TTangentRun {
    ld iterate[2];
    ld jacobian[4];
    bool faulted;
};

void StoreValue(uint8_t *at, ld v) { std::memcpy(at, &v, 10); }
ld LoadValue(const uint8_t *at) {
    ld v = 0;
    std::memcpy(&v, at, 10);
    return v;
}

// Starts the iterate and its derivative at the point (the parameters a, b, x, y).
void Start(const TCompiledFunction &f, const TBody &body, ld re, ld im) {
    const int32_t params = body.paramCount;
    const ld values[4] = {re, im, re, im};
    for (int32_t p = 0; p < params; ++p) {
        StoreValue(f.Cell(TTangentCells::kParams + 10 * p), p < 4 ? values[p] : 0);
        for (int32_t part = 0; part < 2; ++part)
            StoreValue(f.Cell(TTangentCells::Tangent(params, p, part)),
                       p < 4 && p % 2 == part ? 1.0L : 0.0L);
    }
}

// One call: its iterations from the cells as they are.
TTangentRun Step(const TCompiledFunction &f, const TBody &body) {
    {
        const platform::TX87Control control(kPixelControlWord, platform::TX87Control::kEnvironment);
        quob_call_generated(f.Entry());
    }
    TTangentRun run;
    int32_t status;
    std::memcpy(&status, f.Cell(TTangentCells::kStatus), 4);
    run.faulted = status != 0;
    for (int32_t i = 0; i < 2; ++i)
        run.iterate[i] = LoadValue(f.Cell(TTangentCells::kParams + 10 * i));
    for (int32_t i = 0; i < 4; ++i)
        run.jacobian[i] = LoadValue(f.Cell(TTangentCells::Tangent(body.paramCount, i / 2, i % 2)));
    return run;
}

TTangentRun RunTangent(const TCompiledFunction &f, const TBody &body, ld re, ld im) {
    Start(f, body, re, im);
    return Step(f, body);
}

// The derivatives against central differences of the iterate, where the iterate is smooth there
// (the two one-sided differences agree).
int CompareWithDifferences(const std::string &text, int32_t iterations, ld re, ld im) {
    const auto body = ScanDefinition(("t " + text).c_str(), FunctionKind::Recursive, {});
    std::string refusal;
    const auto f = CompileTangent(*body, iterations, refusal);
    EXPECT_NE(f, nullptr) << text << ": " << refusal;
    if (!f) return 0;
    const TTangentRun at = RunTangent(*f, *body, re, im);
    if (at.faulted) return 0;
    // Its iterate is the record's, bit for bit: the results feed the first parameters back.
    std::vector<ld> values = {re, im, re, im};
    const std::string expression = text.substr(text.find('=') + 1);
    for (int32_t i = 0; i < iterations; ++i) {
        const auto r = x87::Evaluate(expression, {"a", "b", "x", "y"}, values);
        if (!r) return 0;
        for (size_t k = 0; k < r->results.size() && k < 4; ++k) values[k] = r->results[k];
    }
    for (int32_t i = 0; i < 2; ++i)
        EXPECT_EQ(x87::Bits(at.iterate[i]), x87::Bits(values[i]))
            << text << " at " << re << ", " << im;
    const ld h = 1e-7L * (1 + std::fabs(re) + std::fabs(im));
    int compared = 0;
    for (int32_t by = 0; by < 2; ++by) {
        const TTangentRun up =
            RunTangent(*f, *body, re + (by == 0 ? h : 0), im + (by == 1 ? h : 0));
        const TTangentRun down =
            RunTangent(*f, *body, re - (by == 0 ? h : 0), im - (by == 1 ? h : 0));
        if (up.faulted || down.faulted) continue;
        for (int32_t i = 0; i < 2; ++i) {
            const ld forward = (up.iterate[i] - at.iterate[i]) / h;
            const ld backward = (at.iterate[i] - down.iterate[i]) / h;
            const ld central = (up.iterate[i] - down.iterate[i]) / (2 * h);
            const ld scale = 1 + std::fabs(central);
            if (!std::isfinite(central) || std::fabs(forward - backward) > 1e-4L * scale) continue;
            EXPECT_NEAR(static_cast<double>(at.jacobian[2 * i + by]), static_cast<double>(central),
                        static_cast<double>(1e-5L * scale))
                << text << " d"
                << "ab"[i] << "/d" << (by ? "im" : "re") << " at " << re << ", " << im;
            ++compared;
        }
    }
    return compared;
}

// Each keyword in a formula of its own: its rule against the differences.
struct RuleCase {
    const char *formula;
    ld re, im;
};

void PrintTo(const RuleCase &c, std::ostream *os) { *os << c.formula; }

class TangentRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(TangentRules, MatchFiniteDifferences) {
    EXPECT_GT(CompareWithDifferences(GetParam().formula, 3, GetParam().re, GetParam().im), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Keywords, TangentRules,
    ::testing::Values(
        RuleCase{"a b x y = a sqr b sqr - x + ret a b * 2 * y + ret", 0.3L, 0.2L},
        RuleCase{"a b x y = a b / x + ret b a - y + ret", 0.7L, 0.4L},
        RuleCase{"a b x y = a abs neg x + ret b sqrt y + ret", -0.6L, 0.5L},
        RuleCase{"a b x y = a sin b cos * x + ret a exp y + ret", 0.2L, 0.1L},
        RuleCase{"a b x y = a 0.5 * 2px x + ret b a patan y + ret", 0.3L, 0.6L},
        RuleCase{"a b x y = b a YxLog2X x + ret 1 b scale swap del y + ret", 1.3L, 0.8L},
        RuleCase{"a b x y = a 5 swap \\ x + ret b int b log2 + y + ret", 2.7L, 1.6L},
        // The exponent depends on the point, the scaled value does not: its derivative is 0.
        RuleCase{"a b x y = x 3 scale a + ret y + b + ret", 1.3L, 0.4L},
        RuleCase{"a b x y = pi a * ln(2) + x + ret b copy * log2(e) * y + ret", 0.1L, -0.2L}));

// Random formulas of sums, products, squares and moduli over the iterate and the point.
TEST(TangentRules, MatchFiniteDifferencesOnRandomFormulas) {
    std::mt19937 rng(20261211);
    int compared = 0;
    for (int round = 0; round < 300; ++round) {
        const std::string body =
            x87::RandomBody(rng, {"a", "b", "x", "y"}, 1 + int(rng() % 6), 20, true);
        std::uniform_real_distribution<double> point(-1, 1);
        compared +=
            CompareWithDifferences("a b x y = " + body, 1 + int(rng() % 4), point(rng), point(rng));
    }
    EXPECT_GT(compared, 400);
}

// The filler's passes in the register-resident copy against the record's tangent code, on every
// keyword's formula and on random formulas of every keyword, from points that escape, settle and
// fault, at several block lengths: the same status, passes, iterate and derivatives, bit for bit.
TEST(TangentCopy, RunsTheRecordsPassesBitForBit) {
    std::vector<std::string> formulas = {kDefaultFractal};
    for (const char *formula :
         {"a b x y = a sqr b sqr - x + ret a b * 2 * y + ret",
          "a b x y = a b / x + ret b a - y + ret", "a b x y = a abs neg x + ret b sqrt y + ret",
          "a b x y = a sin b cos * x + ret a exp y + ret",
          "a b x y = a 0.5 * 2px x + ret b a patan y + ret",
          "a b x y = b a YxLog2X x + ret 1 b scale swap del y + ret",
          "a b x y = a 5 swap \\ x + ret b int b log2 + y + ret", "a b x y = y ret x ret",
          "a b x y = b ret a ret b ret", "a b x y c = a c * x + ret b b * y + ret c ret"})
        formulas.push_back(formula);
    std::mt19937 rng(20261210);
    // Half of them polynomials, whose groups of iterations run between guards.
    while (formulas.size() < 400)
        formulas.push_back("a b x y = " + x87::RandomBody(rng, {"a", "b", "x", "y"},
                                                          1 + int(rng() % 8), 40,
                                                          formulas.size() % 2 == 0));
    std::uniform_real_distribution<double> point(-2.5, 2.5);
    int compared = 0, copies = 0;
    for (const std::string &text : formulas) {
        const auto body = ScanDefinition(("t " + text).c_str(), FunctionKind::Recursive, {});
        for (const int32_t blockLength : {1, 3, 20}) {
            std::string refusal;
            const auto record =
                CompileTangent(*body, blockLength, refusal, TTangentCall::kPasses, false);
            const auto copy = CompileTangent(*body, blockLength, refusal, TTangentCall::kPasses);
            if (!record) break;  // "tan" and "sincos"
            ASSERT_NE(copy, nullptr);
            copies += copy->Entry() != record->Entry();
            for (int round = 0; round < 6; ++round) {
                const ld re = point(rng), im = point(rng);
                const int32_t passes = 1 + int(rng() % 30);
                const float maxModule = round % 3 == 0 ? 1e30f : 4.0f;
                const float differential = round % 2 ? 0.001f : 0.0f;
                TTangentRun runs[2];
                int32_t left[2], status[2];
                for (int32_t k = 0; k < 2; ++k) {
                    const TCompiledFunction &f = k ? *copy : *record;
                    Start(f, *body, re, im);
                    // Derivatives that overflow or are denormal raise flags of their own, which
                    // must not fault the sample.
                    for (int32_t i = 0; i < 4 && round >= 4; ++i) {
                        uint8_t *const d =
                            f.Cell(TTangentCells::Tangent(body->paramCount, i / 2, i % 2));
                        StoreValue(d, LoadValue(d) * (round == 4 ? 0x1p16300L : 0x1p-16440L));
                    }
                    std::memcpy(f.Cell(TTangentCells::kPasses), &passes, 4);
                    std::memcpy(f.Cell(TTangentCells::kMaxModule), &maxModule, 4);
                    std::memcpy(f.Cell(TTangentCells::kDifferential), &differential, 4);
                    runs[k] = Step(f, *body);
                    std::memcpy(&left[k], f.Cell(TTangentCells::kPasses), 4);
                    std::memcpy(&status[k], f.Cell(TTangentCells::kStatus), 4);
                }
                ASSERT_EQ(status[1], status[0])
                    << text << ", block " << blockLength << " at " << re << ", " << im;
                if (status[0] == kTangentFault) continue;
                EXPECT_EQ(left[1], left[0]) << text;
                for (int32_t i = 0; i < 2; ++i)
                    EXPECT_EQ(x87::Bits(runs[1].iterate[i]), x87::Bits(runs[0].iterate[i]))
                        << text << ", block " << blockLength << " at " << re << ", " << im;
                for (int32_t i = 0; i < 4; ++i)
                    EXPECT_EQ(x87::Bits(runs[1].jacobian[i]), x87::Bits(runs[0].jacobian[i]))
                        << text << ", block " << blockLength << " at " << re << ", " << im
                        << ": derivative " << i;
                ++compared;
            }
        }
    }
    EXPECT_GT(copies, 600);
    EXPECT_GT(compared, 2000);
}

// ---- through the filler ---------------------------------------------------------------------

class OrbitInputs : public RenderTest {};

// "iter" is the number of iterations the pixel routine ran: passes times the block length, the
// reference renderer's count, with the fast paths and without.
TEST_F(OrbitInputs, IterationsAreThoseTheSampleRan) {
    reference::View view{.width = 24, .height = 18, .iterationsLimit = 60, .blockLength = 3};
    QUOB_FillerParams p = DefaultParams();
    p.ColorFormula = "x y iter = iter ret 0 ret 0 ret";
    p.IterationsLimit = view.iterationsLimit;
    p.BlockLength = view.blockLength;
    p.Width = view.width, p.Height = view.height;
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_WIDTH, QUOB_FP_HEIGHT}.flags), 1);
    const auto renderer = reference::MakeRenderer(view, reference::Mandelbrot, reference::Roots);
    int counted = 0;
    for (const bool fast : {true, false}) {
        UseFastPaths(fast);
        for (int32_t y = 0; y < view.height; ++y)
            for (int32_t x = 0; x < view.width; ++x) {
                int64_t iterations = 0;
                if (renderer.Sample(x, y, &iterations) == view.escapeColor) continue;
                EXPECT_EQ(quob_pixel_routine(x, y) >> 16, std::min<int64_t>(iterations, 255))
                    << x << ", " << y;
                ++counted;
            }
    }
    UseFastPaths(true);
    EXPECT_GT(counted, 300);
}

// A colour formula that names a derivative input runs the passes in the tangent's code: each
// sample's iterate, iterations and fault are those of the fractal function's own passes, at views
// of escaping, converging and faulting samples and formulas of every form.
struct PassCase {
    const char *fractal;
    int32_t blockLength, iterations;
    float maxModule, differential;
    int32_t escapeTakesColor, recursionInit;
};

void PrintTo(const PassCase &c, std::ostream *os) {
    *os << c.fractal << ", block " << c.blockLength << ", passes " << c.iterations;
}

class TangentPasses : public RenderTest, public ::testing::WithParamInterface<PassCase> {};

TEST_P(TangentPasses, AreTheFractalFunctionsPasses) {
    const PassCase &c = GetParam();
    QUOB_FillerParams p = DefaultParams();
    p.FractalFormula = c.fractal;
    p.Width = 40, p.Height = 30;
    p.BlockLength = c.blockLength, p.IterationsLimit = c.iterations;
    p.MaxModule = c.maxModule, p.Differential = c.differential;
    p.EscapeTakesColor = c.escapeTakesColor, p.RecursionInit = c.recursionInit;
    p.EscapeColor = 0x123456;
    std::vector<uint32_t> pictures[2];
    for (const bool derivative : {false, true}) {
        p.ColorFormula = derivative
                             ? "x y iter jxx = x 99999 * copy int - 250 * ret y 999 * copy int - "
                               "250 * ret iter ret"
                             : "x y iter = x 99999 * copy int - 250 * ret y 999 * copy int - 250 "
                               "* ret iter ret";
        QUOB_DeleteFiller(1);
        ASSERT_EQ(QUOB_CreateFiller(&p), 1);
        ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_WIDTH, QUOB_FP_HEIGHT}.flags), 1);
        ASSERT_EQ(DerivativeUnavailable(), "");
        for (int32_t y = 0; y < p.Height; ++y)
            for (int32_t x = 0; x < p.Width; ++x)
                pictures[derivative].push_back(quob_pixel_routine(x, y));
    }
    EXPECT_EQ(pictures[1], pictures[0]);
    EXPECT_GT(std::set<uint32_t>(pictures[0].begin(), pictures[0].end()).size(), 12u);
}

INSTANTIATE_TEST_SUITE_P(
    Views, TangentPasses,
    ::testing::Values(PassCase{kDefaultFractal, 1, 200, 2, 0, 0, 0},
                      PassCase{kDefaultFractal, 20, 20, 2, 0.001f, 0, 0},
                      PassCase{kDefaultFractal, 13, 30, 1e30f, 0, 1, 0},
                      PassCase{kDefaultFractal, 3, 100, 4, 0.01f, 0, 1},
                      // Newton's method for z^3 - 1: the samples converge.
                      PassCase{"tx ty x y = tx sqr ty sqr + sqr 3 * ty sqr tx sqr - / 3 tx 2 * / + "
                               "ret tx sqr ty sqr + sqr 3 * tx ty * 2 * neg / 3 ty 2 * / + ret",
                               1, 60, 1e10f, 0.0001f, 0, 0},
                      PassCase{"tx ty x y = ty tx / x + ret tx sqr ty - y + ret", 2, 50, 100, 0, 0,
                               0},
                      PassCase{"tx ty x y = ty sqr tx sqr - x + ret tx ty * abs 2 * y - ret", 5, 40,
                               2, 0, 0, 0}));

// The colour formula reads the derivative of parameters 0 and 1 by the point at "jxx", "jxy",
// "jyx" and "jyy": z^2 + c after one iteration from c has dz/dc = 2c + 1.
TEST_F(OrbitInputs, DerivativeReachesItsNames) {
    QUOB_FillerParams p =
        PointParams(8, 8, "x y jyx jxx jyy jxy = jxx 50 * ret jyx 50 * ret 0 ret");
    p.FractalFormula = kDefaultFractal;
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_WIDTH, QUOB_FP_HEIGHT}.flags), 1);
    EXPECT_EQ(DerivativeUnavailable(), "");
    // The sample (x, y) is the point x - iy: dz/dc = 2x + 1 - 2iy, so jxx = 2x + 1, jyx = -2y.
    EXPECT_EQ(quob_pixel_routine(2, 0), (5u * 50) << 16);
    EXPECT_EQ(quob_pixel_routine(1, 0) >> 8 & 0xFF, 0u);
    EXPECT_EQ(quob_pixel_routine(0, 1) >> 8 & 0xFF, 0u);  // jyx = -2: 0 after clamping
    // A formula that carries a value from one sample to the next reads 0 and says why.
    p.FractalFormula = "tx ty tz x y = tx x + ret ty y + ret tz 1 + ret";
    ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_FRACTAL_FORMULA}.flags), 1);
    EXPECT_NE(DerivativeUnavailable().find("carries a value"), std::string::npos);
    EXPECT_EQ(quob_pixel_routine(2, 0), 0u);
}

// Distance estimation: 2 |z| log|z| / |dz/dc| from the derivative, against the distance to the
// nearest point of a fine grid that does not escape, for points outside the set near it.
TEST(DistanceEstimate, WithinAFactorOfFourOfTheDistanceToTheSet) {
    const auto body =
        ScanDefinition(("t " + std::string(kDefaultFractal)).c_str(), FunctionKind::Recursive, {});
    std::string refusal;
    const auto f = CompileTangent(*body, 1, refusal);
    ASSERT_NE(f, nullptr) << refusal;
    auto escapes = [](ld re, ld im, int limit) {
        ld tx = re, ty = im;
        for (int i = 0; i < limit; ++i) {
            reference::Mandelbrot(tx, ty, re, im);
            if (tx * tx + ty * ty > 4) return true;
        }
        return false;
    };
    const ld points[][2] = {{0.3L, 0.0L},   {-0.8L, 0.25L}, {0.1L, 0.7L},   {-1.3L, 0.1L},
                            {0.45L, 0.45L}, {-0.5L, 0.62L}, {-0.2L, 1.05L}, {0.38L, 0.3L}};
    int compared = 0;
    for (const auto &c : points) {
        // One iteration a call until |z| passes 10^10, as the filler's passes of one iteration
        // with that MaxModule would leave it; the estimate from the tangent's dz/dc = jxx + i jyx.
        ld estimate = -1;
        Start(*f, *body, c[0], c[1]);
        for (int i = 0; i < 10000 && estimate < 0; ++i) {
            const TTangentRun run = Step(*f, *body);
            ASSERT_FALSE(run.faulted);
            const ld r = std::hypot(run.iterate[0], run.iterate[1]);
            if (r > 1e10L)
                estimate = 2 * r * std::log(r) / std::hypot(run.jacobian[0], run.jacobian[2]);
        }
        ASSERT_GT(estimate, 0) << c[0] << ", " << c[1] << " does not escape";
        ld search = -1;
        const ld step = estimate / 16, reach = estimate * 5;
        for (ld y = -reach; y <= reach; y += step)
            for (ld x = -reach; x <= reach; x += step) {
                const ld d = std::hypot(x, y);
                if ((search < 0 || d < search) && !escapes(c[0] + x, c[1] + y, 2000)) search = d;
            }
        ASSERT_GT(search, 0) << "no point of the set within reach";
        EXPECT_LE(estimate, 4 * search) << c[0] << ", " << c[1];
        EXPECT_GE(estimate, search / 4) << c[0] << ", " << c[1];
        ++compared;
    }
    EXPECT_EQ(compared, 8);
}

}  // namespace
}  // namespace quob::test
