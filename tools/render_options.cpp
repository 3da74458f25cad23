// quob-render's options: one table of parameters, each with its option, the keyword of its PNG
// text chunk, its default and the rule its value must follow.
#include "render_options.h"

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

#include "list_records.h"
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
    "      --fractal-from FILE:N|WORD  the fractal formula of an entry of a formula list\n"
    "                               (fractals.dat): entry N counted from 1 at the top, or\n"
    "                               the one entry whose comment holds WORD (any case), or\n"
    "                               among several the one whose name (first sentence) is WORD\n"
    "      --color-from FILE:N|WORD the colour formula of an entry of cadjusts.dat, likewise\n"
    "      --position FILE:N|WORD   centre and scale of a saved position (hotspots.dat)\n"
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

// By RenderMode.
constexpr const char *kModeNames[] = {"plain", "smoothed", "preview"};

Need TakeMode(RenderOptions &o, const std::string &text) {
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
    Need (*take)(RenderOptions &, const std::string &);
};

const Parameter kParameters[] = {
    {"--width", "Width", [](const PictureParams &p) { return std::to_string(p.filler.Width); },
     [](RenderOptions &o, const std::string &t) { return TakeSize(o.width, t); }},
    {"--height", "Height", [](const PictureParams &p) { return std::to_string(p.filler.Height); },
     [](RenderOptions &o, const std::string &t) { return TakeSize(o.height, t); }},
    {"--center", "Center",
     [](const PictureParams &p) {
         return Shortest(+p.filler.CenterRe) + "," + Shortest(+p.filler.CenterIm);
     },
     TakeCenter},
    {"--scale", "Scale", [](const PictureParams &p) { return Shortest(+p.filler.Scale); },
     TakeScale},
    {"--fractal", "Fractal formula",
     [](const PictureParams &p) { return Formula(p.filler.FractalFormula); },
     [](RenderOptions &o, const std::string &t) {
         o.fractal = t;
         return Need();
     }},
    {"--color", "Color formula",
     [](const PictureParams &p) { return Formula(p.filler.ColorFormula); },
     [](RenderOptions &o, const std::string &t) {
         o.color = t;
         return Need();
     }},
    {"--max-module", "Max module",
     [](const PictureParams &p) { return Shortest(+p.filler.MaxModule); },
     [](RenderOptions &o, const std::string &t) { return TakeFloat(o.maxModule, t); }},
    {"--differential", "Differential",
     [](const PictureParams &p) { return Shortest(+p.filler.Differential); },
     [](RenderOptions &o, const std::string &t) { return TakeFloat(o.differential, t); }},
    // The filler runs at least one pass, as a limit of 1 does.
    {"--iterations", "Iterations limit",
     [](const PictureParams &p) { return std::to_string(std::max(+p.filler.IterationsLimit, 1)); },
     [](RenderOptions &o, const std::string &t) { return TakeSize(o.iterations, t); }},
    {"--block-length", "Block length",
     [](const PictureParams &p) { return std::to_string(p.filler.BlockLength); },
     [](RenderOptions &o, const std::string &t) {
         const auto v = Whole(t, 1, 1000);
         if (!v) return Need("a whole number from 1 to 1000");
         o.blockLength = *v;
         return Need();
     }},
    {"--recursion-init", "Recursion init",
     [](const PictureParams &p) { return std::to_string(p.filler.RecursionInit); },
     [](RenderOptions &o, const std::string &t) { return TakeInt(o.recursionInit, t); }},
    {"--escape-color", "Escape color",
     [](const PictureParams &p) {
         char text[16];
         std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(p.filler.EscapeColor));
         return std::string(text);
     },
     [](RenderOptions &o, const std::string &t) {
         const auto v = Whole(t, 0, 0xFFFFFF, 16);
         if (!v) return Need("a colour RRGGBB of hexadecimal digits");
         o.escapeColor = *v;
         return Need();
     }},
    {"--escape-takes-color", "Escape takes color",
     [](const PictureParams &p) { return std::to_string(p.filler.EscapeTakesColor); },
     [](RenderOptions &o, const std::string &t) { return TakeInt(o.escapeTakesColor, t); }},
    {"--mode", "Mode", [](const PictureParams &p) { return std::string(kModeNames[int(p.mode)]); },
     TakeMode},
    {"--deep", "Deep", [](const PictureParams &) { return std::string("no"); },
     [](RenderOptions &o, const std::string &t) {
         if (t != "yes" && t != "no") return Need("yes or no");
         o.deepForced = t == "yes";
         return Need();
     }},
    {"--supersample", "Supersample",
     [](const PictureParams &p) { return std::to_string(p.supersample); },
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

// The options that an entry of a list file stands for (--fractal-from, --color-from,
// --position FILE:N|WORD); false with the reason when the entry cannot be chosen.
bool TakeListEntry(const std::string &option, const std::string &value,
                   std::vector<std::pair<const Parameter *, std::string>> &given,
                   std::string &error) {
    const std::size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == value.size()) {
        error = "FILE:N or FILE:WORD";
        return false;
    }
    const std::string file = value.substr(0, colon), key = value.substr(colon + 1);
    std::vector<std::string> comments;
    if (option == "--position") {
        std::vector<PositionEntry> entries;
        if (!ReadPositionFile(file, entries, error)) return false;
        for (const PositionEntry &e : entries) comments.push_back(e.comment);
        const long i = FindEntry(comments, key, error);
        if (i < 0) return false;
        char re[64], im[64], scale[64];
        std::snprintf(re, sizeof re, "%.21Lg", entries[std::size_t(i)].re);
        std::snprintf(im, sizeof im, "%.21Lg", entries[std::size_t(i)].im);
        std::snprintf(scale, sizeof scale, "%.21Lg", entries[std::size_t(i)].scale);
        given.emplace_back(Find("--center"), std::string(re) + "," + im);
        given.emplace_back(Find("--scale"), scale);
        return true;
    }
    std::vector<FormulaEntry> entries;
    if (!ReadFormulaFile(file, entries, error)) return false;
    for (const FormulaEntry &e : entries) comments.push_back(e.comment);
    const long i = FindEntry(comments, key, error);
    if (i < 0) return false;
    given.emplace_back(Find(option == "--fractal-from" ? "--fractal" : "--color"),
                       entries[std::size_t(i)].expression);
    return true;
}

