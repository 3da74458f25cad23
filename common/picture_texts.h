// The parameters of a picture as texts: the text chunks in which its PNG file keeps them, and
// quob-render's options that draw it. One table of parameters, each with its option, the keyword
// of its chunk and the rule its text must follow: the viewer's "Save picture" and quob-render
// write the chunks, quob-render reads them back (--from), the viewer opens them as a scene, and
// the viewer's thumbnails hand the options to quob-render.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "picture_files.h"
#include "quob32.h"

namespace quob::common {

enum class RenderMode { kPlain, kSmoothed, kPreview };

// How a picture was drawn: the filler's record (its size, view, formulas and precision fields),
// the fill's mode and the samples per pixel across.
struct PictureParams {
    QUOB_FillerParams filler;
    RenderMode mode;
    int32_t supersample;
    // The view as texts ("RE,IM" and the scale) that read back as the record's doubles, written
    // instead of the shortest texts so that a view keeps every digit it was given; empty: none.
    std::string centerText = {};
    std::string scaleText = {};
    // Rendered by perturbation at any scale (the chunk "Deep").
    bool deep = false;
    // Iterations skipped by the linear approximation where the picture is deep (the chunk
    // "Approximation"): what a picture asks for, and what a picture drawn used.
    bool approximation = true;
};

// A picture's parameters as taken from their texts, each text kept as it came.
struct PictureSettings {
    int32_t width = 0;
    int32_t height = 0;
    RenderMode mode = RenderMode::kSmoothed;
    int32_t supersample = 1;
    std::string fractal;
    std::string color;
    // The view as written, every digit kept, beside the values the filler takes.
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
    // "Deep" is "yes": render by perturbation at any scale.
    bool deepForced = false;
    // "Approximation" is "yes": a deep picture skips iterations by the linear approximation.
    bool approximation = true;
    // Every parameter's keyword with the text it was taken from, in the order of the chunks.
    std::vector<TextChunk> chunks;
};

// The text chunks that record a picture in its PNG file, "Software" first. The view is written
// as the shortest decimal texts that read back as the record's values.
std::vector<TextChunk> PictureTexts(const PictureParams &picture, const std::string &software);
// The chunks of the settings, "Software" first, with the texts that they were taken from.
std::vector<TextChunk> PictureTexts(const PictureSettings &settings, const std::string &software);
// The same parameters as quob-render's options, each followed by its text (no output file).
std::vector<std::string> PictureArguments(const PictureParams &picture);

// True when the option (--width, --center, ...) stands for a parameter of the picture.
bool IsPictureOption(const std::string &option);
// Takes the text of the parameter that the option stands for. Empty when it is taken; otherwise
// "invalid value 'TEXT' for OPTION: " and the rule that it breaks, and the settings stay as they
// were.
std::string TakeOption(PictureSettings &settings, const std::string &option,
                       const std::string &text);
// Takes the parameters among a PNG's text chunks, in the chunks' order; chunks of other keywords
// are passed over. The number of parameters taken, or -1 with the refusal of the first text that
// breaks its rule.
int TakePictureTexts(const std::vector<TextChunk> &chunks, PictureSettings &settings,
                     std::string &error);

// A scene, everything that makes a picture, from a PNG's text chunks through TakePictureTexts:
// the view, both formulas, the precision values and the escape colour fields, each of which must
// be there, and the size, mode, supersampling and deep switch where they are. False with why
// not: no scene among the chunks, a part of it missing, or the first text that breaks its rule.
bool TakeScene(const std::vector<TextChunk> &chunks, PictureSettings &scene, std::string &error);
// A view's decimal text as an extended real where that rounds to the double read from the same
// text (rounding twice may land on the neighbour), else that double.
long double ExtendedOf(const std::string &decimal, double value);
// The scene of a PNG file: its text chunks (ReadPngTexts), then TakeScene. False with why not.
bool ReadScene(const std::string &path, PictureSettings &scene, std::string &error);

}  // namespace quob::common
