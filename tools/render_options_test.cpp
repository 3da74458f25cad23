// quob-render's options: what is refused, with which status and message, what is only warned
// about, and the parameters kept as texts for the picture's file.
#include "render_options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "list_records.h"
#include "viewer_defaults.h"
#include "whole_file.h"

namespace quob::tools {
namespace {

struct OptionsCase {
    std::vector<std::string> args;  // after "-o out.bmp"
    int status;
    std::string message;  // contained in the message; empty: no message at all
};

void PrintTo(const OptionsCase &c, std::ostream *out) {
    for (const std::string &a : c.args) *out << a << ' ';
}

class Options : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(Options, StatusAndMessage) {
    const OptionsCase &c = GetParam();
    std::vector<std::string> args = {"-o", "out.bmp"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ParsedOptions parsed = ParseRenderOptions(args);
    EXPECT_EQ(parsed.status, c.status);
    if (c.message.empty())
        EXPECT_EQ(parsed.message, "");
    else
        EXPECT_NE(parsed.message.find(c.message), std::string::npos) << parsed.message;
}

const OptionsCase kOptionsCases[] = {
    {{}, 0, ""},
    {{"--scale", "nan"}, 2, "invalid value 'nan' for --scale: a finite number above 0"},
    {{"--scale", "-1"}, 2, "invalid value '-1' for --scale"},
    {{"--scale", "0"}, 2, "--scale"},
    {{"--scale", "inf"}, 2, "--scale"},
    {{"--scale", "1e400"}, 2, "--scale"},
    {{"--scale", "2x"}, 2, "--scale"},
    {{"--max-module", "inf"}, 2, "invalid value 'inf' for --max-module"},
    {{"--max-module", "1e39"}, 2, "--max-module"},  // beyond a 32-bit float
    {{"--max-module", "-3.5"}, 0, ""},
    {{"--differential", "nan"}, 2, "--differential"},
    {{"--center", "nan,0"}, 2, "--center"},
    {{"--center", "1,-inf"}, 2, "--center"},
    {{"--center", "0.25"}, 2, "RE,IM"},
    {{"--width", "0"}, 2, "--width"},
    {{"--height", "2147483648"}, 2, "--height"},
    {{"--width", "2147483647", "--height", "1", "-o", "wide.png"}, 0, ""},
    {{"--iterations", "0"}, 2, "--iterations"},
    {{"--block-length", "1001"}, 2, "--block-length"},
    {{"--block-length", "0"}, 2, "--block-length"},
    {{"--escape-color", "1000000"}, 2, "--escape-color"},
    {{"--escape-color", "-1"}, 2, "--escape-color"},
    {{"--escape-color", "00ff80"}, 0, ""},
    {{"--mode", "fast"}, 2, "plain, smoothed or preview"},
    {{"--supersample", "9"}, 2, "--supersample"},
    {{"--supersample", "0"}, 2, "--supersample"},
    {{"--supersample", "3"}, 2, "--supersample above 1 needs --mode plain"},
    {{"--supersample", "8", "--mode", "plain"}, 0, ""},
    {{"--bogus", "1"}, 2, "unknown option --bogus"},
    {{"--scale"}, 2, "missing value for --scale"},
    {{"-o", ""}, 2, "no output file"},
    // 54 + 120000 x 40000 bytes do not fit the bitmap's 32-bit size field; PNG has no such limit.
    {{"--width", "40000", "--height", "40000"}, 2, "write PNG instead"},
    {{"--width", "40000", "--height", "40000", "-o", "big.PNG"}, 0, ""},
    {{"--width", "21845", "--height", "65535"}, 0, ""},  // 64 KiB short of 4 GiB
    // Step 2e-20 beside -0.5: the pixel to the left is -0.5 again in extended precision.
    {{"--scale", "1e-17"}, 0, "rendering by perturbation (deep)"},
    {{"--scale", "1e-17", "--center", "0,0"}, 0, ""},
    {{"--scale", "1e-15"}, 0, ""},
    // Step 2e-18 at 0.1: extended precision resolves the pixels, but the double nearest to 0.1
    // lies 5.5e-18 away; 1 + 1e-31 is a double's 1 to far below a pixel.
    {{"--scale", "1e-15", "--center", "0.1,0"}, 0, "a double misses the centre's digits"},
    {{"--scale", "1e-12", "--center", "0.1,0"}, 0, ""},
    {{"--scale", "1e-10", "--center", "1.0000000000000000000000000000001,0"}, 0, ""},
    {{"--fractal-from", "fractals.dat"}, 2, "--fractal-from fractals.dat: FILE:N or FILE:WORD"},
    {{"--position", ":3"}, 2, "FILE:N or FILE:WORD"},
    {{"--color-from", "/nonexistent/cadjusts.dat:1"}, 2, "No such file"},
    {{"--fractal-from", "/:1"}, 2, "--fractal-from /:1: Is a directory"},
    {{"--scale", "1e-15", "--deep"}, 0, ""},
    // Beyond the doubles: the texts are taken as they are, down to 1e-4800.
    {{"--scale", "1e-4800", "--center", "0,1"}, 0, "rendering by perturbation (deep)"},
    {{"--scale", "9.9e-4801"}, 2, "a number from 1e-4800 on"},
    {{"--scale", "1e-1000x"}, 2, "--scale"},
    {{"--center", "1e309,0"}, 2, "--center"},
    {{"--deep", "--deep"}, 0, ""},
};

INSTANTIATE_TEST_SUITE_P(Table, Options, ::testing::ValuesIn(kOptionsCases));

TEST(Options, HelpWhereverItStands) {
    EXPECT_TRUE(ParseRenderOptions({"--scale", "nan", "--help"}).help);
    EXPECT_TRUE(ParseRenderOptions({"-h"}).help);
}

TEST(Options, DefaultsAreTheViewersStartUp) {
    const ParsedOptions parsed = ParseRenderOptions({"-o", "a.png"});
    ASSERT_EQ(parsed.status, 0);
    const QUOB_FillerParams p = FillerParamsOf(parsed.options), v = ViewerDefaults();
    EXPECT_STREQ(p.FractalFormula, v.FractalFormula);
    EXPECT_STREQ(p.ColorFormula, v.ColorFormula);
    EXPECT_EQ(p.CenterRe, v.CenterRe);
    EXPECT_EQ(p.CenterIm, v.CenterIm);
    EXPECT_EQ(p.Scale, v.Scale);
    EXPECT_EQ(p.MaxModule, v.MaxModule);
    EXPECT_EQ(p.Differential, v.Differential);
    EXPECT_EQ(p.IterationsLimit, v.IterationsLimit);
    EXPECT_EQ(p.BlockLength, v.BlockLength);
    EXPECT_EQ(p.RecursionInit, v.RecursionInit);
    EXPECT_EQ(p.EscapeColor, v.EscapeColor);
    EXPECT_EQ(p.EscapeTakesColor, v.EscapeTakesColor);
    EXPECT_EQ(parsed.options.mode, common::RenderMode::kSmoothed);
    EXPECT_TRUE(parsed.options.png);
}

TEST(Options, ViewKeepsEveryDigitAsTyped) {
    const std::string re = "-0.74350000000000000000000000000000001";
    const ParsedOptions parsed =
        ParseRenderOptions({"-o", "a.png", "--center", re + ",+0.131400", "--scale", "2.50e-3"});
    ASSERT_EQ(parsed.status, 0);
    const RenderOptions &o = parsed.options;
    EXPECT_EQ(o.centerReText, re);
    EXPECT_EQ(o.centerImText, "+0.131400");
    EXPECT_EQ(o.scaleText, "2.50e-3");
    EXPECT_EQ(o.centerRe, -0.7435);
    EXPECT_EQ(o.scale, 0.0025);
    const std::vector<common::TextChunk> &t = o.texts;
    EXPECT_NE(std::find(t.begin(), t.end(), common::TextChunk("Center", re + ",+0.131400")),
              t.end());
    EXPECT_NE(std::find(t.begin(), t.end(), common::TextChunk("Scale", "2.50e-3")), t.end());
    EXPECT_FALSE(o.deep);

    // Far beyond the doubles, every digit of the view is still the picture's.
    const std::string deepRe = "0." + std::string(1200, '3');
    const ParsedOptions deep =
        ParseRenderOptions({"-o", "a.png", "--center", deepRe + ",1", "--scale", "1e-1000"});
    ASSERT_EQ(deep.status, 0);
    EXPECT_TRUE(deep.options.deep);
    EXPECT_EQ(deep.options.centerReText, deepRe);
    const std::vector<common::TextChunk> &d = deep.options.texts;
    EXPECT_NE(std::find(d.begin(), d.end(), common::TextChunk("Center", deepRe + ",1")), d.end());
    EXPECT_NE(std::find(d.begin(), d.end(), common::TextChunk("Scale", "1e-1000")), d.end());
}

// The chunk "Approximation" says whether the picture skips iterations: only deep ones do, and
// only where --no-approximation does not turn it off.
TEST(Options, ApproximationWhereDeep) {
    const std::vector<std::string> deep = {"--scale", "1e-300", "--center", "0,1"};
    const struct {
        std::vector<std::string> args;
        bool approximation;
    } cases[] = {
        {{}, false},
        {{"--no-approximation"}, false},
        {deep, true},
        {{"--deep"}, true},
        {{"--deep", "--no-approximation"}, false},
        {{"--no-approximation", "--scale", "1e-300", "--center", "0,1"}, false},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = {"-o", "a.png"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ParsedOptions parsed = ParseRenderOptions(args);
        ASSERT_EQ(parsed.status, 0) << parsed.message;
        EXPECT_EQ(parsed.options.approximation, c.approximation) << args.back();
        const std::vector<common::TextChunk> &t = parsed.options.texts;
        EXPECT_NE(std::find(t.begin(), t.end(),
                            common::TextChunk("Approximation", c.approximation ? "yes" : "no")),
                  t.end())
            << args.back();
    }
}

// --from: the file's parameters first, then the command line's; files that hold none refused.
TEST(Options, FromTakesThePicturesParameters) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("render_options_test_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const uint32_t pixel = 0x123456;
    auto png = [&](const std::string &name, const std::vector<common::TextChunk> &texts) {
        const std::string path = (folder / name).string();
        EXPECT_TRUE(common::WritePng(path, {&pixel, 1, 1}, texts));
        return path;
    };
    const ParsedOptions made = ParseRenderOptions({"-o", "a.png", "--scale", "0.125", "--fractal",
                                                   "tx ty x y = x ret y ret", "--mode", "plain",
                                                   "--supersample", "2", "--width", "33"});
    ASSERT_EQ(made.status, 0);
    const std::string from = png("made.png", made.options.texts);

    const ParsedOptions again =
        ParseRenderOptions({"--from", from, "-o", "b.png", "--height", "7"});
    ASSERT_EQ(again.status, 0) << again.message;
    EXPECT_EQ(again.options.scaleText, "0.125");
    EXPECT_EQ(again.options.fractal, "tx ty x y = x ret y ret");
    EXPECT_EQ(again.options.supersample, 2);
    EXPECT_EQ(again.options.width, 33);
    EXPECT_EQ(again.options.height, 7);
    EXPECT_EQ(ParseRenderOptions({"-o", "c.png", "--from", from}).options.texts,
              made.options.texts);

    // A deep picture is drawn again as it was drawn, one from before the approximation without
    // it; one that was not deep asks for nothing.
    const ParsedOptions deep = ParseRenderOptions({"-o", "a.png", "--deep", "--no-approximation"});
    std::vector<common::TextChunk> older = deep.options.texts;
    std::erase_if(older, [](const common::TextChunk &c) { return c.first == "Approximation"; });
    const struct {
        std::string file;
        std::vector<std::string> args;
        bool approximation;
    } approximations[] = {
        {png("exact.png", deep.options.texts), {}, false},
        {png("older.png", older), {}, false},
        {png("older.png", older), {"--scale", "1e-300"}, false},
        {png("older.png", older), {"--deep", "--scale", "1e-300"}, false},
        {from, {"--scale", "1e-300", "--center", "0,1"}, true},
    };
    for (const auto &a : approximations) {
        std::vector<std::string> args = {"-o", "e.png", "--from", a.file};
        args.insert(args.end(), a.args.begin(), a.args.end());
        const ParsedOptions parsed = ParseRenderOptions(args);
        ASSERT_EQ(parsed.status, 0) << parsed.message;
        EXPECT_EQ(parsed.options.approximation, a.approximation) << a.file << " " << args.size();
    }

    const std::string plain = png("plain.png", {{"Title", "a picture"}});
    const std::string bad = png("bad.png", {{"Scale", "-2"}});
    const std::string text = (folder / "text.png").string();
    std::fclose(std::fopen(text.c_str(), "w"));
    const struct {
        std::string file, message;
    } refused[] = {
        {plain, plain + " holds no parameters of quob-render"},
        {bad, bad + ": invalid value '-2' for --scale"},
        {text, "cannot read " + text + ": not a PNG file"},
        {(folder / "none.png").string(), "No such file"},
    };
    for (const auto &r : refused) {
        const ParsedOptions parsed = ParseRenderOptions({"-o", "d.png", "--from", r.file});
        EXPECT_EQ(parsed.status, 2) << r.file;
        EXPECT_NE(parsed.message.find(r.message), std::string::npos) << parsed.message;
    }
    std::filesystem::remove_all(folder);
}

// Entries of list files by line number or by a word of their comment, as the list files hold them.
TEST(Options, ListEntriesByLineOrWord) {
    const std::string folder = std::filesystem::temp_directory_path() /
                               ("render_options_lists_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string formulas = folder + "/fractals.dat", positions = folder + "/hotspots.dat";
    std::string error;
    ASSERT_TRUE(common::WriteWholeFile(
        formulas,
        common::FormulaRecord({"tx ty x y = x ret y ret", "Burning Ship. The hull."}) +
            common::FormulaRecord(
                {"tx ty x y = y ret x ret", "Burning Ship power 3. Like a Burning Ship"}) +
            common::FormulaRecord({"tx ty x y = 1 ret 0 ret", "Smooth gradient"}) +
            "partial record",
        error));
    ASSERT_TRUE(common::WriteWholeFile(
        positions, common::PositionRecord({-0.75L, 0.125L, 0.0078125L, "Seahorse valley"}), error));
    const struct {
        std::vector<std::string> args;
        std::string fractal, center, message;  // message: contained in a refusal
    } cases[] = {
        {{"--fractal-from", formulas + ":2"}, "tx ty x y = y ret x ret", "", ""},
        {{"--fractal-from", formulas + ":smooth"}, "tx ty x y = 1 ret 0 ret", "", ""},
        {{"--fractal-from", formulas + ":burning ship"}, "tx ty x y = x ret y ret", "", ""},
        {{"--fractal-from", formulas + ":Ship"},
         "",
         "",
         "'Ship' matches 2 entries:\n  1: Burning Ship\n  2:"},
        {{"--fractal-from", formulas + ":Smoot"}, "", "", "no comment contains 'Smoot'"},
        {{"--fractal-from", formulas + ":4"},
         "",
         "",
         "no entry 4: the list has 3 entries, numbered from 1"},
        {{"--fractal-from", formulas + ":0"}, "", "", "no entry 0"},
        {{"--color-from", formulas + ":3", "--fractal-from", formulas + ":1"},
         "tx ty x y = x ret y ret",
         "",
         ""},
        {{"--position", positions + ":seahorse"}, "", "-0.75,0.125", ""},
        {{"--position", positions + ":2"}, "", "", "--position " + positions + ":2: no entry 2"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = {"-o", "a.png"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ParsedOptions parsed = ParseRenderOptions(args);
        if (!c.message.empty()) {
            EXPECT_EQ(parsed.status, 2) << c.args.back();
            EXPECT_NE(parsed.message.find(c.message), std::string::npos) << parsed.message;
            continue;
        }
        ASSERT_EQ(parsed.status, 0) << parsed.message;
        if (!c.fractal.empty()) {
            EXPECT_EQ(parsed.options.fractal, c.fractal);
        }
        if (!c.center.empty()) {
            EXPECT_EQ(parsed.options.centerReText + "," + parsed.options.centerImText, c.center);
            EXPECT_EQ(parsed.options.scale, 0.0078125);
        }
    }
    EXPECT_EQ(ParseRenderOptions({"-o", "a.png", "--color-from", formulas + ":3"}).options.color,
              "tx ty x y = 1 ret 0 ret");
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quob::tools
