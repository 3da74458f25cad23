// TScanner and the lexical rules of the formula language.
#include "compile/scanner.h"

#include <locale.h>
#include <stdlib.h>

#include <cmath>
#include <cstring>

namespace quob {

const char *const kIntKeywords[kIntKeywordCount + 1] = {
    "+",   "-",   "neg", "*",   "/",    "\\",   "abs",  "shl", "shr", "sqrt",
    "sqr", "sin", "cos", "tan", "copy", "swap", "time", "ret", ""};

const char *const kFloatKeywords[kFloatKeywordCount + 1] = {
    "+",     "-",   "neg", "*",       "/",      "\\",       "abs",     "scale",
    "sqrt",  "sqr", "sin", "cos",     "sincos", "tan",      "patan",   "copy",
    "swap",  "pi",  "0",   "1",       "ret",    "log2(10)", "log2(e)", "log10{2)",
    "ln(2)", "2px", "int", "YxLog2X", "del",    "log2",     "exp",     ""};

namespace {

constexpr const char *kSeparators = " +-=/*";  // the blank and the operator characters

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsSeparator(char c) { return c != '\0' && std::strchr(kSeparators, c) != nullptr; }

}  // namespace

const char *TScanner::NextToken() {
    int length = 0;
    auto take = [&](char c) {
        if (length < kTokenLength) token_[length++] = c;  // the rest is consumed and dropped
    };
    if (text_[position_] != '\0') {
        while (text_[position_] == ' ') ++position_;
        const char first = text_[position_];
        if (first != '\0') {
            const bool minusWord = first == '-' && IsDigit(text_[position_ + 1]);
            if (IsSeparator(first) && !minusWord) {
                take(first);
                ++position_;
            } else {
                take(first);
                ++position_;
                for (char c; (c = text_[position_]) != '\0'; ++position_) {
                    if (IsSeparator(c) && !(c == '-' && IsDigit(text_[position_ + 1]))) break;
                    take(c);
                }
            }
        }
    }
    token_[length] = '\0';
    return token_;
}

bool TScanner::AtEnd() {
    const int32_t saved = position_;
    const bool end = NextToken()[0] == '\0';
    position_ = saved;
    return end;
}

bool IsName(const char *token) {
    if (!IsLetter(token[0])) return false;
    for (const char *p = token + 1; *p; ++p)
        if (!IsLetter(*p) && !IsDigit(*p)) return false;
    return true;
}

int KeywordIndex(KeywordSet set, const char *token) {
    for (int i = 0; set[i][0] != '\0'; ++i)
        if (std::strcmp(set[i], token) == 0) return i;
    return -1;
}

bool ParseRealLiteral(const char *token, RealLiteral &out) {
    // The grammar: [-] digits [. digits+] [(E|e) [-] digits+], digits before the point optional
    // but at least one digit in the mantissa; then the end of the token or "!" and anything.
    const char *p = token;
    if (*p == '-') ++p;
    int mantissaDigits = 0;
    while (IsDigit(*p)) ++p, ++mantissaDigits;
    if (*p == '.') {
        ++p;
        int fraction = 0;
        while (IsDigit(*p)) ++p, ++fraction;
        if (fraction == 0) return false;
        mantissaDigits += fraction;
    }
    if (mantissaDigits == 0) return false;
    if (*p == 'E' || *p == 'e') {
        ++p;
        if (*p == '-') ++p;
        int exponent = 0;
        while (IsDigit(*p)) ++p, ++exponent;
        if (exponent == 0) return false;
    }
    if (*p != '\0' && *p != '!') return false;

    // The grammar above is checked, so the conversion stops exactly at the end or at "!". It runs
    // in the "C" locale: a host that adopted the user's locale (the viewer does) may otherwise
    // read "0.5" with a comma as its decimal point, that is as 0.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    out.extended = *p == '!';
    const long double value = strtold_l(token, nullptr, cLocale);
    // A value beyond the range of its format (such as 1e999) is no usable constant: the body
    // fails with "invalid right side expression" instead of loading an infinity.
    if (out.extended) {
        if (std::isinf(value)) return false;
        out.value = value;
    } else {
        const float single = static_cast<float>(value);
        if (std::isinf(single)) return false;
        out.value = single;
    }
    return true;
}

bool ParseIntLiteral(const char *token, int32_t &out) {
    const char *p = token;
    if (*p == '$') {
        ++p;
        if (*p == '\0') return false;
        uint64_t value = 0;
        for (; *p; ++p) {
            int digit;
            if (IsDigit(*p))
                digit = *p - '0';
            else if (*p >= 'a' && *p <= 'f')
                digit = *p - 'a' + 10;
            else if (*p >= 'A' && *p <= 'F')
                digit = *p - 'A' + 10;
            else
                return false;
            value = value * 16 + static_cast<uint64_t>(digit);
            if (value > 0xFFFFFFFFull) return false;
        }
        out = static_cast<int32_t>(static_cast<uint32_t>(value));
        return true;
    }
    const bool negative = *p == '-';
    if (negative) ++p;
    if (*p == '\0') return false;
    int64_t value = 0;
    for (; *p; ++p) {
        if (!IsDigit(*p)) return false;
        value = value * 10 + (*p - '0');
        if (value > 2147483648LL) return false;
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return false;
    out = static_cast<int32_t>(value);
    return true;
}

}  // namespace quob
