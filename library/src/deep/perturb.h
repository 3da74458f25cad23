// The perturbed form of a fractal formula: every value of its body as a pair (reference value,
// difference), the reference values computed once along a reference orbit, the differences of
// each sample by compiled x87 code. Deep pictures (scales far below what extended precision
// resolves) are made of it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "compile/backend.h"
#include "errors.h"

namespace quob {

// One value of the body for one iteration. Nodes 0..P-1 are the parameters at the start of the
// iteration; every other node is a constant or a keyword applied to earlier nodes.
struct TNode {
    enum Kind : uint8_t { kParam, kConst, kKeyword } kind;
    int8_t keyword = -1;    // kKeyword: a FloatKeyword
    int16_t param = -1;     // kParam
    int32_t a = -1;         // the operand, or the top one of two (the first operand)
    int32_t b = -1;         // the operand below it
    long double value = 0;  // kConst: the x87 value
    bool fixed = false;     // the same for every sample: its difference is 0
    bool live = false;      // the difference code needs its difference
};

// A value the difference code reads from the orbit's record of an iteration.
struct TSlot {
    enum Kind : uint8_t {
        kRef,   // the node's reference value
        kSign,  // +1 where the node's reference value is >= 0, else -1
        kSin,   // sine and cosine of the node's reference value
        kCos,
        kGlitch,  // kGlitchRatio * (|reference of parameter 0| + |reference of parameter 1|)
    } kind;
    int32_t node;
};

// The text of a refusal of deep rendering (a TAbandon thrown by the form or the deep code
// generator) for the body.
std::string DeepRefusal(const TAbandon &refusal, const TBody &body);

// How a parameter starts a sample, as the pixel routine writes its cells.
enum class TStart : uint8_t { kZero, kRe, kIm };

// A sample is glitched once its iterate, abs(re) + abs(im), is smaller than this fraction of the
// reference's: its difference then cancels the reference value, and the bits that tell the
// sample from the reference are lost.
constexpr long double kGlitchRatio = 1e-6L;

class TPerturbedForm {
  public:
    // The form of a compiled fractal formula's body, its parameters 0 and 1 starting at the
    // sample's point (RecursionInit 0) or at 0. Throws TAbandon naming the keyword or the
    // parameter that deep rendering cannot follow.
    TPerturbedForm(const TBody &body, int32_t recursionInit);

    int32_t ParamCount() const { return params_; }
    int32_t FedBack() const { return fedBack_; }  // K: results fed back into parameters 0..K-1
    TStart Start(int32_t p) const { return start_[p]; }
    const std::vector<TNode> &Nodes() const { return nodes_; }
    // The node of result k, k < FedBack().
    int32_t Result(int32_t k) const { return results_[k]; }
    const std::vector<TSlot> &Slots() const { return slots_; }
    int32_t RecordSize() const { return kRealWidth * static_cast<int32_t>(slots_.size()); }
    // The slots of parameters 0 and 1 (the iterate) and of the glitch threshold.
    int32_t IterateSlot(int32_t i) const { return iterateSlot_[i]; }
    int32_t GlitchSlot() const { return glitchSlot_; }
    // The slot of a kind for a node; -1 when the record has none.
    int32_t Slot(TSlot::Kind kind, int32_t node) const;

  private:
    void Build(const TBody &body);
    void Propagate();
    void Refuse(const TNode &node) const;
    int32_t AddSlot(TSlot::Kind kind, int32_t node);
    void AddRefSlot(int32_t node);

    int32_t params_ = 0;
    int32_t fedBack_ = 0;
    TStart start_[kMaxParams] = {};
    std::vector<TNode> nodes_;
    std::vector<int32_t> results_;
    std::vector<TSlot> slots_;
    int32_t iterateSlot_[2] = {};
    int32_t glitchSlot_ = 0;
};

}  // namespace quob
