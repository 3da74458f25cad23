// quob-render's options, read from its command line and from the text chunks of a picture it
// made (--from), without rendering anything or leaving the process.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "picture_texts.h"
#include "quob32.h"

namespace quob::tools {

// The picture's parameters with where and how quob-render draws it.
struct RenderOptions : common::PictureSettings {
    std::string output;
    bool png = false;  // the output's name ends in ".png"; otherwise a 24-bit bitmap
    // Deep rendering: asked for with --deep, or by itself where extended precision does not
    // resolve the pixels beside the centre.
    bool deep = false;
    // The PNG's text chunks: "Software", then every parameter as its text.
    std::vector<common::TextChunk> texts;
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

// Records whether the deep picture skips iterations by the linear approximation: the chunk
// "Approximation" says "yes" where the picture is deep and asked for it.
void RecordApproximation(RenderOptions &options, bool asked);

// The filler's record for the options; its formula texts point into `options`.
QUOB_FillerParams FillerParamsOf(const RenderOptions &options);

extern const char *const kRenderUsage;

}  // namespace quob::tools
