// quob-render's options: the picture's parameters (picture_texts.h) from its defaults, a PNG
// given by --from, entries of list files and the command line, and what they decide together.
#include "render_options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>

#include "exact_view.h"
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
    "      --no-approximation       draw a deep picture by iterating every sample, exactly;\n"
    "                               by default iterations are skipped by a linear\n"
    "                               approximation of the formula, within its tolerance\n"
    "      --supersample N          N x N samples per pixel, averaged, 1 to 8; above 1 with\n"
    "                               --mode plain only (1)\n"
    "  -h, --help                   show this help\n"
    "\n"
    "On a terminal a progress bar shows how far the picture is. The file is written under a\n"
    "temporary name beside FILE and renamed when complete; Ctrl+C removes it and exits with 130.\n";

namespace {

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

// True when the picture is rendered by perturbation: asked for, or where the doubles or
// extended precision cannot draw it.
bool IsDeep(const RenderOptions &o) {
    return o.deepForced || NeighboursCoincide(o) ||
           common::NeedsDeep({o.centerReText, o.centerImText, o.scaleText}, o.height);
}

// The options that an entry of a list file stands for (--fractal-from, --color-from,
// --position FILE:N|WORD); false with the reason when the entry cannot be chosen.
bool TakeListEntry(const std::string &option, const std::string &value,
                   std::vector<std::pair<std::string, std::string>> &given, std::string &error) {
    const std::size_t colon = value.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == value.size()) {
        error = "FILE:N or FILE:WORD";
        return false;
    }
    const std::string file = value.substr(0, colon), key = value.substr(colon + 1);
    std::vector<std::string> comments;
    if (option == "--position") {
        std::vector<common::PositionEntry> entries;
        if (!common::ReadPositionFile(file, entries, error)) return false;
        for (const common::PositionEntry &e : entries) comments.push_back(e.comment);
        const long i = common::FindEntry(comments, key, error);
        if (i < 0) return false;
        char re[64], im[64], scale[64];
        std::snprintf(re, sizeof re, "%.21Lg", entries[std::size_t(i)].re);
        std::snprintf(im, sizeof im, "%.21Lg", entries[std::size_t(i)].im);
        std::snprintf(scale, sizeof scale, "%.21Lg", entries[std::size_t(i)].scale);
        given.emplace_back("--center", std::string(re) + "," + im);
        given.emplace_back("--scale", scale);
        return true;
    }
    std::vector<common::FormulaEntry> entries;
    if (!common::ReadFormulaFile(file, entries, error)) return false;
    for (const common::FormulaEntry &e : entries) comments.push_back(e.comment);
    const long i = common::FindEntry(comments, key, error);
    if (i < 0) return false;
    given.emplace_back(option == "--fractal-from" ? "--fractal" : "--color",
                       entries[std::size_t(i)].expression);
    return true;
}

}  // namespace

ParsedOptions ParseRenderOptions(const std::vector<std::string> &args) {
    ParsedOptions result;
    RenderOptions &o = result.options;
    auto fail = [&](const std::string &message) {
        result.status = 2;
        result.message = message;
        return result;
    };
    QUOB_FillerParams defaults = ViewerDefaults();
    defaults.Width = 640;
    defaults.Height = 480;
    std::string error;
    common::TakePictureTexts(common::PictureTexts({defaults, common::RenderMode::kSmoothed, 1}, ""),
                             o, error);

    std::vector<std::pair<std::string, std::string>> given;  // option, value
    std::string from;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &option = args[i];
        if (option == "-h" || option == "--help") {
            result.help = true;
            return result;
        }
        if (option == "--deep" || option == "--no-approximation") {  // switches: no value
            given.emplace_back(option, option == "--deep" ? "yes" : "no");
            continue;
        }
        const bool parameter = common::IsPictureOption(option);
        const bool output = option == "-o" || option == "--output";
        const bool listEntry =
            option == "--fractal-from" || option == "--color-from" || option == "--position";
        if (!parameter && !output && !listEntry && option != "--from")
            return fail("unknown option " + option);
        if (i + 1 == args.size()) return fail("missing value for " + option);
        const std::string &value = args[++i];
        if (listEntry) {
            if (!TakeListEntry(option, value, given, error))
                return fail(option + " " + value + ": " + error);
        } else if (output)
            o.output = value;
        else if (!parameter)
            from = value;
        else
            given.emplace_back(option, value);
    }

    if (!from.empty()) {
        std::vector<common::TextChunk> chunks;
        if (!common::ReadPngTexts(from, chunks, error))
            return fail("cannot read " + from + ": " + error);
        const int taken = common::TakePictureTexts(chunks, o, error);
        if (taken < 0) return fail(from + ": " + error);
        if (taken == 0) return fail(from + " holds no parameters of quob-render");
        // A deep picture is drawn again as it was: one made before the approximation was made
        // without it. A picture that was not deep used none and asks for the default.
        const bool recorded =
            std::any_of(chunks.begin(), chunks.end(),
                        [](const common::TextChunk &c) { return c.first == "Approximation"; });
        if (!IsDeep(o))
            common::TakeOption(o, "--no-approximation", "yes");
        else if (!recorded)
            common::TakeOption(o, "--no-approximation", "no");
    }
    for (const auto &[option, value] : given) {
        const std::string refusal = common::TakeOption(o, option, value);
        if (!refusal.empty()) return fail(refusal);
    }

    if (o.output.empty()) return fail("no output file given (-o FILE)");
    o.png = EndsWithPng(o.output);
    if (o.supersample > 1 && o.mode != common::RenderMode::kPlain)
        return fail("--supersample above 1 needs --mode plain");
    if (!o.png && common::BmpFileSize(o.width, o.height) > common::kMaxBmpFileSize)
        return fail("a 24-bit bitmap of " + std::to_string(o.width) + " x " +
                    std::to_string(o.height) +
                    " pixels would exceed the 4 GiB that its header can describe; write PNG "
                    "instead (-o NAME.png)");
    const bool coincide = NeighboursCoincide(o);
    o.deep = IsDeep(o);
    if (o.deep && !o.deepForced)
        result.message = "at scale " + o.scaleText +
                         (coincide ? " the pixels beside the centre are the same point in extended "
                                     "precision"
                                   : " a double misses the centre's digits by more than a "
                                     "sixteenth of a pixel") +
                         ": rendering by perturbation (deep)";
    RecordApproximation(o, o.approximation);
    return result;
}

void RecordApproximation(RenderOptions &o, bool asked) {
    common::TakeOption(o, "--no-approximation", o.deep && asked ? "yes" : "no");
    o.texts = common::PictureTexts(o, "quob-render (Spiralis 3.0)");
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
