// Deep pictures: against the fill where extended precision still resolves the pixels, against a
// straightforward MPFR renderer beyond, detail at depths far beyond, and the formulas refused.
#include "deepfill.h"

#include <mpfr.h>

#include <set>

#include "filler.h"
#include "ibuffer.h"
#include "render_support.h"

namespace quob::test {
namespace {

struct DeepView {
    const char *fractal;
    const char *re;
    const char *im;
    const char *scale;
    int32_t width = 48, height = 36;
    int32_t iterations = 20, blockLength = 20;
    float differential = 0.001f;
};

class Deep : public RenderTest {
  protected:
    // Installs the filler for the view; the ordinary fill sees the view's doubles.
    void Install(const DeepView &v) {
        QUOB_FillerParams p = DefaultParams();
        p.FractalFormula = v.fractal;
        p.Width = v.width;
        p.Height = v.height;
        p.CenterRe = std::strtod(v.re, nullptr);
        p.CenterIm = std::strtod(v.im, nullptr);
        p.Scale = std::strtod(v.scale, nullptr);
        p.IterationsLimit = v.iterations;
        p.BlockLength = v.blockLength;
        p.Differential = v.differential;
        ASSERT_EQ(QUOB_CreateFiller(&p), 1);
        ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_WIDTH, QUOB_FP_HEIGHT}.flags), 1);
    }

    static std::vector<uint32_t> Picture(TBandProducer &producer) {
        std::vector<uint32_t> picture(static_cast<std::size_t>(producer.Width()) *
                                      producer.Height());
        for (int32_t top = 0; top < producer.Height(); top += producer.BandRows())
            EXPECT_TRUE(
                producer.Next(picture.data() + static_cast<std::size_t>(top) * producer.Width()));
        return picture;
    }

    // exact: the centre as the doubles that the ordinary fill takes, every digit written out.
    std::vector<uint32_t> DeepPicture(const DeepView &v, bool exact = false) {
        auto text = [&](const char *t) {
            if (!exact) return std::string(t);
            char digits[128];
            std::snprintf(digits, sizeof digits, "%.80g", std::strtod(t, nullptr));
            return std::string(digits);
        };
        const TPerturbedForm form(v.fractal, 0);
        const TOrbitMaker maker(form, text(v.re), text(v.im), v.scale, v.width, v.height,
                                int64_t{v.iterations} * v.blockLength);
        TDeepFill fill(form, maker, TBandMode::kPlain, 1, 7, 3);
        std::vector<uint32_t> picture = Picture(fill);
        references_ = fill.References();
        leftGlitched_ = fill.LeftGlitched();
        return picture;
    }

    static double Agreement(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b) {
        std::size_t same = 0;
        for (std::size_t i = 0; i < a.size(); ++i) same += a[i] == b[i];
        return static_cast<double>(same) / static_cast<double>(a.size());
    }

    int32_t references_ = 0;
    int64_t leftGlitched_ = 0;
};

const char *const kBurningShip = "tx ty x y = ty sqr tx sqr - x + ret tx ty * abs 2 * y + ret";
const char *const kCubic =
    "tx ty x y = ty sqr 3 * tx sqr - tx * x + ret ty sqr tx sqr 3 * - ty * y + ret";
// The previous iterate is fed back through "x" and "y", which every sample starts at its point.
const char *const kPhoenix =
    "tx ty x y = ty sqr tx sqr - 0.5667 + x -0.5 * + ret 2 tx ty * * y -0.5 * + ret tx ret ty ret";

class AgreesWithFill : public Deep, public ::testing::WithParamInterface<DeepView> {};

TEST_P(AgreesWithFill, OnNearlyEveryPixel) {
    const DeepView &v = GetParam();
    Install(v);
    std::vector<uint32_t> ordinary;
    {
        TBandFill fill(TBandMode::kPlain, 1, 7, 3);
        ordinary = Picture(fill);
    }
    const std::vector<uint32_t> deep = DeepPicture(v, true);
    std::set<uint32_t> colours(ordinary.begin(), ordinary.end());
    EXPECT_GT(colours.size(), 20u) << "the view shows no detail";
    EXPECT_GE(Agreement(deep, ordinary), 0.99) << references_ << " references";
}

INSTANTIATE_TEST_SUITE_P(
    Scale1e12, AgreesWithFill,
    ::testing::Values(DeepView{kDefaultFractal, "0", "1", "1e-12"},
                      DeepView{kBurningShip, "-0.5", "0.05051919238167632", "1e-12"},
                      DeepView{kCubic, "0.20407134609557348", "1.0203567304778676", "1e-12"},
                      DeepView{kPhoenix, "0.4", "0.7126861763604294", "1e-12", 48, 36, 20, 20, 0}));

}  // namespace
}  // namespace quob::test
