// Every starter entry compiles as the filler compiles it and draws a picture at its view that is
// neither one colour nor mostly faults; the written list files read back as their sources, and
// the gallery's pictures keep the scenes that the sources give; the smoothest colouring of the
// iteration count keeps a deep view smooth.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "picture_texts.h"
#include "quob32.h"
#include "starter_sources.h"
#include "viewer_defaults.h"

namespace quob::examples {
namespace {

constexpr int32_t kWidth = 64, kHeight = 48;

const StarterLibrary &Library() {
    static const StarterLibrary library = [] {
        StarterLibrary read;
        std::string error;
        if (!ReadStarterSources(STARTER_SOURCES, read, error)) ADD_FAILURE() << error;
        return read;
    }();
    return library;
}

struct Row {
    std::string name;  // the entry's kind and its comment's first words
    QUOB_FillerParams params;
    std::string fractal, color;
    bool checkFaults;  // positions of other formulas' places may lie where the default faults
};

void PrintTo(const Row &row, std::ostream *out) { *out << row.name; }

std::string Name(const std::string &kind, const std::string &comment) {
    return kind + " \"" + comment.substr(0, comment.find(". ")) + "\"";
}

std::vector<Row> Rows() {
    const StarterLibrary &library = Library();
    std::vector<Row> rows;
    std::string error;
    const std::vector<std::string> colors = CommentsOf(library.colors);
    std::vector<std::string> fractals;
    for (const StarterFractal &f : library.fractals) fractals.push_back(f.entry.comment);
    for (const StarterFractal &f : library.fractals) {
        Row row{Name("fractal", f.entry.comment), ViewerDefaults(), f.entry.expression, "", true};
        const long color = common::FindEntry(colors, f.color, error);
        row.color = color < 0 ? "" : library.colors[std::size_t(color)].expression;
        row.params.CenterRe = double(f.re), row.params.CenterIm = double(f.im);
        row.params.Scale = double(f.scale);
        if (f.iterations) row.params.IterationsLimit = f.iterations;
        if (f.blockLength) row.params.BlockLength = f.blockLength;
        if (f.maxModule) row.params.MaxModule = f.maxModule;
        row.params.RecursionInit = f.recursionInit;
        rows.push_back(row);
    }
    // Colour formulas on the classic set at its home view, tested after every iteration so that
    // the escaping iterates stay finite.
    for (const common::FormulaEntry &c : library.colors) {
        Row row{Name("colour", c.comment), ViewerDefaults(), kDefaultFractal, c.expression, true};
        row.params.IterationsLimit = 60, row.params.BlockLength = 1;
        rows.push_back(row);
    }
    for (const StarterPosition &p : library.positions) {
        Row row{Name("position", p.entry.comment), ViewerDefaults(), kDefaultFractal, kDefaultColor,
                false};
        if (!p.fractal.empty()) {
            const long i = common::FindEntry(fractals, p.fractal, error);
            row.fractal = i < 0 ? "" : library.fractals[std::size_t(i)].entry.expression;
        }
        row.params.CenterRe = double(p.entry.re), row.params.CenterIm = double(p.entry.im);
        row.params.Scale = double(p.entry.scale);
        rows.push_back(row);
    }
    return rows;
}

// The picture of a fill in the caller's thread, rows from the top.
std::vector<uint32_t> Picture(QUOB_FillerParams params, int32_t escapeColor) {
    params.EscapeColor = escapeColor;
    std::vector<uint32_t> pixels;
    if (QUOB_CreateFiller(&params) != 1) return pixels;
    const int32_t buffer = QUOB_CreateIBufferEx(kWidth, kHeight, 1);
    QUOB_IBufferInfo info{};
    if (buffer && QUOB_IBufferMessage(buffer, QUOB_MSG_FILL) && QUOB_GetIBuffer(buffer, &info)) {
        const auto *bits = static_cast<const uint32_t *>(info.Bits);
        pixels.assign(bits, bits + std::size_t(kWidth) * kHeight);
    }
    QUOB_DeleteIBuffer(buffer);
    QUOB_DeleteFiller(1);
    return pixels;
}

class Starter : public ::testing::TestWithParam<Row> {};

TEST_P(Starter, CompilesAndDraws) {
    const Row &row = GetParam();
    ASSERT_FALSE(row.fractal.empty() || row.color.empty()) << "a name that picks no entry";
    // Compiled under names of their own, as the filler compiles them, with what it looks up.
    const int32_t fractal =
        CreateRecursiveFunction(("Zf " + row.fractal).c_str(), row.params.BlockLength);
    ASSERT_NE(fractal, 0) << QUOB_GetLastErrorEx() << "\n" << row.fractal;
    EXPECT_TRUE(AccessParamByName(fractal, "x") && AccessParamByName(fractal, "y") &&
                AccessParam(fractal, 0) && AccessParam(fractal, 1));
    DeleteFunction(fractal);
    const int32_t color = CreateRealFunction(("Zc " + row.color).c_str());
    ASSERT_NE(color, 0) << QUOB_GetLastErrorEx() << "\n" << row.color;
    EXPECT_TRUE(AccessParamByName(color, "x") && AccessParamByName(color, "y") &&
                AccessResult(color, 2));
    DeleteFunction(color);

    // A sample that faults takes the escape colour: it is the one that differs between two fills
    // with different escape colours.
    QUOB_FillerParams params = row.params;
    params.FractalFormula = row.fractal.c_str();
    params.ColorFormula = row.color.c_str();
    const std::vector<uint32_t> black = Picture(params, 0), white = Picture(params, 0xFFFFFF);
    ASSERT_EQ(black.size(), std::size_t(kWidth) * kHeight);
    ASSERT_EQ(white.size(), black.size());
    std::size_t faults = 0;
    for (std::size_t i = 0; i < black.size(); ++i) faults += black[i] != white[i];
    EXPECT_GT(std::set<uint32_t>(black.begin(), black.end()).size(), 1u);
    if (row.checkFaults) {
        EXPECT_LT(faults, black.size() / 4) << faults << " samples fault";
    }
}

INSTANTIATE_TEST_SUITE_P(Entries, Starter, ::testing::ValuesIn(Rows()));

TEST(StarterLists, WrittenFilesReadBackAsTheirSources) {
    const StarterLibrary &library = Library();
    std::vector<common::FormulaEntry> fractals, colors;
    std::vector<common::PositionEntry> positions;
    std::string error;
    ASSERT_TRUE(common::ReadFormulaFile(STARTER_LISTS "/fractals.dat", fractals, error)) << error;
    ASSERT_TRUE(common::ReadFormulaFile(STARTER_LISTS "/cadjusts.dat", colors, error)) << error;
    ASSERT_TRUE(common::ReadPositionFile(STARTER_LISTS "/hotspots.dat", positions, error)) << error;
    ASSERT_EQ(fractals.size(), library.fractals.size());
    for (std::size_t i = 0; i < fractals.size(); ++i)
        EXPECT_EQ(fractals[i], library.fractals[i].entry);
    EXPECT_EQ(colors, library.colors);
    ASSERT_EQ(positions.size(), library.positions.size());
    for (std::size_t i = 0; i < positions.size(); ++i)
        EXPECT_EQ(positions[i], library.positions[i].entry);
}

// Each fractal formula's picture in the gallery, "NN-name.png" after its line and its name, keeps
// the scene that the viewer offers with the entry: the formula, its colour formula, its view and
// its precision values (make gallery draws them again after a change of the sources).
TEST(StarterLists, GalleryPicturesKeepTheScenesOfTheSources) {
    const StarterLibrary &library = Library();
    const std::vector<std::string> colors = CommentsOf(library.colors);
    const QUOB_FillerParams defaults = ViewerDefaults();
    for (std::size_t i = 0; i < library.fractals.size(); ++i) {
        const StarterFractal &f = library.fractals[i];
        char number[24];
        std::snprintf(number, sizeof number, "%02zu-", i + 1);
        const std::string file = std::string(GALLERY) + "/" + number +
                                 common::NameSlug(common::EntryName(f.entry.comment)) + ".png";
        SCOPED_TRACE(file);
        common::PictureSettings scene;
        std::string error;
        ASSERT_TRUE(common::ReadScene(file, scene, error)) << error;
        const long color = common::FindEntry(colors, f.color, error);
        ASSERT_GE(color, 0) << error;
        EXPECT_EQ(scene.fractal, f.entry.expression);
        EXPECT_EQ(scene.color, library.colors[std::size_t(color)].expression);
        EXPECT_EQ(std::tuple(scene.centerRe, scene.centerIm, scene.scale),
                  std::tuple(double(f.re), double(f.im), double(f.scale)));
        EXPECT_EQ(
            std::tuple(scene.iterations, scene.blockLength, scene.maxModule, scene.recursionInit),
            std::tuple(f.iterations ? f.iterations : +defaults.IterationsLimit,
                       f.blockLength ? f.blockLength : +defaults.BlockLength,
                       f.maxModule ? f.maxModule : +defaults.MaxModule, f.recursionInit));
    }
    std::size_t pictures = 0;
    for (const auto &entry : std::filesystem::directory_iterator(GALLERY))
        pictures += entry.path().filename().string() != "contact-sheet.png";
    EXPECT_EQ(pictures, library.fractals.size()) << "a picture of no entry";
}

#ifdef QUOB_RENDER
// A 24-bit bitmap as quob-render writes it: its pixels, rows from the bottom, as 0xRRGGBB.
std::vector<uint32_t> ReadBitmap(const std::string &path, int32_t &width, int32_t &height) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), {});
    std::vector<uint32_t> pixels;
    if (b.size() < 54) return pixels;
    auto u32 = [&](std::size_t at) {
        return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
               uint32_t(b[at + 3]) << 24;
    };
    const uint32_t offset = u32(10);
    width = int32_t(u32(18)), height = int32_t(u32(22));
    const std::size_t row = (std::size_t(width) * 3 + 3) & ~std::size_t{3};
    if (b.size() < offset + row * std::size_t(height)) return pixels;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t *p = &b[offset + row * std::size_t(y) + 3 * std::size_t(x)];
            pixels.push_back(uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
        }
    return pixels;
}

