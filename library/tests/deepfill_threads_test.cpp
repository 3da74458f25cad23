// Deep pictures: against the fill where extended precision still resolves the pixels, against a
// straightforward MPFR renderer beyond, detail at depths far beyond, and the formulas refused.
#include "deepfill.h"

#include <mpfr.h>

#include <cmath>
#include <set>

#include "filler.h"
#include "ibuffer.h"
#include "platform.h"
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
        precision_ = maker.Precision();
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
    long precision_ = 0;
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
                      // The reference escapes at its 192nd iteration: its records go on in
                      // extended precision where the doubles overflow, and the samples that
                      // outlive it take further references.
                      DeepView{kDefaultFractal, "-0.7437", "0.1319", "1e-4"},
                      DeepView{kBurningShip, "-0.5", "0.05051919238167632", "1e-12"},
                      DeepView{kCubic, "0.20407134609557348", "1.0203567304778676", "1e-12"},
                      DeepView{kPhoenix, "0.4", "0.7126861763604294", "1e-12", 48, 36, 20, 20, 0}));

// The default formula's sample at pixel (px, py), straight from its definition in MPFR at the
// given precision, with the fill's semantics: a value beyond the range of extended precision
// inside a pass overflows.
uint32_t MpfrSample(const DeepView &v, long bits, int32_t px, int32_t py) {
    const TFillerState &f = FillerState();
    mpfr_t cre, cim, step, tx, ty, t, u;
    for (mpfr_ptr m : {cre, cim, step, tx, ty, t, u}) mpfr_init2(m, bits);
    mpfr_set_str(step, v.scale, 10, MPFR_RNDN);
    mpfr_div_ui(step, step, static_cast<unsigned long>(v.height), MPFR_RNDN);
    mpfr_set_str(cre, v.re, 10, MPFR_RNDN);
    mpfr_set_str(cim, v.im, 10, MPFR_RNDN);
    mpfr_mul_si(t, step, px - (v.width >> 1), MPFR_RNDN);
    mpfr_add(cre, cre, t, MPFR_RNDN);
    mpfr_mul_si(t, step, py - (v.height >> 1), MPFR_RNDN);
    mpfr_sub(cim, cim, t, MPFR_RNDN);
    mpfr_set(tx, cre, MPFR_RNDN);
    mpfr_set(ty, cim, MPFR_RNDN);
    uint32_t colour = 0;
    bool done = false;
    float previous = 0;
    for (int32_t pass = 0; pass < v.iterations && !done; ++pass) {
        for (int32_t i = 0; i < v.blockLength; ++i) {
            mpfr_sqr(t, tx, MPFR_RNDN);
            mpfr_sqr(u, ty, MPFR_RNDN);
            mpfr_sub(t, t, u, MPFR_RNDN);
            mpfr_mul(ty, tx, ty, MPFR_RNDN);
            mpfr_mul_2ui(ty, ty, 1, MPFR_RNDN);
            mpfr_add(ty, ty, cim, MPFR_RNDN);
            mpfr_add(tx, t, cre, MPFR_RNDN);
            if (mpfr_get_exp(tx) > 16384 || mpfr_get_exp(ty) > 16384) {
                colour = static_cast<uint32_t>(f.escapeColor);
                done = true;
                break;
            }
        }
        if (done) break;
        const long double m =
            std::fabs(mpfr_get_ld(tx, MPFR_RNDN)) + std::fabs(mpfr_get_ld(ty, MPFR_RNDN));
        if (m > f.maxModule || std::fabs(m - previous) < f.differential) break;
        previous = static_cast<float>(m);
    }
    if (!done)
        colour = ColorOf(*f.color.function, mpfr_get_ld(tx, MPFR_RNDN), mpfr_get_ld(ty, MPFR_RNDN));
    for (mpfr_ptr m : {cre, cim, step, tx, ty, t, u}) mpfr_clear(m);
    return colour;
}

class AgreesWithMpfr : public Deep, public ::testing::WithParamInterface<DeepView> {};

