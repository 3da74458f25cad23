// A small reference evaluator of the floating-point formula language for the tests: long double
// arithmetic, with the x87 instruction itself (inline assembly) for every keyword that maps to
// one, so that results can be compared bit for bit with compiled code.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "quob32.h"

namespace x87 {

using ld = long double;

inline ld Unary(ld a, const char *op) {
    ld r = a;
    if (!std::strcmp(op, "fsin"))
        __asm__("fsin" : "+t"(r));
    else if (!std::strcmp(op, "fcos"))
        __asm__("fcos" : "+t"(r));
    else if (!std::strcmp(op, "fsqrt"))
        __asm__("fsqrt" : "+t"(r));
    else if (!std::strcmp(op, "frndint"))
        __asm__("frndint" : "+t"(r));
    else if (!std::strcmp(op, "f2xm1"))
        __asm__("f2xm1" : "+t"(r));
    else if (!std::strcmp(op, "fabs"))
        __asm__("fabs" : "+t"(r));
    else if (!std::strcmp(op, "fchs"))
        __asm__("fchs" : "+t"(r));
    return r;
}
inline ld Tan(ld a) {
    ld one, tangent;
    __asm__("fptan" : "=t"(one), "=u"(tangent) : "0"(a));  // pushes 1.0 above the tangent
    return tangent;
}
inline ld Exponent(ld a) {  // FXTRACT's exponent part
    ld sig, exp = a;
    __asm__("fxtract" : "=t"(sig), "=u"(exp) : "0"(a));
    return exp;
}
inline void SinCos(ld a, ld &s, ld &c) { __asm__("fsincos" : "=t"(c), "=u"(s) : "0"(a)); }
// ST0 = top, ST1 = second.
inline ld Rem(ld top, ld second) {
    ld r;
    __asm__("fprem" : "=t"(r) : "0"(top), "u"(second));
    return r;
}
inline ld Scale(ld top, ld second) {
    ld r;
    __asm__("fscale" : "=t"(r) : "0"(top), "u"(second));
    return r;
}
inline ld Patan(ld top, ld second) {  // arctan(second / top)
    ld r;
    __asm__("fpatan" : "=t"(r) : "0"(top), "u"(second) : "st(1)");
    return r;
}
inline ld Yl2x(ld top, ld second) {  // second * log2(top)
    ld r;
    __asm__("fyl2x" : "=t"(r) : "0"(top), "u"(second) : "st(1)");
    return r;
}
inline ld Constant(const char *which) {
    ld r;
    if (!std::strcmp(which, "pi"))
        __asm__("fldpi" : "=t"(r));
    else if (!std::strcmp(which, "log2(10)"))
        __asm__("fldl2t" : "=t"(r));
    else if (!std::strcmp(which, "log2(e)"))
        __asm__("fldl2e" : "=t"(r));
    else if (!std::strcmp(which, "log10{2)"))
        __asm__("fldlg2" : "=t"(r));
    else
        __asm__("fldln2" : "=t"(r));
    return r;
}
// The thirteen-instruction sequence of "exp", step by step.
inline ld Exp(ld x) {
    const ld t = x * Constant("log2(e)");
    const ld n = Unary(t, "frndint");
    const ld f = t - n;
    const ld p = Scale(1.0L, n);
    const ld g = Unary(f, "f2xm1") + 1.0L;
    return g * p;
}

// Evaluates a body over named parameter values; nullopt when the body is not well-formed, or
// when "tan" or "sincos" meets an operand outside the x87 range (|a| >= 2^63, or not finite):
// FPTAN and FSINCOS then leave the operand alone and push nothing, so the compiled code's stack
// no longer matches the language's, and its results are not those of the language.
struct Result {
    std::vector<ld> results;
};
inline bool TrigRange(ld a) { return std::isfinite(a) && std::fabs(a) < 0x1p63L; }
inline std::optional<Result> Evaluate(const std::string &body,
                                      const std::vector<std::string> &names,
                                      const std::vector<ld> &values) {
    // Each keyword with the number of operands it needs.
    static const std::map<std::string, size_t> kKeywords = {
        {"+", 2},      {"-", 2},     {"neg", 1},   {"*", 2},        {"/", 2},       {"\\", 2},
        {"abs", 1},    {"scale", 2}, {"sqrt", 1},  {"sqr", 1},      {"sin", 1},     {"cos", 1},
        {"sincos", 1}, {"tan", 1},   {"patan", 2}, {"copy", 1},     {"swap", 2},    {"pi", 0},
        {"0", 0},      {"1", 0},     {"ret", 1},   {"log2(10)", 0}, {"log2(e)", 0}, {"log10{2)", 0},
        {"ln(2)", 0},  {"2px", 1},   {"int", 1},   {"YxLog2X", 2},  {"del", 1},     {"log2", 1},
        {"exp", 1}};
    std::vector<ld> s;
    Result out;
    std::istringstream words(body);
    std::string w;
    auto pop = [&] {
        const ld v = s.back();
        s.pop_back();
        return v;
    };
    while (words >> w) {
        bool isParam = false;
        for (size_t i = 0; i < names.size() && !isParam; ++i)
            if (names[i] == w) s.push_back(values[i]), isParam = true;
        if (isParam) continue;
        const auto keyword = kKeywords.find(w);
        if (keyword == kKeywords.end()) {  // a literal: single precision unless marked with "!"
            const ld v = std::strtold(w.substr(0, w.find('!')).c_str(), nullptr);
            s.push_back(w.find('!') != std::string::npos ? v : ld(static_cast<float>(v)));
            continue;
        }
        if (s.size() < keyword->second) return std::nullopt;
        if (w == "+") {
            const ld a = pop(), b = pop();
            s.push_back(b + a);
        } else if (w == "-") {
            const ld a = pop(), b = pop();
            s.push_back(a - b);
        } else if (w == "*") {
            const ld a = pop(), b = pop();
            s.push_back(b * a);
        } else if (w == "/") {
            const ld a = pop(), b = pop();
            s.push_back(a / b);
        } else if (w == "\\") {
            const ld a = pop(), b = pop();
            s.push_back(Rem(a, b));
        } else if (w == "scale") {
            const ld a = pop();
            s.push_back(Scale(a, s.back()));
        } else if (w == "patan") {
            const ld a = pop(), b = pop();
            s.push_back(Patan(a, b));
        } else if (w == "YxLog2X") {
            const ld a = pop(), b = pop();
            s.push_back(Yl2x(a, b));
        } else if (w == "swap") {
            const ld a = pop(), b = pop();
            s.push_back(a);
            s.push_back(b);
        } else if (w == "neg")
            s.back() = Unary(s.back(), "fchs");
        else if (w == "abs")
            s.back() = Unary(s.back(), "fabs");
        else if (w == "sqrt")
            s.back() = Unary(s.back(), "fsqrt");
        else if (w == "sqr")
            s.back() = s.back() * s.back();
        else if (w == "sin")
            s.back() = Unary(s.back(), "fsin");
        else if (w == "cos")
            s.back() = Unary(s.back(), "fcos");
        else if (w == "2px")
            s.back() = Unary(s.back(), "f2xm1");
        else if (w == "int")
            s.back() = Unary(s.back(), "frndint");
        else if (w == "log2")
            s.back() = Exponent(s.back());
        else if (w == "exp")
            s.back() = Exp(s.back());
        else if (w == "tan" || w == "sincos") {
            if (!TrigRange(s.back())) return std::nullopt;
            if (w == "tan") {
                s.back() = Tan(s.back());
                continue;
            }
            ld sn, cs;
            SinCos(pop(), sn, cs);
            s.push_back(sn);
            s.push_back(cs);
        } else if (w == "copy")
            s.push_back(s.back());
        else if (w == "del")
            pop();
        else if (w == "ret")
            out.results.push_back(pop());
        else if (w == "0" || w == "1")
            s.push_back(w == "0" ? 0.0L : 1.0L);
        else
            s.push_back(Constant(w.c_str()));
    }
    if (!s.empty() || out.results.empty()) return std::nullopt;
    return out;
}

// A random body over the given parameter names that keeps within the language's rules: every
// keyword, literals of both precisions, stack depths up to maxDepth (at most 8), up to 8 results.
// polynomial: only the keywords whose magnitudes the filler's sample loop bounds ("+", "-", "*",
// "sqr", "neg", "abs", the stack words, the constants).
inline std::string RandomBody(std::mt19937 &rng, const std::vector<std::string> &names,
                              int maxDepth = 8, int maxLength = 40, bool polynomial = false) {
    static const char *unary[] = {"neg", "abs", "sqr", "copy", "del", "sqrt", "sin",
                                  "cos", "2px", "int", "log2", "tan", "exp",  "sincos"};
    static const char *binary[] = {"+", "-", "*", "swap", "/", "\\", "scale", "patan", "YxLog2X"};
    static const char *constants[] = {"pi",       "0",        "1",     "log2(e)", "ln(2)",
                                      "0.3",      "-2.5",     "1.1!",  "7e3",     ".25",
                                      "log2(10)", "log10{2)", "1e-40", "3e38"};
    auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    std::string body;
    int depth = 0, rets = 0;
    const int length = 1 + pick(maxLength);
    auto add = [&](const std::string &w) { body += w + " "; };
    for (int i = 0; i < length; ++i) {
        const int kind = pick(10);
        if (kind < 4 && depth < maxDepth) {
            add(pick(3) ? names[pick(int(names.size()))] : constants[pick(14)]);
            ++depth;
        } else if (kind < 7 && depth >= 1) {
            const std::string w = unary[pick(polynomial ? 5 : 14)];
            const int grows = w == "copy" || w == "sincos" ? 1 : w == "del" ? -1 : 0;
            const int temporaries = w == "tan" || w == "log2" ? 1 : w == "exp" ? 2 : 0;
            if (depth + std::max(grows, temporaries) > maxDepth) continue;
            if (w == "del" && depth == 1 && rets == 0) continue;
            add(w);
            depth += grows;
        } else if (kind < 9 && depth >= 2) {
            const std::string w = binary[pick(polynomial ? 4 : 9)];
            add(w);
            depth -= w == "swap" || w == "scale" ? 0 : 1;
        } else if (depth >= 1 && rets < 8) {
            add("ret");
            ++rets, --depth;
        }
    }
    while (depth > 0 && rets < 8) add("ret"), ++rets, --depth;
    while (depth > 0) add("del"), --depth;
    if (rets == 0) add(names[0] + " ret");
    return body;
}

// Extended values that reach every path of the arithmetic: zeros, infinities, quiet and
// signalling NaNs with their payloads and signs, denormals, the ends of the range, values beyond
// 2^63 (outside FPTAN's and FSINCOS's range), ordinary ones, and now and then any 80-bit pattern
// (also the unsupported encodings).
inline ld SpecialValue(std::mt19937 &rng) {
    auto bits = [](uint64_t significand, uint16_t signExponent) {
        unsigned char b[sizeof(ld)] = {};
        std::memcpy(b, &significand, 8);
        std::memcpy(b + 8, &signExponent, 2);
        ld v;
        std::memcpy(&v, b, sizeof v);
        return v;
    };
    const uint16_t sign = rng() % 2 ? 0x8000 : 0;
    // A few payloads repeat, so that two NaNs often differ only in their signs.
    const uint64_t payload =
        rng() % 2 ? rng() % 3 : (uint64_t{rng()} << 32 | rng()) & 0x3FFFFFFFFFFFFFFFull;
    std::uniform_real_distribution<double> ordinary(-3, 3);
    switch (rng() % 14) {
        case 0:
            return bits(0, sign);
        case 1:
            return bits(0x8000000000000000ull, sign | 0x7FFF);  // infinity
        case 2:
            return bits(0xC000000000000000ull | payload, sign | 0x7FFF);  // quiet NaN
        case 3:
            return bits(0x8000000000000000ull | (payload >> 1 | 1), sign | 0x7FFF);  // SNaN
        case 4:
            return bits(payload >> (rng() % 60), sign);  // denormal
        case 5:
            return bits(0x8000000000000000ull | payload, sign | (0x7FF0 + rng() % 15));
        case 6:
            return bits(0x8000000000000000ull | payload, sign | (1 + rng() % 15));
        case 7:
            return bits(0x8000000000000000ull | payload, sign | (0x403E + rng() % 40));
        case 8:
            return bits(uint64_t{rng()} << 32 | rng(), static_cast<uint16_t>(rng()));
        default:
            return ordinary(rng) * (rng() % 2 ? 1 : 1e-3);
    }
}

// A real function created from a definition text, deleted at the end.
struct RealFunction {
    int32_t handle;
    explicit RealFunction(int32_t h) : handle(h) {}
    ~RealFunction() {
        if (handle) DeleteFunction(handle);
    }
    RealFunction(const RealFunction &) = delete;
    ld &Param(int i) const { return *static_cast<ld *>(AccessParam(handle, i)); }
    ld Result(int i) const { return *static_cast<ld *>(AccessResult(handle, i)); }
};

// The 10 significant bytes of an extended real.
inline std::string Bits(ld v) {
    unsigned char b[10];
    std::memcpy(b, &v, 10);
    char text[32];
    for (int i = 0; i < 10; ++i) std::snprintf(text + 2 * i, 3, "%02x", b[9 - i]);
    return text;
}

}  // namespace x87