struct Smoothness {
    double rough = 1;      // neighbouring pairs that differ by more than 64 in some channel
    double luminance = 0;  // between the 10th and the 90th percentile
    std::size_t colours = 0;
};

Smoothness Measure(const std::vector<uint32_t> &p, int32_t width, int32_t height) {
    Smoothness m;
    auto far = [](uint32_t a, uint32_t b) {
        for (int shift = 0; shift < 24; shift += 8)
            if (std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)) > 64) return true;
        return false;
    };
    std::size_t pairs = 0, rough = 0;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t here = p[std::size_t(y) * width + x];
            if (x + 1 < width) ++pairs, rough += far(here, p[std::size_t(y) * width + x + 1]);
            if (y + 1 < height) ++pairs, rough += far(here, p[std::size_t(y + 1) * width + x]);
        }
    m.rough = double(rough) / double(pairs);
    std::vector<double> luminance;
    for (const uint32_t c : p)
        luminance.push_back(0.299 * (c >> 16) + 0.587 * (c >> 8 & 0xFF) + 0.114 * (c & 0xFF));
    std::sort(luminance.begin(), luminance.end());
    m.luminance = luminance[luminance.size() * 9 / 10] - luminance[luminance.size() / 10];
    m.colours = std::set<uint32_t>(p.begin(), p.end()).size();
    return m;
}

