// quob-render's options, read from its command line and from the text chunks of a picture it
// made (--from), without rendering anything or leaving the process.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "picture_files.h"
#include "quob32.h"

namespace quob::tools {

enum class RenderMode { kPlain, kSmoothed, kPreview };

// How a picture was drawn: the filler's record (its size, view, formulas and precision fields),
// the fill's mode and the samples per pixel across.
struct PictureParams {
    QUOB_FillerParams filler;
    RenderMode mode;
    int32_t supersample;
};

// The text chunks that record a picture in its PNG file, "Software" first: the parameters that
// --from reads back to draw the same picture. The view is written as the shortest decimal texts
// that read back as the record's values.
std::vector<TextChunk> PictureTexts(const PictureParams &picture, const std::string &software);
// The same parameters as quob-render's options, each followed by its text (no output file).
std::vector<std::string> PictureArguments(const PictureParams &picture);

struct RenderOptions {
    std::string output;
    bool png = false;  // the output's name ends in ".png"; otherwise a 24-bit bitmap
    int32_t width = 0;
    int32_t height = 0;
    RenderMode mode = RenderMode::kSmoothed;
    int32_t supersample = 1;
    std::string fractal;
    std::string color;
    // The view as the user wrote it, every digit kept, beside the values the filler takes.
    std::string centerReText;
    std::string centerImText;
    std::string scaleText;
    double centerRe = 0;
    double centerIm = 0;
    double scale = 0;
    float maxModule = 0;
    float differential = 0;
    int32_t iterations = 0;
    int32_t blockLength = 0;
    int32_t recursionInit = 0;
    int32_t escapeColor = 0;
    int32_t escapeTakesColor = 0;
    // Deep rendering: asked for with --deep, or by itself where extended precision does not
    // resolve the pixels beside the centre.
    bool deepForced = false;
    bool deep = false;
    // Every parameter of the picture as its text, in the order of the PNG's text chunks.
    std::vector<TextChunk> texts;
};

struct ParsedOptions {
    int status = 0;       // 0: render (or show the help); 2: the options are wrong
    bool help = false;    // -h or --help
    std::string message;  // why the options are wrong, or a warning about the picture
    RenderOptions options;
};

// args: the arguments after the program's name. Options of a picture given by --from come first,
// wherever --from stands; the command line's own options then override them.
ParsedOptions ParseRenderOptions(const std::vector<std::string> &args);

// The filler's record for the options; its formula texts point into `options`.
QUOB_FillerParams FillerParamsOf(const RenderOptions &options);

extern const char *const kRenderUsage;

}  // namespace quob::tools
