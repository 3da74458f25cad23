// The formula language's scanner, its keyword sets and its number literals.
#pragma once
#include <cstdint>

namespace quob {

constexpr int kTokenLength = 8;  // a token keeps at most 8 characters

// An ordered keyword table: a keyword is identified by its index, on which the back ends dispatch.
using KeywordSet = const char *const *;

// Integer keyword set, in its binding order.
enum IntKeyword : int {
    kiAdd,
    kiSub,
    kiNeg,
    kiMul,
    kiDiv,
    kiRem,
    kiAbs,
    kiShl,
    kiShr,
    kiSqrt,
    kiSqr,
    kiSin,
    kiCos,
    kiTan,
    kiCopy,
    kiSwap,
    kiTime,
    kiRet,
    kIntKeywordCount
};
// Floating-point keyword set, in its binding order.
enum FloatKeyword : int {
    kfAdd,
    kfSub,
    kfNeg,
    kfMul,
    kfDiv,
    kfRem,
    kfAbs,
    kfScale,
    kfSqrt,
    kfSqr,
    kfSin,
    kfCos,
    kfSinCos,
    kfTan,
    kfPatan,
    kfCopy,
    kfSwap,
    kfPi,
    kfZero,
    kfOne,
    kfRet,
    kfLog2Ten,
    kfLog2E,
    kfLog10Two,
    kfLnTwo,
    kf2Px,
    kfInt,
    kfYxLog2X,
    kfDel,
    kfLog2,
    kfExp,
    kFloatKeywordCount
};

extern const char *const kIntKeywords[kIntKeywordCount + 1];      // ends with ""
extern const char *const kFloatKeywords[kFloatKeywordCount + 1];  // ends with ""

class TScanner {
  public:
    explicit TScanner(const char *text) : text_(text) {}

    // Reads the next token, stores and returns it; the empty token marks the end of the text.
    const char *NextToken();
    // The token last read; empty while the position is at the start of the text, even after a
    // look-ahead or a reset there.
    const char *CurrentToken() const { return position_ == 0 ? "" : token_; }
    // True when the next token would be empty; the position is restored, the stored token is
    // the look-ahead's.
    bool AtEnd();
    void Mark() { mark_ = position_; }
    void Reset() { position_ = mark_; }

  private:
    int32_t position_ = 0;
    int32_t mark_ = 0;
    const char *text_;
    char token_[kTokenLength + 1] = {};
};

// A letter followed by letters and digits; the empty token is no name.
bool IsName(const char *token);
// The index of the token in a keyword set, or -1.
int KeywordIndex(KeywordSet set, const char *token);

// A real literal: the value and whether it is loaded in full extended precision ("!" mark).
struct RealLiteral {
    long double value;
    bool extended;
};
// Converts a real literal token; false when the token is no well-formed literal.
bool ParseRealLiteral(const char *token, RealLiteral &out);
// Converts an integer literal token (decimal with optional "-", or "$" and hex digits); false
// when malformed or out of the 32-bit range.
bool ParseIntLiteral(const char *token, int32_t &out);

}  // namespace quob