// A deep view 3000 picture heights from the point c where z^2 + c from 0 reaches a 2-cycle at its
// 23rd iteration, near -0.7766 + 0.1346i: the samples run about 10 700 iterations (one a pass, no
// convergence test), and neighbouring pixels differ by 28 or more in a quarter of the pairs. The
// colour of the final iterate is noise there; the smoothest colouring of the iteration count that
// shows at least 32 colours keeps nearly every pair close, and still spans the luminance.
TEST(StarterColourings, KeepADeepViewSmooth) {
    const std::string folder = testing::TempDir() + "starter_deep/";
    std::filesystem::create_directories(folder);
    auto draw = [&](const std::string &color) {
        const std::string file = folder + "view.bmp";
        std::ostringstream command;
        command << "'" << QUOB_RENDER << "' -o '" << file << "' --width 96 --height 96"
                << " --mode plain --block-length 1 --iterations 20000 --differential 0 --deep"
                << " --center "
                   "-0.7766105925997018565640395025529947493281703214398660009692436578520468609045"
                   "9870878696142803205038429132937443851811918717131,"
                   "0.13460896167502816605673727023305780954118749622040361733997923275543996926"
                   "182434686374673753720870571346542156176411558667716"
                << " --scale 1e-101 --color '" << color << "' > /dev/null 2>&1";
        EXPECT_EQ(std::system(command.str().c_str()), 0) << color;
        int32_t width = 0, height = 0;
        const std::vector<uint32_t> pixels = ReadBitmap(file, width, height);
        EXPECT_EQ(pixels.size(), 96u * 96u);
        return pixels.size() == 96u * 96u ? Measure(pixels, width, height) : Smoothness{};
    };
    const Smoothness plain = draw(kDefaultColor);
    std::printf("the default colouring: %.1f%% rough, luminance span %.0f, %zu colours\n",
                100 * plain.rough, plain.luminance, plain.colours);
    Smoothness smoothest;
    std::string name;
    for (const common::FormulaEntry &c : Library().colors) {
        std::istringstream words(c.expression.substr(0, c.expression.find('=')));
        const std::set<std::string> params{std::istream_iterator<std::string>(words), {}};
        if (!params.count("iter")) continue;
        const Smoothness m = draw(c.expression);
        std::printf("%s: %.1f%% rough, luminance span %.0f, %zu colours\n",
                    common::EntryName(c.comment).c_str(), 100 * m.rough, m.luminance, m.colours);
        if (m.colours >= 32 && m.rough < smoothest.rough) smoothest = m, name = c.comment;
    }
    ASSERT_FALSE(name.empty()) << "no colouring of the iteration count shows 32 colours";
    EXPECT_LE(smoothest.rough, 0.12) << name;
    EXPECT_GE(smoothest.luminance, 64) << name;
}
#endif

}  // namespace
}  // namespace quob::examples
