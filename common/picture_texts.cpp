// The parameters of a picture as texts: one table of parameters, each with its option, the
// keyword of its PNG text chunk, its text for a picture and the rule its text must follow.
#include "picture_texts.h"

#include <locale.h>
#include <mpfr.h>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string_view>

namespace quob::common {

namespace {

// What a rule says when a value breaks it; empty when the value is taken.
using Need = std::string;

// Texts are read in the C locale: a program may have set one whose decimal separator is not a
// point (the viewer's application object sets the user's), and strtod and MPFR follow it.
class TCNumbers {
  public:
    TCNumbers() : previous_(uselocale(C())) {}
    ~TCNumbers() { uselocale(previous_); }
    TCNumbers(const TCNumbers &) = delete;
    TCNumbers &operator=(const TCNumbers &) = delete;
    static locale_t C() {
        static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
        return c;
    }

  private:
    const locale_t previous_;
};

std::optional<double> Real(const std::string &text) {
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::optional<int32_t> Whole(const std::string &text, int32_t low, int32_t high, int base = 10) {
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, base);
    if (text.empty() || *end != '\0' || errno == ERANGE || v < low || v > high) return std::nullopt;
    return static_cast<int32_t>(v);
}

Need TakeSize(int32_t &into, const std::string &text) {
    const auto v = Whole(text, 1, INT32_MAX);
    if (!v) return "a whole number from 1 to 2147483647";
    into = *v;
    return {};
}

Need TakeFloat(float &into, const std::string &text) {
    const auto v = Real(text);
    if (!v || std::fabs(*v) > FLT_MAX) return "a finite number within the range of a 32-bit float";
    into = static_cast<float>(*v);
    return {};
}

Need TakeInt(int32_t &into, const std::string &text) {
    const auto v = Whole(text, INT32_MIN, INT32_MAX);
    if (!v) return "a whole number";
    into = *v;
    return {};
}

// A decimal text of any length and exponent, read at 64 bits.
class TDecimal {
  public:
    explicit TDecimal(const std::string &text) {
        mpfr_init2(v_, 64);
        valid_ = !text.empty() && mpfr_set_str(v_, text.c_str(), 10, MPFR_RNDN) == 0 &&
                 mpfr_number_p(v_);
    }
    ~TDecimal() { mpfr_clear(v_); }
    TDecimal(const TDecimal &) = delete;
    TDecimal &operator=(const TDecimal &) = delete;
    bool Valid() const { return valid_; }
    bool WithinDouble() const { return valid_ && mpfr_cmpabs(v_, Max().v_) <= 0; }
    int Sign() const { return mpfr_sgn(v_); }
    bool Below(const TDecimal &other) const { return mpfr_less_p(v_, other.v_); }

