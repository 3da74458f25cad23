// The orbit inputs as the viewer and quob-render read them from formula texts (orbit_inputs.h),
// held to what the library does: every keyword of the language against the tangent iteration's
// refusals, and pairs of formulas against the filler's own orbit cells and reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "compile/frontend.h"
#include "compile/keywords.h"
#include "compile/tangent.h"
#include "fill/filler.h"
#include "orbit_inputs.h"
#include "render_support.h"

namespace quob::test {
namespace {

using common::DeclaredOrbitInputs;
using common::DerivativeUnavailableReason;
using common::FormulaWords;
using common::KeywordWithoutDerivativeRule;
using common::kKeywordsWithoutDerivativeRule;

// A fractal formula that applies the keyword once to copies of "x" and returns what it leaves.
std::string FormulaWith(int keyword) {
    const TKeywordFacts &facts = kFloatFacts[keyword];
    std::string body;
    for (int i = 0; i < facts.pops; ++i) body += " x";
    body += std::string(" ") + kFloatKeywords[keyword];
    for (int i = 0; i < facts.pushes; ++i) body += " ret";
    if (facts.pushes == 0 && facts.stack != TStack::kReturn) body += " x ret";  // "del"
    return "a b x y =" + body;
}

TEST(DerivativeRules, TheKeywordsWithoutARuleAreThoseTheTangentIterationRefuses) {
    size_t refused = 0;
    for (int k = 0; k < kFloatKeywordCount; ++k) {
        const std::string formula = FormulaWith(k);
        const auto body = ScanDefinition(("t " + formula).c_str(), FunctionKind::Recursive, {});
        // The text's words are the scanner's: the header's five and the body's.
        const auto words = FormulaWords(formula);
        EXPECT_EQ(words.size(), 5 + body->words.size()) << formula;
        std::string refusal;
        const auto tangent = CompileTangent(*body, 1, refusal);
        const std::string keyword = KeywordWithoutDerivativeRule(formula);
        EXPECT_EQ(tangent == nullptr, !keyword.empty()) << formula << ": " << refusal;
        if (tangent) continue;
        ++refused;
        EXPECT_EQ(keyword, kFloatKeywords[k]);
        EXPECT_EQ(refusal, common::NoDerivativeRuleRefusal(keyword));
    }
    EXPECT_EQ(refused, kKeywordsWithoutDerivativeRule.size());
}

// A fractal and a colour formula installed in the filler: the orbit inputs that it fills and why
// the derivative reads 0, as the texts tell them.
struct PairCase {
    const char *fractal, *color;
    bool iterations, derivative;
    const char *reason;  // how it begins; empty: the derivative is followed
};

void PrintTo(const PairCase &c, std::ostream *os) { *os << c.fractal << " | " << c.color; }

class FormulaPairs : public RenderTest, public ::testing::WithParamInterface<PairCase> {};

TEST_P(FormulaPairs, ReadAsTheFillerTakesThem) {
    const PairCase &c = GetParam();
    QUOB_FillerParams p = DefaultParams();
    p.FractalFormula = c.fractal;
    p.ColorFormula = c.color;
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    // The text's words are the scanner's: the parameters, "=" and the body's.
    const auto body =
        ScanDefinition(("t " + std::string(c.fractal)).c_str(), FunctionKind::Recursive, {});
    EXPECT_EQ(FormulaWords(c.fractal).size(), body->paramCount + 1 + body->words.size());
    const TCompiledFormula &color = FillerState().color;
    const common::OrbitInputs read = DeclaredOrbitInputs(c.color);
    EXPECT_EQ(read.iterations, color.orbit[0] >= 0);
    EXPECT_EQ(read.derivative, color.WantsDerivative());
    EXPECT_EQ(read.iterations, c.iterations);
    EXPECT_EQ(read.derivative, c.derivative);
    const std::string reason = DerivativeUnavailable();
    EXPECT_EQ(reason, read.derivative ? DerivativeUnavailableReason(c.fractal) : "");
    EXPECT_TRUE(reason.starts_with(c.reason)) << reason;
    EXPECT_EQ(reason.empty(), c.reason[0] == '\0') << reason;
}

constexpr const char *kJacobian = "x y jxx jyy = jxx ret jyy ret 0 ret";
constexpr const char *kCarries = "the fractal formula carries a value from one sample to the next";
constexpr const char *kTan =
    "the fractal formula's derivative is not followed: its \"tan\" leaves an operand";

INSTANTIATE_TEST_SUITE_P(
    Table, FormulaPairs,
    ::testing::Values(
        PairCase{kDefaultFractal, kDefaultColor, false, false, ""},
        PairCase{kDefaultFractal, kJacobian, false, true, ""},
        PairCase{kDefaultFractal, "x y iter = iter ret 0 ret 0 ret", true, false, ""},
        PairCase{kDefaultFractal, "x y jxy iter = iter ret jxy ret 0 ret", true, true, ""},
        // The names as the scanner cuts and separates them, in their case.
        PairCase{kDefaultFractal, "x y Iter jxxx iterate = Iter ret jxxx ret iterate ret", false,
                 false, ""},
        PairCase{kDefaultFractal, "x y jyx=jyx ret 0 ret 0 ret", false, true, ""},
        PairCase{"tx ty tz x y = tx x + ret ty y + ret tz 1 + ret", kJacobian, false, true,
                 kCarries},
        // Fed back into "x" and "y", which every sample rewrites; "c" is not fed back.
        PairCase{"tx ty x y = tx x + ret ty y + ret x ret y ret", kJacobian, false, true, ""},
        PairCase{"tx ty x y c = tx c * x + ret ty y + ret", kJacobian, false, true, ""},
        PairCase{"tx ty y x c = tx x + ret ty y + ret y ret x ret c ret", kJacobian, false, true,
                 kCarries},
        PairCase{"tx ty x y = tx tan x + ret ty y + ret", kJacobian, false, true, kTan},
        PairCase{"tx ty x y = x tx tan* x + ret ty y + ret", kJacobian, false, true, kTan},
        PairCase{"tx ty x y = tx sincos * x + ret ty y + ret", kJacobian, false, true,
                 "the fractal formula's derivative is not followed: its \"sincos\""},
        PairCase{"tx ty x y = tx tan x + ret ty y + ret", "x y iter = iter ret 0 ret 0 ret", true,
                 false, ""},
        PairCase{"tx ty tz x y = tx tan x + ret ty y + ret tz ret", kJacobian, false, true,
                 kCarries},
        PairCase{"tangents ty x y = tangents -2 * x + ret ty y + ret", kJacobian, false, true,
                 ""}));

}  // namespace
}  // namespace quob::test
