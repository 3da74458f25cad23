// What each keyword of the language is, once for every part of the compiler: the values it takes
// and leaves, the registers it needs besides, how it folds, the table its integer code reads and
// whether deep rendering can follow it. The front end checks a body by these facts; the back ends
// and the derived forms read them and switch on a keyword only for what they emit.
//
// A new keyword: its name in the scanner's set (scanner.cpp), its row here, and its case in each
// back end that emits code for it (floatgen.cpp, intgen.cpp) and in each derived form that follows
// it (deepgen.cpp, reforbit.cpp).
#pragma once
#include <cstdint>

#include "compile/scanner.h"

namespace quob {

// How a keyword moves the values of the stack.
enum class TStack : uint8_t {
    kOperation,  // takes `pops` values and leaves one computed from them
    kConstant,   // leaves a constant
    kCopy,       // leaves its operand twice
    kSwap,       // exchanges the two top values
    kDrop,       // discards the top
    kReturn,     // stores the top as the next result
    kScale,      // leaves the exponent (the second value) and the scaled top above it
    kSinCos,     // leaves the sine of its operand and the cosine above it
    kNothing,    // a reserved word without an operation: the stack stays as it is
};

// Whether deep rendering (the perturbed form) can follow a keyword where it acts on a value that
// varies from sample to sample.
enum class TDeepForm : uint8_t {
    kFollows,        // its difference has a form without cancellation, or it only moves values
    kJumps,          // its value jumps where the operand crosses a step
    kNoForm,         // there is no form for its difference
    kFixedExponent,  // only with an exponent that is the same for every sample
};

// The lookup table whose entries an integer keyword's code reads.
enum class TTable : uint8_t {
    kNone,
    kSquare,  // the square table, for an operand that is not a constant (constants are squared)
    kSine,    // the sine table, also for a constant (which is folded through the table)
};

// How the magnitude of a keyword's value follows from its operands' (real kinds), for the bound
// of the filler's fast iterations: in binary exponents.
enum class TGrowth : uint8_t {
    kUnbounded,  // no bound from the operands' (a quotient, a root, a transcendental function)
    kKeeps,      // at most the operand's, or its operands' moved as they are (stack words)
    kSum,        // at most the larger operand's plus one
    kProduct,    // at most the operands' sum
    kSquare,     // at most twice the operand's
    kRoot,       // at most half the operand's, but a negative operand is an invalid operation
    kConstant,   // the constant's
};

struct TKeywordFacts {
    int8_t pops;             // values it needs on the stack
    int8_t pushes;           // values it leaves in their place
    int8_t temporaries = 0;  // x87 registers it needs beyond those while it runs (real kinds)
    TStack stack = TStack::kOperation;
    // Real kinds: the value a constant keyword leaves, as the x87 unit loads it.
    long double (*constant)() = nullptr;
    TDeepForm deep = TDeepForm::kFollows;
    // Integer kind: the value of an operation on constants (top, second), as the code computes it.
    int32_t (*fold)(int32_t top, int32_t second) = nullptr;
    TTable table = TTable::kNone;
    TGrowth growth = TGrowth::kUnbounded;
};

extern const TKeywordFacts kFloatFacts[kFloatKeywordCount];
extern const TKeywordFacts kIntFacts[kIntKeywordCount];

// The text that says why deep rendering cannot follow a keyword, for TDeepForm values other than
// kFollows.
const char *DeepRefusalReason(TDeepForm form);

}  // namespace quob
