// The colour formula's orbit inputs as the viewer and quob-render read formula texts: which of
// them a colour formula names, and why the filler cannot give it the derivative of a fractal
// formula, in the library's words. A text is a formula without its name ("tx ty x y = ..."); the
// answers hold for a text that compiles. A header alone, which the library's tests also read: they
// hold these answers to what the filler does.
#pragma once
#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quob::common {

// The words of a formula text as the language scans them: blanks separate words, each of the
// characters "+-=/*" is a word of its own but for a "-" before a digit, which starts or continues
// a word, and a word keeps its first 8 characters.
inline std::vector<std::string> FormulaWords(std::string_view text) {
    constexpr std::string_view kSeparators = " +-=/*";
    constexpr std::size_t kWordLength = 8;
    auto digitAt = [&](std::size_t i) {
        return i < text.size() && text[i] >= '0' && text[i] <= '9';
    };
    auto separatorAt = [&](std::size_t i) {
        return kSeparators.find(text[i]) != std::string_view::npos &&
               !(text[i] == '-' && digitAt(i + 1));
    };
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') ++i;
        if (i == text.size()) break;
        std::size_t end = i + 1;
        if (!separatorAt(i))
            while (end < text.size() && !separatorAt(end)) ++end;
        words.emplace_back(text.substr(i, std::min(end - i, kWordLength)));
        i = end;
    }
    return words;
}

// The orbit inputs that a colour formula names among its parameters: "iter", the iterations the
// sample ran, and any of "jxx", "jxy", "jyx", "jyy", the derivative of its final iterate by its
// point.
struct OrbitInputs {
    bool iterations = false;
    bool derivative = false;
};

inline OrbitInputs DeclaredOrbitInputs(std::string_view colorFormula) {
    OrbitInputs inputs;
    for (const std::string &word : FormulaWords(colorFormula)) {
        if (word == "=") break;
        if (word == "iter") inputs.iterations = true;
        if (word == "jxx" || word == "jxy" || word == "jyx" || word == "jyy")
            inputs.derivative = true;
    }
    return inputs;
}

// The keywords whose instructions leave an operand beyond 2^63 as it is, so that the derivative
// has no rule for them.
inline constexpr std::array<std::string_view, 2> kKeywordsWithoutDerivativeRule = {"tan", "sincos"};

// Why the tangent iteration of a fractal formula refuses such a keyword.
inline std::string NoDerivativeRuleRefusal(std::string_view keyword) {
    return "its \"" + std::string(keyword) + "\" leaves an operand beyond 2^63 as it is";
}

// The first word of a fractal formula's body that is a keyword without a derivative rule; empty
// for none.
inline std::string KeywordWithoutDerivativeRule(std::string_view fractalFormula) {
    const std::vector<std::string> words = FormulaWords(fractalFormula);
    auto word = std::find(words.begin(), words.end(), "=");
    for (; word != words.end(); ++word)
        if (std::find(kKeywordsWithoutDerivativeRule.begin(), kKeywordsWithoutDerivativeRule.end(),
                      *word) != kKeywordsWithoutDerivativeRule.end())
            return *word;
    return {};
}

// Why a colour formula's derivative inputs read 0 with this fractal formula; empty when the filler
// follows its derivative. The filler feeds back results 0..K-1 into parameters 0..K-1 (K the
// smaller of their counts): one fed back into a parameter other than the iterate (parameters 0 and
// 1), "x" and "y" carries a value from one sample to the next. A tangent iteration too long for
// its code, which the text does not tell, is not foreseen.
inline std::string DerivativeUnavailableReason(std::string_view fractalFormula) {
    const std::vector<std::string> words = FormulaWords(fractalFormula);
    const auto equals = std::find(words.begin(), words.end(), "=");
    const std::vector<std::string> params(words.begin(), equals);
    const auto results = static_cast<std::size_t>(std::count(equals, words.end(), "ret"));
    for (std::size_t k = 2; k < std::min(params.size(), results); ++k)
        if (params[k] != "x" && params[k] != "y")
            return "the fractal formula carries a value from one sample to the next";
    const std::string keyword = KeywordWithoutDerivativeRule(fractalFormula);
    if (!keyword.empty())
        return "the fractal formula's derivative is not followed: " +
               NoDerivativeRuleRefusal(keyword);
    return {};
}

}  // namespace quob::common
