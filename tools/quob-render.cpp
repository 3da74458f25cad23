// quob-render: renders one picture through libquob32's exports and writes it as a 24-bit
// Windows bitmap or a PNG file.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "picture_files.h"
#include "viewer_defaults.h"
#include "quob32.h"

namespace {

// Pixels written by the filler have a zero top byte; this marks the ones not written yet.
constexpr uint32_t kUnwritten = 0xFF000000;

void Usage(FILE *out) {
    std::fputs(
        "Usage: quob-render -o FILE [options]\n"
        "Renders a fractal picture with libquob32 and writes it as a 24-bit Windows bitmap,\n"
        "or as PNG when FILE ends in .png.\n"
        "\n"
        "  -o, --output FILE            picture file to write (required)\n"
        "      --width N                picture width in pixels (640)\n"
        "      --height N               picture height in pixels (480)\n"
        "      --center RE,IM           complex point at the picture centre (-0.5,0)\n"
        "      --scale S                picture height in complex-plane units (2)\n"
        "      --fractal TEXT           fractal formula, parameters \"=\" body\n"
        "                               (default: the classic Mandelbrot set)\n"
        "      --color TEXT             colour formula (default: the viewer's)\n"
        "      --max-module F           escape threshold for abs(re) + abs(im) (2)\n"
        "      --differential F         convergence threshold (0.001)\n"
        "      --iterations N           passes per sample, IterationsLimit (20)\n"
        "      --block-length N         iterations per pass, 1 to 1000 (20)\n"
        "      --recursion-init N       0: start at the point, else at zero (0)\n"
        "      --escape-color RRGGBB    colour of faulting samples, hexadecimal (FFFFFF)\n"
        "      --escape-takes-color N   non-zero: escaping samples take the escape colour (0)\n"
        "      --mode MODE              plain, smoothed or preview (smoothed)\n"
        "  -h, --help                   show this help\n",
        out);
}

[[noreturn]] void Fail(const std::string &message, int status = 1) {
    std::fprintf(stderr, "quob-render: %s\n", message.c_str());
    std::exit(status);
}

[[noreturn]] void BadArgument(const std::string &option, const char *value) {
    Fail("invalid value '" + std::string(value) + "' for " + option +
             " (see quob-render --help)",
         2);
}

double ParseReal(const std::string &option, const char *text) {
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE) BadArgument(option, text);
    return v;
}

int32_t ParseInt(const std::string &option, const char *text, int base = 10) {
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, base);
    if (end == text || *end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
        BadArgument(option, text);
    return static_cast<int32_t>(v);
}

struct Options {
    std::string output;
    int32_t width = 640;
    int32_t height = 480;
    std::string mode = "smoothed";
    QUOB_FillerParams params{};
};

Options Parse(int argc, char **argv) {
    Options o;
    QUOB_FillerParams &p = o.params;
    p = ViewerDefaults();
    p.Description = "quob-render";
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "-h" || option == "--help") {
            Usage(stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) Fail("missing value for " + option + " (see quob-render --help)", 2);
        const char *value = argv[++i];
        if (option == "-o" || option == "--output") {
            o.output = value;
        } else if (option == "--width") {
            o.width = ParseInt(option, value);
        } else if (option == "--height") {
            o.height = ParseInt(option, value);
        } else if (option == "--center") {
            const char *comma = std::strchr(value, ',');
            if (!comma) BadArgument(option, value);
            p.CenterRe = ParseReal(option, std::string(value, comma).c_str());
            p.CenterIm = ParseReal(option, comma + 1);
        } else if (option == "--scale") {
            p.Scale = ParseReal(option, value);
        } else if (option == "--fractal") {
            p.FractalFormula = value;
        } else if (option == "--color") {
            p.ColorFormula = value;
        } else if (option == "--max-module") {
            p.MaxModule = static_cast<float>(ParseReal(option, value));
        } else if (option == "--differential") {
            p.Differential = static_cast<float>(ParseReal(option, value));
        } else if (option == "--iterations") {
            p.IterationsLimit = ParseInt(option, value);
        } else if (option == "--block-length") {
            p.BlockLength = ParseInt(option, value);
        } else if (option == "--recursion-init") {
            p.RecursionInit = ParseInt(option, value);
        } else if (option == "--escape-color") {
            p.EscapeColor = ParseInt(option, value, 16) & 0x00FFFFFF;
        } else if (option == "--escape-takes-color") {
            p.EscapeTakesColor = ParseInt(option, value);
        } else if (option == "--mode") {
            o.mode = value;
            if (o.mode != "plain" && o.mode != "smoothed" && o.mode != "preview")
                BadArgument(option, value);
        } else {
            Fail("unknown option " + option + " (see quob-render --help)", 2);
        }
    }
    if (o.output.empty()) Fail("no output file given (-o FILE; see quob-render --help)", 2);
    if (o.width < 1 || o.height < 1) Fail("the picture needs a width and height of at least 1", 2);
    if (p.Scale <= 0) Fail("the scale must be positive", 2);
    return o;
}

