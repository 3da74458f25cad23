// Shared pieces of the tests: code as hex, repeated text, the count of live functions; for the
// integer back end a compiled integer function, integer literals, a reference evaluator of
// integer bodies and a generator of random bodies.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "quob32.h"

namespace quob::test {

inline std::string Hex(const uint8_t *bytes, size_t count) {
    std::string hex;
    char digits[3];
    for (size_t i = 0; i < count; ++i) std::snprintf(digits, 3, "%02X", bytes[i]), hex += digits;
    return hex;
}

inline std::string Repeat(const std::string &s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

inline int32_t LiveFunctions() {
    int32_t live = 0;
    QUOB_FunctionRecord record;
    for (int32_t h = 1; h <= 128; ++h) live += GetFunction(h, &record);
    return live;
}

// An integer function created from "params = body" under a fresh name, deleted at the end.
class IntFunction {
  public:
    explicit IntFunction(const std::string &paramsAndBody) {
        static int serial = 0;
        const std::string text = "i" + std::to_string(++serial) + " " + paramsAndBody;
        handle_ = CreateIntFunction(text.c_str());
        error_ = QUOB_GetLastError();
    }
    ~IntFunction() {
        if (handle_) DeleteFunction(handle_);
    }
    IntFunction(const IntFunction &) = delete;
    IntFunction &operator=(const IntFunction &) = delete;

    bool ok() const { return handle_ != 0; }
    int32_t handle() const { return handle_; }
    int32_t error() const { return error_; }

    // Stores the parameters, runs the code and returns all results.
    std::vector<int32_t> Run(const std::vector<int32_t> &params) const {
        QUOB_FunctionRecord r;
        GetFunction(handle_, &r);
        for (size_t p = 0; p < params.size(); ++p)
            *static_cast<int32_t *>(AccessParam(handle_, static_cast<int32_t>(p))) = params[p];
        LaunchFunction(handle_);
        std::vector<int32_t> results;
        for (int32_t k = 0; k < r.ResultCount; ++k)
            results.push_back(*static_cast<const int32_t *>(AccessResult(handle_, k)));
        return results;
    }

  private:
    int32_t handle_ = 0;
    int32_t error_ = 0;
};

// The literal of v that fits a token (8 characters): decimal, else "$" and hex; nullopt when
// neither fits.
inline std::optional<std::string> IntLiteral(int32_t v) {
    std::string decimal = std::to_string(v);
    if (decimal.size() <= 8) return decimal;
    if (v >= 0 && v <= 0xFFFFFFF) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "$%X", static_cast<unsigned>(v));
        return std::string(hex);
    }
    return std::nullopt;
}

// The sine of the language's angle unit, computed independently of the library's table.
inline int32_t ReferenceSine(int32_t angle) {
    const int32_t k = angle & 0xFFFF;
    const long double x =
        static_cast<long double>(k) * 3.141592653589793238462643383279503L / 65536;
    const int32_t entry = static_cast<int32_t>(std::lrint(std::sin(x) * 32767));
    return (angle & 0x10000) ? -entry : entry;
}

