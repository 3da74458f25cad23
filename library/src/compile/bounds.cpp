// Bounds on the magnitudes of a body's values, by the keywords' growth facts.
#include "compile/bounds.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "compile/keywords.h"

namespace quob {
namespace {

constexpr double kZero = -std::numeric_limits<double>::infinity();  // the exponent of 0
// Values stay below 2^16382, so that neither a value nor its rounding reaches the overflow
// threshold 2^16384 of extended precision.
constexpr double kLimit = 16382;

double ExponentOf(long double v) { return v == 0 ? kZero : std::log2(std::fabs(v)); }

// The largest exponent of any value of `iterations` iterations whose parameters start at most at
// 2^e; +infinity for a keyword without a bound.
double Largest(const TBody &body, double e, int32_t iterations, bool faultFree) {
    const double unbounded = std::numeric_limits<double>::infinity();
    std::vector<double> param(static_cast<std::size_t>(body.paramCount), e);
    const int32_t fedBack = std::min(body.paramCount, body.results);
    double largest = e;
    std::vector<double> stack, results;
    for (int32_t i = 0; i < iterations; ++i) {
        stack.clear();
        results.clear();
        auto pop = [&] {
            const double v = stack.back();
            stack.pop_back();
            return v;
        };
        for (const TWord &w : body.words) {
            double v = 0;
            if (w.kind == TWord::kParam) {
                v = param[static_cast<std::size_t>(w.index)];
            } else if (w.kind == TWord::kLiteral) {
                v = ExponentOf(w.real);
            } else {
                const TKeywordFacts &k = kFloatFacts[w.index];
                switch (k.growth) {
                    case TGrowth::kUnbounded:
                        return unbounded;
                    case TGrowth::kConstant:
                        v = ExponentOf(k.constant());
                        break;
                    case TGrowth::kSum: {
                        const double a = pop(), b = pop();
                        v = std::max(a, b) + 1;
                        break;
                    }
                    case TGrowth::kProduct: {
                        const double a = pop(), b = pop();
                        v = a + b;
                        break;
                    }
                    case TGrowth::kSquare:
                        v = 2 * pop();
                        break;
                    case TGrowth::kRoot:
                        if (faultFree) return unbounded;
                        v = pop() / 2;
                        break;
                    case TGrowth::kKeeps:
                        if (k.stack == TStack::kCopy) {
                            v = stack.back();
                        } else if (k.stack == TStack::kSwap) {
                            std::swap(stack[stack.size() - 1], stack[stack.size() - 2]);
                            continue;
                        } else if (k.stack == TStack::kDrop) {
                            pop();
                            continue;
                        } else if (k.stack == TStack::kReturn) {
                            results.push_back(pop());
                            continue;
                        } else {
                            v = pop();  // "neg", "abs"
                        }
                        break;
                }
            }
            largest = std::max(largest, v);
            stack.push_back(v);
        }
        for (int32_t p = 0; p < fedBack; ++p)
            param[static_cast<std::size_t>(p)] = results[static_cast<std::size_t>(p)];
    }
    return largest;
}

}  // namespace

namespace {

int32_t LargestBound(const TBody &body, int32_t iterations, bool faultFree) {
    if (Largest(body, kMinGuardExponent, iterations, faultFree) >= kLimit) return -1;
    // The bound grows with the parameters' exponent: the largest that keeps every value below
    // the limit.
    int32_t low = kMinGuardExponent, high = static_cast<int32_t>(kLimit);
    while (low < high) {
        const int32_t mid = low + (high - low + 1) / 2;
        if (Largest(body, mid, iterations, faultFree) < kLimit)
            low = mid;
        else
            high = mid - 1;
    }
    return low;
}

}  // namespace

int32_t GuardExponent(const TBody &body, int32_t iterations) {
    if (body.kind != FunctionKind::Recursive) return -1;
    return LargestBound(body, iterations, true);
}

int32_t SafeExponent(const TBody &body) { return LargestBound(body, 1, false); }

}  // namespace quob