TEST_P(AgreesWithMpfr, OnNearlyEveryPixel) {
    const DeepView &v = GetParam();
    Install(v);
    const std::vector<uint32_t> deep = DeepPicture(v);
    std::vector<uint32_t> straight(deep.size());
    {
        const platform::TX87Control control(kPixelControlWord, platform::TX87Control::kControlWord);
        for (int32_t y = 0; y < v.height; ++y)
            for (int32_t x = 0; x < v.width; ++x)
                straight[static_cast<std::size_t>(y) * v.width + x] =
                    MpfrSample(v, precision_, x, y);
    }
    std::set<uint32_t> colours(straight.begin(), straight.end());
    EXPECT_GE(colours.size(), 8u) << "the view shows no detail";
    EXPECT_GE(Agreement(deep, straight), 0.99) << references_ << " references";
}

INSTANTIATE_TEST_SUITE_P(
    Deep, AgreesWithMpfr,
    ::testing::Values(DeepView{kDefaultFractal, "0", "1", "1e-40", 24, 18, 50, 20, 0},
                      DeepView{kDefaultFractal, "0", "1", "1e-300", 24, 18, 50, 20, 0}));

// Around 0 + 1i, far beyond the doubles' and extended precision's range of steps: several
// colours, and pixels unlike their right-hand neighbour (a picture of blocks has one colour).
class ShowsDetail : public Deep, public ::testing::WithParamInterface<DeepView> {};

TEST_P(ShowsDetail, NotOneColourNotBlocks) {
    const DeepView &v = GetParam();
    Install(v);
    const std::vector<uint32_t> deep = DeepPicture(v);
    std::set<uint32_t> colours(deep.begin(), deep.end());
    std::size_t unlike = 0;
    for (std::size_t i = 0; i + 1 < deep.size(); ++i) unlike += deep[i] != deep[i + 1];
    EXPECT_GE(colours.size(), 8u);
    EXPECT_GE(static_cast<double>(unlike) / deep.size(), 0.1);
    EXPECT_EQ(leftGlitched_, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, ShowsDetail,
    ::testing::Values(DeepView{kDefaultFractal, "0", "1", "1e-100", 32, 24, 50, 20, 0},
                      DeepView{kDefaultFractal, "0", "1", "1e-1000", 32, 24, 600, 20, 0},
                      DeepView{kDefaultFractal, "0", "1", "1e-4000", 32, 24, 1000, 20, 0}));

// What deep rendering refuses, naming the keyword or parameter, and what it takes.
struct FormCase {
    const char *fractal;
    const char *refused;  // in the message; nullptr: the form exists
};

void PrintTo(const FormCase &c, std::ostream *out) { *out << c.fractal; }

class Forms : public ::testing::TestWithParam<FormCase> {};

TEST_P(Forms, RefusedOrTaken) {
    const FormCase &c = GetParam();
    try {
        const TPerturbedForm form(c.fractal, 0);
        EXPECT_EQ(c.refused, nullptr);
        EXPECT_NE(CompileDeepCode(form, kHostTarget, TRecordValues::kExtended), nullptr);
    } catch (const TDeepRefusal &refusal) {
        ASSERT_NE(c.refused, nullptr) << refusal.what();
        EXPECT_NE(std::string(refusal.what()).find(c.refused), std::string::npos) << refusal.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Forms,
    ::testing::Values(
        FormCase{"tx ty x y = tx int y + ret ty ret", "\"int\""},
        FormCase{"tx ty x y = tx log2 x + ret ty ret", "\"log2\""},
        FormCase{"tx ty x y = tx 3 swap \\ x + ret ty ret", "\"\\\""},
        FormCase{"tx ty x y = tx ty patan ret ty ret", "\"patan\""},
        FormCase{"tx ty x y = tx ty YxLog2X ret ty ret", "\"YxLog2X\""},
        FormCase{"tx ty x y = ty tx scale swap del x + ret ty ret", "\"scale\""},
        FormCase{"tx ty px py x y = tx x + ret ty y + ret tx ret ty ret", "\"px\""},
        // On values that are the same for every sample they do no harm.
        FormCase{"tx ty x y = 2.5 int tx * x + ret pi 3 patan ty * y + ret", nullptr},
        FormCase{"tx ty x y = 3 tx scale swap del x + ret ty 2 tx 2px * + ret", nullptr},
        FormCase{"tx ty x y = tx sin ty cos * x + ret tx exp ty sqrt / tx abs - y + ret", nullptr},
        FormCase{"tx ty x y = tx ty swap copy * neg del sqr ty tan + x + ret ty sincos - y + "
                 "ret",
                 nullptr},
        FormCase{"tx ty x y = tx ty / ty tx / * x + ret ty sqrt tx neg 1 + / y + ret", nullptr}));

}  // namespace
}  // namespace quob::test
