// The perturbed form keyword by keyword: one iteration of the compiled difference code against the
// difference computed in MPFR at many bits, at random points and where the plain difference of
// two extended values would cancel; and reference orbits against their own MPFR iteration, with
// the ways an orbit ends.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "compile/deepgen.h"
#include "compile/frontend.h"
#include "compile/functions.h"
#include "deep/deepfill.h"
#include "deep/reforbit.h"
#include "fill/filler.h"
#include "platform/platform.h"
#include "viewer_defaults.h"

namespace quob::test {
namespace {

constexpr mpfr_prec_t kBits = 400;

// One MPFR number that frees itself.
struct Real {
    mpfr_t v;
    Real() { mpfr_init2(v, kBits); }
    explicit Real(long double x) : Real() { mpfr_set_ld(v, x, MPFR_RNDN); }
    ~Real() { mpfr_clear(v); }
    Real(const Real &) = delete;
    Real &operator=(const Real &) = delete;
};

// A keyword's value in MPFR: r = f(top, second).
using Exact = std::function<void(mpfr_ptr r, mpfr_srcptr top, mpfr_srcptr second)>;

struct KeywordCase {
    const char *keyword;
    bool binary;
    Exact exact;
    long double low, high;  // the reference value's range (the top; the second is in 1..2)
};

void PrintTo(const KeywordCase &c, std::ostream *os) { *os << c.keyword; }

// Runs one iteration of the difference code of "tx ty x y = [ty] tx keyword ret ty ret" from
// the reference (a, b) with the differences (da, db); returns the new difference of tx.
class OneIteration {
  public:
    OneIteration(const KeywordCase &c, long double a, long double b) : a_(a), b_(b) {
        const std::string text = std::string("D tx ty x y = ") + (c.binary ? "ty tx " : "tx ") +
                                 c.keyword + " ret ty ret";
        body_ = ScanDefinition(text.c_str(), FunctionKind::Recursive, {});
        form_ = std::make_unique<TPerturbedForm>(*body_, 0);
        code_ = CompileDeepCode(*form_, kHostTarget, TRecordValues::kExtended);
        // The orbit of the point (a, b): its text is the value itself, every digit.
        char re[64], im[64];
        std::snprintf(re, sizeof re, "%.40Lg", a);
        std::snprintf(im, sizeof im, "%.40Lg", b);
        maker_ = std::make_unique<TOrbitMaker>(*form_, re, im, "1e-60", 8, 8, 2);
        orbit_ = maker_->Make(0, 0);
    }

    long double Run(long double da, long double db) {
        const platform::TX87Control control(kPixelControlWord, platform::TX87Control::kControlWord);
        const uint8_t *record = orbit_->Record(0);
        std::memcpy(code_->Cell(TDeepCells::kRecord), &record, sizeof record);
        const int32_t one = 1;
        std::memcpy(code_->Cell(TDeepCells::kCount), &one, 4);
        std::memset(code_->Cell(TDeepCells::kStatus), 0, 4);
        const long double diffs[4] = {da, db, 0, 0};
        for (int p = 0; p < 4; ++p)
            std::memcpy(code_->Cell(TDeepCells::kDiffs + 10 * p), &diffs[p], 10);
        quob_call_generated(code_->Entry());
        long double out = 0;
        std::memcpy(&out, code_->Cell(TDeepCells::kDiffs), 10);
        return out;
    }