  private:
    static const TDecimal &Max() {
        static const TDecimal max("1.7976931348623157e308");
        return max;
    }
    mpfr_t v_;
    bool valid_ = false;
};

// A decimal number within the range of a double; one too small for it reads as 0 or a denormal,
// since deep pictures take the text itself.
std::optional<double> Decimal(const std::string &text) {
    if (!TDecimal(text).WithinDouble()) return std::nullopt;
    return std::strtod(text.c_str(), nullptr);
}

Need TakeCenter(PictureSettings &o, const std::string &text) {
    const std::size_t comma = text.find(',');
    const std::string re = text.substr(0, comma);
    const std::string im = comma == std::string::npos ? "" : text.substr(comma + 1);
    const auto reValue = Decimal(re), imValue = Decimal(im);
    if (!reValue || !imValue) return "RE,IM, two finite numbers";
    o.centerReText = re;
    o.centerImText = im;
    o.centerRe = *reValue;
    o.centerIm = *imValue;
    return {};
}

Need TakeScale(PictureSettings &o, const std::string &text) {
    const TDecimal scale(text);
    if (!scale.WithinDouble() || scale.Sign() <= 0) return "a finite number above 0";
    // The step between pixels stays a normal number of extended precision.
    if (scale.Below(TDecimal("1e-4800"))) return "a number from 1e-4800 on";
    const auto v = Decimal(text);
    o.scaleText = text;
    o.scale = *v;
    return {};
}

// By RenderMode.
constexpr const char *kModeNames[] = {"plain", "smoothed", "preview"};

Need TakeMode(PictureSettings &o, const std::string &text) {
    for (int mode = 0; mode < int(std::size(kModeNames)); ++mode) {
        if (text != kModeNames[mode]) continue;
        o.mode = static_cast<RenderMode>(mode);
        return {};
    }
    return "plain, smoothed or preview";
}

// Shortest decimal text that reads back as the same value.
template <class T>
std::string Shortest(T value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::string Formula(const char *text) { return text ? text : ""; }

struct Parameter {
    const char *option;
    const char *keyword;                         // of its PNG text chunk
    std::string (*text)(const PictureParams &);  // the parameter's text for a picture
    Need (*take)(PictureSettings &, const std::string &);
    bool scene;  // a part of every scene; the others are taken where they are given
};

const Parameter kParameters[] = {
    {"--width", "Width", [](const PictureParams &p) { return std::to_string(p.filler.Width); },
     [](PictureSettings &o, const std::string &t) { return TakeSize(o.width, t); }, false},
    {"--height", "Height", [](const PictureParams &p) { return std::to_string(p.filler.Height); },
     [](PictureSettings &o, const std::string &t) { return TakeSize(o.height, t); }, false},
    {"--center", "Center",
     [](const PictureParams &p) {
         if (!p.centerText.empty()) return p.centerText;
         return Shortest(+p.filler.CenterRe) + "," + Shortest(+p.filler.CenterIm);
     },
     TakeCenter, true},
    {"--scale", "Scale",
     [](const PictureParams &p) {
         return p.scaleText.empty() ? Shortest(+p.filler.Scale) : p.scaleText;
     },
     TakeScale, true},
    {"--fractal", "Fractal formula",
     [](const PictureParams &p) { return Formula(p.filler.FractalFormula); },
     [](PictureSettings &o, const std::string &t) {
         o.fractal = t;
         return Need();
     },
     true},
    {"--color", "Color formula",
     [](const PictureParams &p) { return Formula(p.filler.ColorFormula); },
     [](PictureSettings &o, const std::string &t) {
         o.color = t;
         return Need();
     },
     true},
    {"--max-module", "Max module",
     [](const PictureParams &p) { return Shortest(+p.filler.MaxModule); },
     [](PictureSettings &o, const std::string &t) { return TakeFloat(o.maxModule, t); }, true},
    {"--differential", "Differential",
     [](const PictureParams &p) { return Shortest(+p.filler.Differential); },
     [](PictureSettings &o, const std::string &t) { return TakeFloat(o.differential, t); }, true},
    // The filler runs at least one pass, as a limit of 1 does.
    {"--iterations", "Iterations limit",
     [](const PictureParams &p) { return std::to_string(std::max(+p.filler.IterationsLimit, 1)); },
     [](PictureSettings &o, const std::string &t) { return TakeSize(o.iterations, t); }, true},
    {"--block-length", "Block length",
     [](const PictureParams &p) { return std::to_string(p.filler.BlockLength); },
     [](PictureSettings &o, const std::string &t) {
         const auto v = Whole(t, 1, 1000);
         if (!v) return Need("a whole number from 1 to 1000");
         o.blockLength = *v;
         return Need();
     },
     true},
    {"--recursion-init", "Recursion init",
     [](const PictureParams &p) { return std::to_string(p.filler.RecursionInit); },
     [](PictureSettings &o, const std::string &t) { return TakeInt(o.recursionInit, t); }, true},
    {"--escape-color", "Escape color",
     [](const PictureParams &p) {
         char text[16];
         std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(p.filler.EscapeColor));
         return std::string(text);
     },
     [](PictureSettings &o, const std::string &t) {
         const auto v = Whole(t, 0, 0xFFFFFF, 16);
         if (!v) return Need("a colour RRGGBB of hexadecimal digits");
         o.escapeColor = *v;
         return Need();
     },
     true},
    {"--escape-takes-color", "Escape takes color",
     [](const PictureParams &p) { return std::to_string(p.filler.EscapeTakesColor); },
     [](PictureSettings &o, const std::string &t) { return TakeInt(o.escapeTakesColor, t); }, true},
    {"--mode", "Mode", [](const PictureParams &p) { return std::string(kModeNames[int(p.mode)]); },
     TakeMode, false},
    {"--deep", "Deep", [](const PictureParams &p) { return std::string(p.deep ? "yes" : "no"); },
     [](PictureSettings &o, const std::string &t) {
         if (t != "yes" && t != "no") return Need("yes or no");
         o.deepForced = t == "yes";
         return Need();
     },
     false},
    // A switch that turns the approximation off; the chunk says whether the picture used it.
    {"--no-approximation", "Approximation",
     [](const PictureParams &p) { return std::string(p.approximation ? "yes" : "no"); },
     [](PictureSettings &o, const std::string &t) {
         if (t != "yes" && t != "no") return Need("yes or no");
         o.approximation = t == "yes";
         return Need();
     },
     false},
    {"--supersample", "Supersample",
     [](const PictureParams &p) { return std::to_string(p.supersample); },
     [](PictureSettings &o, const std::string &t) {
         const auto v = Whole(t, 1, 8);
         if (!v) return Need("a whole number from 1 to 8");
         o.supersample = *v;
         return Need();
     },
     false},
};

constexpr std::size_t kParameterCount = std::size(kParameters);

const Parameter *Find(const std::string &option) {
    for (const Parameter &p : kParameters)
        if (option == p.option) return &p;
    return nullptr;
}

// Takes the text, keeping it as the parameter's chunk; the refusal when it breaks the rule.
std::string Take(PictureSettings &settings, const Parameter &parameter, const std::string &text) {
    const Need need = parameter.take(settings, text);
    if (!need.empty()) return "invalid value '" + text + "' for " + parameter.option + ": " + need;
    if (settings.chunks.size() != kParameterCount) {
        settings.chunks.clear();
        for (const Parameter &p : kParameters) settings.chunks.emplace_back(p.keyword, "");
    }
    settings.chunks[std::size_t(&parameter - kParameters)].second = text;
    return {};
}

}  // namespace

std::vector<TextChunk> PictureTexts(const PictureParams &picture, const std::string &software) {
    std::vector<TextChunk> chunks{{"Software", software}};
    for (const Parameter &p : kParameters) chunks.emplace_back(p.keyword, p.text(picture));
    return chunks;
}

std::vector<TextChunk> PictureTexts(const PictureSettings &settings, const std::string &software) {
    std::vector<TextChunk> chunks{{"Software", software}};
    chunks.insert(chunks.end(), settings.chunks.begin(), settings.chunks.end());
    return chunks;
}

std::vector<std::string> PictureArguments(const PictureParams &picture) {
    std::vector<std::string> arguments;
    for (const Parameter &parameter : kParameters) {
        const std::string text = parameter.text(picture);
        if (parameter.option == std::string_view("--deep")) {  // a switch: no value follows
            if (text == "yes") arguments.emplace_back(parameter.option);
            continue;
        }
        if (parameter.option == std::string_view("--no-approximation")) {  // a switch likewise
            if (text == "no") arguments.emplace_back(parameter.option);
            continue;
        }
        arguments.insert(arguments.end(), {parameter.option, text});
    }
    return arguments;
}

bool IsPictureOption(const std::string &option) { return Find(option) != nullptr; }

std::string TakeOption(PictureSettings &settings, const std::string &option,
                       const std::string &text) {
    const TCNumbers numbers;
    const Parameter *parameter = Find(option);
    if (!parameter) return "unknown option " + option;
    return Take(settings, *parameter, text);
}

int TakePictureTexts(const std::vector<TextChunk> &chunks, PictureSettings &settings,
                     std::string &error) {
    const TCNumbers numbers;
    int taken = 0;
    for (const auto &[keyword, text] : chunks) {
        for (const Parameter &p : kParameters) {
            if (keyword != p.keyword) continue;
            error = Take(settings, p, text);
            if (!error.empty()) return -1;
            ++taken;
        }
    }
    return taken;
}

bool TakeScene(const std::vector<TextChunk> &chunks, PictureSettings &scene, std::string &error) {
    std::vector<const char *> missing;
    for (const Parameter &p : kParameters) {
        if (!p.scene) continue;
        const auto given = std::find_if(chunks.begin(), chunks.end(),
                                        [&](const TextChunk &c) { return c.first == p.keyword; });
        if (given == chunks.end()) missing.push_back(p.keyword);
    }
    const auto parts = std::count_if(std::begin(kParameters), std::end(kParameters),
                                     [](const Parameter &p) { return p.scene; });
    if (missing.size() == std::size_t(parts)) {
        error = "it holds no scene (the texts that Save picture and quob-render keep in a PNG)";
        return false;
    }
    if (!missing.empty()) {
        error = "its scene lacks the text \"" + std::string(missing.front()) + "\"";
        return false;
    }
    PictureSettings taken;
    if (TakePictureTexts(chunks, taken, error) < 0) return false;
    scene = std::move(taken);
    return true;
}

long double ExtendedOf(const std::string &decimal, double value) {
    const long double extended = strtold_l(decimal.c_str(), nullptr, TCNumbers::C());
    return static_cast<double>(extended) == value ? extended : value;
}

bool ReadScene(const std::string &path, PictureSettings &scene, std::string &error) {
    std::vector<TextChunk> chunks;
    return ReadPngTexts(path, chunks, error) && TakeScene(chunks, scene, error);
}

}  // namespace quob::common
