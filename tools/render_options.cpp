// quob-render's options: one table of parameters, each with its option, the keyword of its PNG
// text chunk, its default and the rule its value must follow.
#include "render_options.h"

#include <mpfr.h>

#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>

#include "viewer_defaults.h"

namespace quob::tools {

const char *const kRenderUsage =
    "Usage: quob-render -o FILE [options]\n"
    "Renders a fractal picture with libquob32 and writes it, band by band as it is computed, as\n"
    "a 24-bit Windows bitmap, or as PNG when FILE ends in .png. A PNG keeps every parameter in\n"
    "text chunks, so that --from can render it again.\n"
    "\n"
    "  -o, --output FILE            picture file to write (required)\n"
    "      --from PICTURE.png       start from the parameters kept in a PNG that quob-render\n"
    "                               wrote; the other options given override them\n"
    "      --width N                picture width in pixels, 1 to 2147483647 (640)\n"
    "      --height N               picture height in pixels, 1 to 2147483647 (480)\n"
    "      --center RE,IM           complex point at the picture centre (-0.5,0)\n"
    "      --scale S                picture height in complex-plane units, above 0, down to\n"
    "                               1e-4800 (2); centre and scale keep every digit\n"
    "      --fractal TEXT           fractal formula, parameters \"=\" body\n"
    "                               (default: the classic Mandelbrot set)\n"
    "      --color TEXT             colour formula (default: the viewer's)\n"
    "      --max-module F           escape threshold for abs(re) + abs(im) (2)\n"
    "      --differential F         convergence threshold (0.001)\n"
    "      --iterations N           passes per sample, IterationsLimit, at least 1 (20)\n"
    "      --block-length N         iterations per pass, 1 to 1000 (20)\n"
    "      --recursion-init N       0: start at the point, else at zero (0)\n"
    "      --escape-color RRGGBB    colour of faulting samples, hexadecimal (FFFFFF)\n"
    "      --escape-takes-color N   non-zero: escaping samples take the escape colour (0)\n"
    "      --mode MODE              plain, smoothed or preview (smoothed)\n"
    "      --deep                   render by perturbation around reference orbits computed\n"
    "                               in arbitrary precision; by itself where the scale is too\n"
    "                               small for extended precision at the centre\n"
    "      --supersample N          N x N samples per pixel, averaged, 1 to 8; above 1 with\n"
    "                               --mode plain only (1)\n"
    "  -h, --help                   show this help\n"
    "\n"
    "On a terminal a progress bar shows how far the picture is. The file is written under a\n"
    "temporary name beside FILE and renamed when complete; Ctrl+C removes it and exits with 130.\n";

namespace {

// What a rule says when a value breaks it; empty when the value is taken.
using Need = std::string;

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

Need TakeCenter(RenderOptions &o, const std::string &text) {
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

Need TakeScale(RenderOptions &o, const std::string &text) {
    const TDecimal scale(text);
    if (!scale.WithinDouble() || scale.Sign() <= 0) return "a finite number above 0";
    // The step between pixels stays a normal number of extended precision.
    if (scale.Below(TDecimal("1e-4800"))) return "a number from 1e-4800 on";
    const auto v = Decimal(text);
    o.scaleText = text;
    o.scale = *v;
    return {};
}

Need TakeMode(RenderOptions &o, const std::string &text) {
    if (text == "plain")
        o.mode = RenderMode::kPlain;
    else if (text == "smoothed")
        o.mode = RenderMode::kSmoothed;
    else if (text == "preview")
        o.mode = RenderMode::kPreview;
    else
        return "plain, smoothed or preview";
    return {};
}

// Shortest decimal text that reads back as the same value.
template <class T>
std::string Shortest(T value) {
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

struct Parameter {
    const char *option;
    const char *keyword;  // of its PNG text chunk
    std::string (*defaultText)();
    Need (*take)(RenderOptions &, const std::string &);
};

const Parameter kParameters[] = {
    {"--width", "Width", [] { return std::string("640"); },
     [](RenderOptions &o, const std::string &t) { return TakeSize(o.width, t); }},
    {"--height", "Height", [] { return std::string("480"); },
     [](RenderOptions &o, const std::string &t) { return TakeSize(o.height, t); }},
    {"--center", "Center",
     [] { return Shortest(ViewerDefaults().CenterRe) + "," + Shortest(ViewerDefaults().CenterIm); },
     TakeCenter},
    {"--scale", "Scale", [] { return Shortest(ViewerDefaults().Scale); }, TakeScale},
    {"--fractal", "Fractal formula", [] { return std::string(kDefaultFractal); },
     [](RenderOptions &o, const std::string &t) {
         o.fractal = t;
         return Need();
     }},
    {"--color", "Color formula", [] { return std::string(kDefaultColor); },
     [](RenderOptions &o, const std::string &t) {
         o.color = t;
         return Need();
     }},
    {"--max-module", "Max module", [] { return Shortest(ViewerDefaults().MaxModule); },
     [](RenderOptions &o, const std::string &t) { return TakeFloat(o.maxModule, t); }},
    {"--differential", "Differential", [] { return Shortest(ViewerDefaults().Differential); },
     [](RenderOptions &o, const std::string &t) { return TakeFloat(o.differential, t); }},
    {"--iterations", "Iterations limit",
     [] { return std::to_string(ViewerDefaults().IterationsLimit); },
     [](RenderOptions &o, const std::string &t) { return TakeSize(o.iterations, t); }},
    {"--block-length", "Block length", [] { return std::to_string(ViewerDefaults().BlockLength); },
     [](RenderOptions &o, const std::string &t) {
         const auto v = Whole(t, 1, 1000);
         if (!v) return Need("a whole number from 1 to 1000");
         o.blockLength = *v;
         return Need();
     }},
    {"--recursion-init", "Recursion init",
     [] { return std::to_string(ViewerDefaults().RecursionInit); },
     [](RenderOptions &o, const std::string &t) { return TakeInt(o.recursionInit, t); }},
    {"--escape-color", "Escape color",
     [] {
         char text[16];
         std::snprintf(text, sizeof text, "%06X", ViewerDefaults().EscapeColor);
         return std::string(text);
     },
     [](RenderOptions &o, const std::string &t) {
         const auto v = Whole(t, 0, 0xFFFFFF, 16);
         if (!v) return Need("a colour RRGGBB of hexadecimal digits");
         o.escapeColor = *v;
         return Need();
     }},
    {"--escape-takes-color", "Escape takes color",
     [] { return std::to_string(ViewerDefaults().EscapeTakesColor); },
     [](RenderOptions &o, const std::string &t) { return TakeInt(o.escapeTakesColor, t); }},
    {"--mode", "Mode", [] { return std::string("smoothed"); }, TakeMode},
    {"--deep", "Deep", [] { return std::string("no"); },
     [](RenderOptions &o, const std::string &t) {
         if (t != "yes" && t != "no") return Need("yes or no");
         o.deepForced = t == "yes";
         return Need();
     }},
    {"--supersample", "Supersample", [] { return std::string("1"); },
     [](RenderOptions &o, const std::string &t) {
         const auto v = Whole(t, 1, 8);
         if (!v) return Need("a whole number from 1 to 8");
         o.supersample = *v;
         return Need();
     }},
};

constexpr std::size_t kParameterCount = std::size(kParameters);

const Parameter *Find(const std::string &option) {
    for (const Parameter &p : kParameters)
        if (option == p.option) return &p;
    return nullptr;
}

bool EndsWithPng(const std::string &name) {
    if (name.size() < 4) return false;
    std::string end = name.substr(name.size() - 4);
    for (char &c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return end == ".png";
}

// True when a pixel beside the centre is the centre itself in extended precision, computed as
// the pixel routine computes it (Step divided in extended precision and kept as a double).
bool NeighboursCoincide(const RenderOptions &o) {
    const long double step = static_cast<double>(static_cast<long double>(o.scale) / o.height);
    const long double re = o.centerRe, im = o.centerIm;
    return re + step == re || re - step == re || im + step == im || im - step == im;
}

}  // namespace

ParsedOptions ParseRenderOptions(const std::vector<std::string> &args) {
    ParsedOptions result;
    RenderOptions &o = result.options;
    std::string texts[kParameterCount];
    auto fail = [&](const std::string &message) {
        result.status = 2;
        result.message = message;
        return result;
    };
    auto take = [&](const Parameter &p, const std::string &text, const std::string &where) {
        const Need need = p.take(o, text);
        if (!need.empty())
            fail(where + "invalid value '" + text + "' for " + p.option + ": " + need);
        else
            texts[&p - kParameters] = text;
        return need.empty();
    };
    for (const Parameter &p : kParameters) take(p, p.defaultText(), "");

    std::vector<std::pair<const Parameter *, std::string>> given;
    std::string from;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &option = args[i];
        if (option == "-h" || option == "--help") {
            result.help = true;
            return result;
        }
        const Parameter *parameter = Find(option);
        if (option == "--deep") {  // a switch: no value follows
            given.emplace_back(parameter, "yes");
            continue;
        }
        const bool output = option == "-o" || option == "--output";
        if (!parameter && !output && option != "--from") return fail("unknown option " + option);
        if (i + 1 == args.size()) return fail("missing value for " + option);
        const std::string &value = args[++i];
        if (output)
            o.output = value;
        else if (!parameter)
            from = value;
        else
            given.emplace_back(parameter, value);
    }

    if (!from.empty()) {
        std::vector<TextChunk> chunks;
        std::string error;
        if (!ReadPngTexts(from, chunks, error)) return fail("cannot read " + from + ": " + error);
        bool any = false;
        for (const auto &[keyword, text] : chunks) {
            for (const Parameter &p : kParameters) {
                if (keyword != p.keyword) continue;
                if (!take(p, text, from + ": ")) return result;
                any = true;
            }
        }
        if (!any) return fail(from + " holds no parameters of quob-render");
    }
    for (const auto &[parameter, value] : given)
        if (!take(*parameter, value, "")) return result;

    if (o.output.empty()) return fail("no output file given (-o FILE)");
    o.png = EndsWithPng(o.output);
    if (o.supersample > 1 && o.mode != RenderMode::kPlain)
        return fail("--supersample above 1 needs --mode plain");
    if (!o.png && BmpFileSize(o.width, o.height) > kMaxBmpFileSize)
        return fail("a 24-bit bitmap of " + std::to_string(o.width) + " x " +
                    std::to_string(o.height) +
                    " pixels would exceed the 4 GiB that its header can describe; write PNG "
                    "instead (-o NAME.png)");
    o.deep = o.deepForced || NeighboursCoincide(o);
    if (o.deep && !o.deepForced)
        result.message = "at scale " + o.scaleText +
                         " the pixels beside the centre are the same point in extended "
                         "precision: rendering by perturbation (deep)";
    o.texts.emplace_back("Software", "quob-render (Spiralis 3.0)");
    for (std::size_t k = 0; k < kParameterCount; ++k)
        o.texts.emplace_back(kParameters[k].keyword, texts[k]);
    return result;
}

QUOB_FillerParams FillerParamsOf(const RenderOptions &o) {
    QUOB_FillerParams p = ViewerDefaults();
    p.Description = "quob-render";
    p.Width = o.width;
    p.Height = o.height;
    p.FractalFormula = o.fractal.c_str();
    p.ColorFormula = o.color.c_str();
    p.CenterRe = o.centerRe;
    p.CenterIm = o.centerIm;
    p.Scale = o.scale;
    p.MaxModule = o.maxModule;
    p.Differential = o.differential;
    p.IterationsLimit = o.iterations;
    p.BlockLength = o.blockLength;
    p.RecursionInit = o.recursionInit;
    p.EscapeColor = o.escapeColor;
    p.EscapeTakesColor = o.escapeTakesColor;
    return p;
}

}  // namespace quob::tools