  private:
    long double a_, b_;
    std::shared_ptr<const TBody> body_;
    std::unique_ptr<TPerturbedForm> form_;
    std::unique_ptr<TCompiledFunction> code_;
    std::unique_ptr<TOrbitMaker> maker_;
    std::unique_ptr<TOrbit> orbit_;
};

// f(A + da, B + db) - f(A, B) in MPFR, rounded to extended.
long double ExactDifference(const KeywordCase &c, long double a, long double b, long double da,
                            long double db) {
    Real A(a), B(b), Ad, Bd, before, after;
    Real dA(da), dB(db);
    mpfr_add(Ad.v, A.v, dA.v, MPFR_RNDN);
    mpfr_add(Bd.v, B.v, dB.v, MPFR_RNDN);
    c.exact(before.v, A.v, B.v);
    c.exact(after.v, Ad.v, Bd.v);
    mpfr_sub(after.v, after.v, before.v, MPFR_RNDN);
    return mpfr_get_ld(after.v, MPFR_RNDN);
}

void Exp2m1(mpfr_ptr r, mpfr_srcptr a, mpfr_srcptr) {
    mpfr_exp2(r, a, MPFR_RNDN);
    mpfr_sub_ui(r, r, 1, MPFR_RNDN);
}

// The binary keywords take the top (tx) as their first operand: "-" is tx - ty, "/" tx / ty.
const KeywordCase kKeywords[] = {
    {"+", true, [](mpfr_ptr r, mpfr_srcptr t, mpfr_srcptr s) { mpfr_add(r, s, t, MPFR_RNDN); }, -3,
     3},
    {"-", true, [](mpfr_ptr r, mpfr_srcptr t, mpfr_srcptr s) { mpfr_sub(r, t, s, MPFR_RNDN); }, -3,
     3},
    {"*", true, [](mpfr_ptr r, mpfr_srcptr t, mpfr_srcptr s) { mpfr_mul(r, s, t, MPFR_RNDN); }, -3,
     3},
    {"/", true, [](mpfr_ptr r, mpfr_srcptr t, mpfr_srcptr s) { mpfr_div(r, t, s, MPFR_RNDN); }, -3,
     3},
    {"neg", false, [](mpfr_ptr r, mpfr_srcptr t, mpfr_srcptr) { mpfr_neg(r, t, MPFR_RNDN); }, -3,
     3},
    {"abs", false, [](mpfr_ptr r, mpfr_srcptr t, mpfr_srcptr) { mpfr_abs(r, t, MPFR_RNDN); }, -3,
     3},
    {"sqr", false, [](mpfr_ptr r, mpfr_srcptr t, mpfr_srcptr) { mpfr_sqr(r, t, MPFR_RNDN); }, -3,
     3},
    {"sqrt", false, [](mpfr_ptr r, mpfr_srcptr t, mpfr_srcptr) { mpfr_sqrt(r, t, MPFR_RNDN); },
     0.01L, 4},
    {"sin", false, [](mpfr_ptr r, mpfr_srcptr t, mpfr_srcptr) { mpfr_sin(r, t, MPFR_RNDN); }, -3,
     3},
    {"cos", false, [](mpfr_ptr r, mpfr_srcptr t, mpfr_srcptr) { mpfr_cos(r, t, MPFR_RNDN); }, -3,
     3},
    {"tan", false, [](mpfr_ptr r, mpfr_srcptr t, mpfr_srcptr) { mpfr_tan(r, t, MPFR_RNDN); }, -1.2L,
     1.2L},
    {"exp", false, [](mpfr_ptr r, mpfr_srcptr t, mpfr_srcptr) { mpfr_exp(r, t, MPFR_RNDN); }, -3,
     3},
    {"2px", false, Exp2m1, -1, 1},
};

class DifferenceForms : public ::testing::TestWithParam<KeywordCase> {};

// At random reference values, with differences from a tenth of the value down to 1e-40 of it:
// the smaller ones are where the plain difference f(A + d) - f(A) of two extended values would
// lose every bit. The form keeps the difference to a few units of its last place beside the
// first-order term (the records hold the reference's values rounded to extended).
TEST_P(DifferenceForms, AgreeWithMpfrAtRandomPoints) {
    const KeywordCase &c = GetParam();
    std::mt19937_64 random(20261209);
    std::uniform_real_distribution<double> value(static_cast<double>(c.low),
                                                 static_cast<double>(c.high));
    std::uniform_real_distribution<double> unit(-1, 1);
    int checked = 0;
    for (int point = 0; point < 12; ++point) {
        const long double a = value(random);
        const long double b = 1 + std::fabs(unit(random));
        OneIteration run(c, a, b);
        for (const long double scale : {1e-1L, 1e-6L, 1e-18L, 1e-40L}) {
            const long double da = unit(random) * scale * std::fabs(a);
            const long double db = c.binary ? unit(random) * scale : 0.0L;
            const long double got = run.Run(da, db);
            const long double exact = ExactDifference(c, a, b, da, db);
            // The size of the difference's terms: what rounding the reference's values costs.
            const long double size = std::fabs(exact) + (std::fabs(da) + std::fabs(db)) * 4;
            EXPECT_LE(std::fabs(got - exact), 1e-17L * size)
                << c.keyword << " at " << a << ", " << b << " + " << da << ", " << db << ": got "
                << got << ", exact " << exact;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 48);
}

INSTANTIATE_TEST_SUITE_P(Keywords, DifferenceForms, ::testing::ValuesIn(kKeywords),
                         [](const auto &info) {
                             const std::string k = info.param.keyword;
                             return k == "+"     ? std::string("plus")
                                    : k == "-"   ? std::string("minus")
                                    : k == "*"   ? std::string("times")
                                    : k == "/"   ? std::string("over")
                                    : k == "2px" ? std::string("twoPowerMinusOne")
                                                 : k;
                         });

// Where the keyword's own value turns: the sign of "abs" changes inside the difference, and the
// square root and the product meet values at 0.
struct TurnCase {
    const char *keyword;
    long double a, da;
};

void PrintTo(const TurnCase &c, std::ostream *os) { *os << c.keyword << " " << c.a; }

class DifferenceTurns : public ::testing::TestWithParam<TurnCase> {};

TEST_P(DifferenceTurns, AgreeWithMpfr) {
    const TurnCase &t = GetParam();
    const KeywordCase *c = nullptr;
    for (const KeywordCase &k : kKeywords)
        if (std::strcmp(k.keyword, t.keyword) == 0) c = &k;
    ASSERT_NE(c, nullptr);
    OneIteration run(*c, t.a, 1);
    const long double got = run.Run(t.da, 0);
    const long double exact = ExactDifference(*c, t.a, 1, t.da, 0);
    EXPECT_LE(std::fabs(got - exact), 1e-17L * (std::fabs(exact) + std::fabs(t.da)))
        << got << " against " << exact;
}

INSTANTIATE_TEST_SUITE_P(
    Values, DifferenceTurns,
    ::testing::Values(TurnCase{"abs", 1e-20L, -3e-20L}, TurnCase{"abs", -2.5L, 2.5000000001L},
                      TurnCase{"abs", 0.75L, -1e-25L}, TurnCase{"sqrt", 1e-30L, 3e-30L},
                      TurnCase{"sqrt", 2, -2}, TurnCase{"sqr", 1e-3L, -2e-3L},
                      TurnCase{"cos", 0, 1e-20L}, TurnCase{"sin", 1.5707963267948966192L, 1e-20L}));

// The perturbed form and its code come from the compiled function's checked body: deriving them
// scans no text (counted in debug builds).
TEST(DeepFormula, IsDerivedFromTheCompiledBody) {
    const int32_t h = CreateFunction("D tx ty x y = tx sqr ty sqr - x + ret 2 tx ty * * y + ret",
                                     {FunctionKind::Recursive, 20, true});
    ASSERT_NE(h, 0);
    const int64_t before = DefinitionsScanned();
    TDeepFormula formula;
    std::string refusal;
    EXPECT_TRUE(MakeDeepFormula(*CompiledFunction(h)->Body(), 0, formula, refusal)) << refusal;
    EXPECT_EQ(DefinitionsScanned(), before);
    EXPECT_EQ(formula.form->FedBack(), 2);
    ReleaseFunction(h);
}

// ---- reference orbits ---------------------------------------------------------------------

struct OrbitCase {
    const char *name;
    const char *fractal;
    const char *re, *im;
    int64_t iterations;
    TOrbit::TEnd end;
    int64_t length;  // complete records
    bool narrowAll;  // every record again as doubles
};

void PrintTo(const OrbitCase &c, std::ostream *os) { *os << c.name; }

class ReferenceOrbits : public ::testing::TestWithParam<OrbitCase> {};

// The default formula's iterate in MPFR, step by step, against the records; and how each orbit
// ends.
TEST_P(ReferenceOrbits, FollowTheirFormulaAndEndAsTheySay) {
    const OrbitCase &c = GetParam();
    const auto body =
        ScanDefinition((std::string("D ") + c.fractal).c_str(), FunctionKind::Recursive, {});
    const TPerturbedForm form(*body, 0);
    const TOrbitMaker maker(form, c.re, c.im, "1e-40", 16, 16, c.iterations);
    const std::unique_ptr<TOrbit> orbit = maker.Make(0, 0);
    EXPECT_EQ(orbit->End(), c.end);
    EXPECT_EQ(orbit->Length(), c.length);
    EXPECT_EQ(orbit->NarrowLength() == orbit->Length() + 1, c.narrowAll) << orbit->NarrowLength();
    if (std::strcmp(c.fractal, kDefaultFractal) != 0) return;
    Real cre, cim, tx, ty, t;
    mpfr_set_str(cre.v, c.re, 10, MPFR_RNDN);
    mpfr_set_str(cim.v, c.im, 10, MPFR_RNDN);
    mpfr_set(tx.v, cre.v, MPFR_RNDN);
    mpfr_set(ty.v, cim.v, MPFR_RNDN);
    for (int64_t i = 0; i <= std::min<int64_t>(orbit->Length(), 200); ++i) {
        ASSERT_EQ(orbit->Value(i, form.IterateSlot(0)), mpfr_get_ld(tx.v, MPFR_RNDN)) << i;
        ASSERT_EQ(orbit->Value(i, form.IterateSlot(1)), mpfr_get_ld(ty.v, MPFR_RNDN)) << i;
        mpfr_mul(t.v, tx.v, ty.v, MPFR_RNDN);
        mpfr_sqr(tx.v, tx.v, MPFR_RNDN);
        mpfr_sqr(ty.v, ty.v, MPFR_RNDN);
        mpfr_sub(tx.v, tx.v, ty.v, MPFR_RNDN);
        mpfr_add(tx.v, tx.v, cre.v, MPFR_RNDN);
        mpfr_mul_2ui(ty.v, t.v, 1, MPFR_RNDN);
        mpfr_add(ty.v, ty.v, cim.v, MPFR_RNDN);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReferenceOrbits,
    ::testing::Values(
        // Inside the set: the whole limit, every value a double.
        OrbitCase{"Inside", kDefaultFractal, "-0.2", "0.1", 300, TOrbit::TEnd::kLimit, 300, true},
        // Escapes: |z| passes 10^2539 after 12 iterations, and the next squares lie beyond
        // extended range; the doubles' range ended earlier.
        OrbitCase{"Escapes", kDefaultFractal, "3", "3", 1000, TOrbit::TEnd::kOverflow, 12, false},
        // A pole at the reference point: ty / tx is 1 / 0 in the first iteration.
        OrbitCase{"Pole", "tx ty x y = tx ty / x + ret ty ret", "0", "1", 50, TOrbit::TEnd::kFault,
                  0, false},
        // Values that converge to 0 leave the doubles' normal range, not extended's.
        OrbitCase{"Underflows", "tx ty x y = tx 1e-30 * ret ty 1e-30 * ret", "1", "1", 400,
                  TOrbit::TEnd::kLimit, 400, false}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quob::test