// Evaluates a body as the language defines it, with plain 32-bit wrap-around arithmetic. Values
// computed from literals alone are folded at compile time, which differs from run time in two
// places: "sqr" squares the whole value rather than its low 16 bits, and "sqrt" leaves a value
// below 1 unchanged (at run time the x87 gives 0 for 0 and the integer indefinite for a
// negative value). Returns nullopt when the body does not compile.
inline std::optional<std::vector<int32_t>> EvaluateIntBody(const std::vector<std::string> &tokens,
                                                           const std::vector<std::string> &names,
                                                           const std::vector<int32_t> &values) {
    struct Value {
        uint32_t v;
        bool folded;
    };
    std::vector<Value> stack;
    std::vector<int32_t> results;
    auto pop = [&](Value &out) {
        if (stack.empty()) return false;
        out = stack.back();
        stack.pop_back();
        return true;
    };
    auto s32 = [](uint32_t v) { return static_cast<int32_t>(v); };
    for (const std::string &t : tokens) {
        Value a, b;
        if (t == "/" || t == "\\" || t == "shl" || t == "shr" || t == "tan" || t == "time") {
            continue;
        } else if (t == "+" || t == "-" || t == "*") {
            if (!pop(a) || !pop(b)) return std::nullopt;
            const uint32_t r = t == "+" ? b.v + a.v : t == "-" ? a.v - b.v : a.v * b.v;
            stack.push_back({r, a.folded && b.folded});
        } else if (t == "swap") {
            if (!pop(a) || !pop(b)) return std::nullopt;
            stack.push_back(a);
            stack.push_back(b);
        } else if (t == "copy") {
            if (!pop(a)) return std::nullopt;
            stack.push_back(a);
            stack.push_back(a);
        } else if (t == "ret") {
            if (!pop(a)) return std::nullopt;
            results.push_back(s32(a.v));
        } else if (t == "neg" || t == "abs" || t == "sqrt" || t == "sqr" || t == "sin" ||
                   t == "cos") {
            if (!pop(a)) return std::nullopt;
            const int32_t v = s32(a.v);
            uint32_t r;
            if (t == "neg") {
                r = 0u - a.v;
            } else if (t == "abs") {
                r = v < 0 ? 0u - a.v : a.v;
            } else if (t == "sqrt") {
                if (v > 0)
                    r = static_cast<uint32_t>(std::lrint(std::sqrt(static_cast<long double>(v))));
                else
                    r = a.folded || v == 0 ? a.v : 0x80000000u;
            } else if (t == "sqr") {
                const int32_t low = static_cast<int16_t>(a.v & 0xFFFF);
                r = a.folded ? a.v * a.v : static_cast<uint32_t>(low * low);
            } else {
                r = static_cast<uint32_t>(ReferenceSine(s32(t == "cos" ? a.v + 32768u : a.v)));
            }
            stack.push_back({r, a.folded});
        } else {
            bool found = false;
            for (size_t p = 0; p < names.size() && !found; ++p)
                if (names[p] == t) {
                    stack.push_back({static_cast<uint32_t>(values[p]), false});
                    found = true;
                }
            if (found) continue;
            int64_t v;
            if (t.size() > 1 && t[0] == '$')
                v = static_cast<int32_t>(std::stoul(t.substr(1), nullptr, 16));
            else
                v = std::stoll(t);
            stack.push_back({static_cast<uint32_t>(static_cast<int32_t>(v)), true});
        }
    }
    if (!stack.empty() || results.empty()) return std::nullopt;
    return results;
}

inline std::string Join(const std::vector<std::string> &tokens) {
    std::string text;
    for (const std::string &t : tokens) text += t + " ";
    return text;
}

// A random body over the parameters a, b, c that keeps up to maxDepth values live (registers
// run out at seven), ending with at most 8 results.
inline std::vector<std::string> RandomIntBody(std::mt19937 &rng, int length, int maxDepth) {
    static const char *const kUnary[] = {"neg", "abs", "sqrt", "sqr", "sin", "cos"};
    static const char *const kBinary[] = {"+", "-", "*"};
    static const char *const kParams[] = {"a", "b", "c"};
    static const int32_t kInteresting[] = {0,     1,     -1,     2,      3,        127,
                                           128,   -128,  -129,   32767,  32768,    40000,
                                           65535, 65536, -65536, 131072, 99999999, -9999999};
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    std::vector<std::string> body;
    int depth = 0;
    int rets = 0;
    for (int i = 0; i < length; ++i) {
        const int choice = pick(100);
        if (depth < 2 || (choice < 35 && depth < maxDepth)) {
            if (pick(3) == 0) {
                int32_t v = pick(2) ? kInteresting[pick(18)] : static_cast<int32_t>(rng());
                auto literal = IntLiteral(v);
                body.push_back(literal ? *literal : "7");
            } else {
                body.push_back(kParams[pick(3)]);
            }
            ++depth;
        } else if (choice < 60) {
            body.push_back(kBinary[pick(3)]);
            --depth;
        } else if (choice < 80) {
            body.push_back(kUnary[pick(6)]);
        } else if (choice < 88 && depth < maxDepth) {
            body.push_back("copy");
            ++depth;
        } else if (choice < 96) {
            body.push_back("swap");
        } else if (rets < 6) {
            body.push_back("ret");
            ++rets;
            --depth;
        }
    }
    while (depth > 1) {
        body.push_back(kBinary[pick(3)]);
        --depth;
    }
    if (depth == 0) body.push_back("a");
    body.push_back("ret");
    return body;
}

}  // namespace quob::test