// "Software", then every parameter's keyword with its text, in the table's order.
std::vector<TextChunk> Chunks(const std::string &software, const std::string *texts) {
    std::vector<TextChunk> chunks{{"Software", software}};
    for (std::size_t k = 0; k < kParameterCount; ++k)
        chunks.emplace_back(kParameters[k].keyword, texts[k]);
    return chunks;
}

}  // namespace

std::vector<TextChunk> PictureTexts(const PictureParams &picture, const std::string &software) {
    std::string texts[kParameterCount];
    for (std::size_t k = 0; k < kParameterCount; ++k) texts[k] = kParameters[k].text(picture);
    return Chunks(software, texts);
}

std::vector<std::string> PictureArguments(const PictureParams &picture) {
    std::vector<std::string> arguments;
    for (const Parameter &parameter : kParameters) {
        const std::string text = parameter.text(picture);
        if (parameter.option == std::string_view("--deep")) {  // a switch: no value follows
            if (text == "yes") arguments.emplace_back(parameter.option);
            continue;
        }
        arguments.insert(arguments.end(), {parameter.option, text});
    }
    return arguments;
}

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
    QUOB_FillerParams defaults = ViewerDefaults();
    defaults.Width = 640;
    defaults.Height = 480;
    for (const Parameter &p : kParameters)
        take(p, p.text({defaults, RenderMode::kSmoothed, 1}), "");

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
        const bool listEntry =
            option == "--fractal-from" || option == "--color-from" || option == "--position";
        if (!parameter && !output && !listEntry && option != "--from")
            return fail("unknown option " + option);
        if (i + 1 == args.size()) return fail("missing value for " + option);
        const std::string &value = args[++i];
        std::string error;
        if (listEntry) {
            if (!TakeListEntry(option, value, given, error))
                return fail(option + " " + value + ": " + error);
        } else if (output)
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
    o.texts = Chunks("quob-render (Spiralis 3.0)", texts);
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