// Creates the filler, naming the formula that does not compile. A formula that compiles but
// lacks the parameters or results the filler needs leaves the last error at 0.
int32_t CreateFiller(const QUOB_FillerParams &params) {
    const char *needs[2] = {"needs parameters named x and y and at least two parameters",
                            "needs parameters named x and y and at least three results"};
    QUOB_FillerParams p = params;
    for (int stage = 0; stage < 2; ++stage) {
        if (stage == 0) p.ColorFormula = kDefaultColor;
        else p.ColorFormula = params.ColorFormula;
        QUOB_SetLastError(QUOB_OK);
        const int32_t filler = QUOB_CreateFiller(&p);
        if (filler == 0) {
            const std::string which = stage == 0 ? "fractal formula: " : "colour formula: ";
            Fail(which + (QUOB_GetLastError() != QUOB_OK ? QUOB_GetLastErrorEx() : needs[stage]));
        }
        if (stage == 1) return filler;
        QUOB_DeleteFiller(filler);
    }
    return 0;
}

// Rows that are complete: a fill writes rows top to bottom and column 0 last in each row.
int32_t RowsDone(const uint32_t *bits, int32_t width, int32_t height) {
    int32_t low = 0, high = height;  // rows [0, low) done, [high, height) not
    while (low < high) {
        const int32_t mid = (low + high) / 2;
        auto *pixel = const_cast<uint32_t *>(bits + static_cast<std::size_t>(height - 1 - mid) * width);
        if (std::atomic_ref<uint32_t>(*pixel).load(std::memory_order_relaxed) != kUnwritten)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

bool EndsWith(std::string text, const std::string &suffix) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

// The library's message boxes: its load banner is not wanted on a terminal.
extern "C" __attribute__((visibility("default"))) int QUOB_HostMessageBox(const char *text,
                                                                          const char *caption,
                                                                          unsigned style) {
    if (style != 64) std::fprintf(stderr, "quob-render: %s: %s\n", caption ? caption : "Error", text);
    return 1;
}

int main(int argc, char **argv) {
    const Options o = Parse(argc, argv);
    const bool png = EndsWith(o.output, ".png");
    if (png && !quob::tools::PngAvailable()) Fail("this build writes no PNG (no zlib); use .bmp");

    const int32_t filler = CreateFiller(o.params);
    const int32_t buffer = QUOB_CreateIBufferEx(o.width, o.height, filler);
    QUOB_IBufferInfo info{};
    if (buffer == 0 || !QUOB_GetIBuffer(buffer, &info))
        Fail("cannot make a picture of " + std::to_string(o.width) + " x " + std::to_string(o.height));
    auto *bits = static_cast<uint32_t *>(info.Bits);
    const std::size_t pixels = static_cast<std::size_t>(o.width) * o.height;

    const auto start = std::chrono::steady_clock::now();
    if (o.mode == "preview") {
        QUOB_IBufferMessage(buffer, QUOB_MSG_PREVIEW);
    } else {
        std::fill(bits, bits + pixels, kUnwritten);
        const int32_t fill = o.mode == "plain" ? QUOB_MSG_FILL : QUOB_MSG_FILL_SMOOTH;
        QUOB_IBufferMessage(buffer, fill | QUOB_MSG_THREAD);
        const bool terminal = isatty(STDERR_FILENO);
        bool shown = false;
        while (!QUOB_IBufferFilled(buffer)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
            if (terminal && elapsed.count() > 1.0) {
                const int32_t rows = RowsDone(bits, o.width, o.height);
                std::fprintf(stderr, "\rquob-render: %3d%%  row %d of %d  %.1f s", rows * 100 / o.height,
                             rows, o.height, elapsed.count());
                shown = true;
            }
        }
        if (shown) std::fprintf(stderr, "\r\033[K");
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

    const quob::tools::BottomUpPicture picture{bits, o.width, o.height};
    const auto bytes = png ? quob::tools::EncodePng(picture) : quob::tools::EncodeBmp(picture);
    if (bytes.empty() || !quob::tools::WriteFile(o.output, bytes))
        Fail("cannot write " + o.output + ": " + std::strerror(errno));
    std::printf("%s: %d x %d, %s, %.3f s\n", o.output.c_str(), o.width, o.height, o.mode.c_str(),
                elapsed.count());
    QUOB_DeleteIBuffer(buffer);
    QUOB_DeleteFiller(filler);
    return 0;
}
