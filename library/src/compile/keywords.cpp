// The facts of every keyword, in the order of the scanner's keyword sets.
#include "compile/keywords.h"

#include <cmath>

#include "compile/tables.h"

namespace quob {
namespace {

// The constants as the x87 unit loads them (rounded to nearest).
long double Pi() {
    long double v;
    asm("fldpi" : "=t"(v));
    return v;
}
long double Log2Ten() {
    long double v;
    asm("fldl2t" : "=t"(v));
    return v;
}
long double Log2E() {
    long double v;
    asm("fldl2e" : "=t"(v));
    return v;
}
long double Log10Two() {
    long double v;
    asm("fldlg2" : "=t"(v));
    return v;
}
long double LnTwo() {
    long double v;
    asm("fldln2" : "=t"(v));
    return v;
}
long double Zero() { return 0; }
long double One() { return 1; }

uint32_t U(int32_t v) { return static_cast<uint32_t>(v); }
int32_t I(uint32_t v) { return static_cast<int32_t>(v); }

// Integer folds, as the integer code computes on the same values: arithmetic modulo 2^32.
int32_t Add(int32_t top, int32_t second) { return I(U(second) + U(top)); }
int32_t Subtract(int32_t top, int32_t second) { return I(U(top) - U(second)); }
int32_t Multiply(int32_t top, int32_t second) { return I(U(second) * U(top)); }
int32_t Negate(int32_t v, int32_t) { return I(0u - U(v)); }
int32_t Absolute(int32_t v, int32_t) { return v < 0 ? I(0u - U(v)) : v; }
// The square root as the x87 unit rounds it in the default mode; values below 1 stay as they are.
int32_t SquareRoot(int32_t v, int32_t) {
    if (v <= 0) return v;
    return static_cast<int32_t>(std::lrint(std::sqrt(static_cast<long double>(v))));
}
// The whole constant is squared (at run time only its low 16 bits are).
int32_t Square(int32_t v, int32_t) { return I(U(v) * U(v)); }
int32_t Sine(int32_t v, int32_t) { return SineLookup(v); }
int32_t Cosine(int32_t v, int32_t) { return SineLookup(I(U(v) + 32768u)); }

using S = TStack;
using D = TDeepForm;
using G = TGrowth;

}  // namespace

const TKeywordFacts kFloatFacts[kFloatKeywordCount] = {
    /* +        */ {.pops = 2, .pushes = 1, .growth = G::kSum},
    /* -        */ {.pops = 2, .pushes = 1, .growth = G::kSum},
    /* neg      */ {.pops = 1, .pushes = 1, .growth = G::kKeeps},
    /* *        */ {.pops = 2, .pushes = 1, .growth = G::kProduct},
    /* /        */ {.pops = 2, .pushes = 1},
    /* \        */ {.pops = 2, .pushes = 1, .deep = D::kJumps},
    /* abs      */ {.pops = 1, .pushes = 1, .growth = G::kKeeps},
    /* scale    */ {.pops = 2, .pushes = 2, .stack = S::kScale, .deep = D::kFixedExponent},
    /* sqrt     */ {.pops = 1, .pushes = 1, .growth = G::kRoot},
    /* sqr      */ {.pops = 1, .pushes = 1, .growth = G::kSquare},
    /* sin      */ {.pops = 1, .pushes = 1},
    /* cos      */ {.pops = 1, .pushes = 1},
    /* sincos   */ {.pops = 1, .pushes = 2, .stack = S::kSinCos},
    /* tan      */ {.pops = 1, .pushes = 1, .temporaries = 1},  // FPTAN's 1.0, dropped at once
    /* patan    */ {.pops = 2, .pushes = 1, .deep = D::kNoForm},
    /* copy     */ {.pops = 1, .pushes = 2, .stack = S::kCopy, .growth = G::kKeeps},
    /* swap     */ {.pops = 2, .pushes = 2, .stack = S::kSwap, .growth = G::kKeeps},
    /* pi       */
    {.pops = 0, .pushes = 1, .stack = S::kConstant, .constant = Pi, .growth = G::kConstant},
    /* 0        */
    {.pops = 0, .pushes = 1, .stack = S::kConstant, .constant = Zero, .growth = G::kConstant},
    /* 1        */
    {.pops = 0, .pushes = 1, .stack = S::kConstant, .constant = One, .growth = G::kConstant},
    /* ret      */ {.pops = 1, .pushes = 0, .stack = S::kReturn, .growth = G::kKeeps},
    /* log2(10) */
    {.pops = 0, .pushes = 1, .stack = S::kConstant, .constant = Log2Ten, .growth = G::kConstant},
    /* log2(e)  */
    {.pops = 0, .pushes = 1, .stack = S::kConstant, .constant = Log2E, .growth = G::kConstant},
    /* log10{2) */
    {.pops = 0, .pushes = 1, .stack = S::kConstant, .constant = Log10Two, .growth = G::kConstant},
    /* ln(2)    */
    {.pops = 0, .pushes = 1, .stack = S::kConstant, .constant = LnTwo, .growth = G::kConstant},
    /* 2px      */ {.pops = 1, .pushes = 1},
    /* int      */ {.pops = 1, .pushes = 1, .deep = D::kJumps},
    /* YxLog2X  */ {.pops = 2, .pushes = 1, .deep = D::kNoForm},
    /* del      */ {.pops = 1, .pushes = 0, .stack = S::kDrop, .growth = G::kKeeps},
    /* log2     */ {.pops = 1, .pushes = 1, .temporaries = 1, .deep = D::kJumps},  // FXTRACT's pair
    /* exp      */ {.pops = 1, .pushes = 1, .temporaries = 2},  // 2^n and the fraction besides
};

const TKeywordFacts kIntFacts[kIntKeywordCount] = {
    /* +    */ {.pops = 2, .pushes = 1, .fold = Add},
    /* -    */ {.pops = 2, .pushes = 1, .fold = Subtract},
    /* neg  */ {.pops = 1, .pushes = 1, .fold = Negate},
    /* *    */ {.pops = 2, .pushes = 1, .fold = Multiply},
    /* /    */ {.pops = 0, .pushes = 0, .stack = S::kNothing},
    /* \    */ {.pops = 0, .pushes = 0, .stack = S::kNothing},
    /* abs  */ {.pops = 1, .pushes = 1, .fold = Absolute},
    /* shl  */ {.pops = 0, .pushes = 0, .stack = S::kNothing},
    /* shr  */ {.pops = 0, .pushes = 0, .stack = S::kNothing},
    /* sqrt */ {.pops = 1, .pushes = 1, .fold = SquareRoot},
    /* sqr  */ {.pops = 1, .pushes = 1, .fold = Square, .table = TTable::kSquare},
    /* sin  */ {.pops = 1, .pushes = 1, .fold = Sine, .table = TTable::kSine},
    /* cos  */ {.pops = 1, .pushes = 1, .fold = Cosine, .table = TTable::kSine},
    /* tan  */ {.pops = 0, .pushes = 0, .stack = S::kNothing},
    /* copy */ {.pops = 1, .pushes = 2, .stack = S::kCopy},
    /* swap */ {.pops = 2, .pushes = 2, .stack = S::kSwap},
    /* time */ {.pops = 0, .pushes = 0, .stack = S::kNothing},
    /* ret  */ {.pops = 1, .pushes = 0, .stack = S::kReturn},
};

const char *DeepRefusalReason(TDeepForm form) {
    switch (form) {
        case TDeepForm::kJumps:
            return "its value jumps where the operand crosses a step";
        case TDeepForm::kNoForm:
            return "deep rendering has no form for its difference";
        case TDeepForm::kFixedExponent:
            return "its exponent varies from sample to sample";
        case TDeepForm::kFollows:
            break;
    }
    return "";
}

}  // namespace quob
