// The picture files, written band by band: the bitmap's layout, the PNG's pixels and text chunks
// as libpng reads them back, the errors of a file that cannot take the bytes, and the scene that
// a PNG's texts keep.
#include "picture_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <tuple>

#include "exact_view.h"
#include "picture_texts.h"
#include "viewer_defaults.h"

namespace quob::common {
namespace {

uint32_t Little32(const std::vector<uint8_t> &b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

// Rows top first whose every channel tells where the pixel is.
std::vector<uint32_t> Pattern(int32_t w, int32_t h) {
    std::vector<uint32_t> rows(static_cast<std::size_t>(w) * h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            rows[y * w + x] = (x * 7 & 0xFF) << 16 | (y * 13 & 0xFF) << 8 | ((x + y) & 0xFF);
    return rows;
}

std::vector<uint8_t> Bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Files : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("picture_files_test_" + std::to_string(getpid()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    // Writes the rows in bands of `band` rows.
    std::string Write(const std::string &name, const std::vector<uint32_t> &rows, int32_t w,
                      int32_t h, int32_t band, const std::vector<TextChunk> &texts = {}) {
        const std::string path = (folder_ / name).string();
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        EXPECT_GE(fd, 0);
        std::unique_ptr<TPictureWriter> writer;
        if (name.ends_with(".png"))
            writer = std::make_unique<TPngWriter>(fd, w, h, texts);
        else
            writer = std::make_unique<TBmpWriter>(fd, w, h);
        for (int32_t top = 0; top < h; top += band)
            EXPECT_TRUE(writer->Rows(rows.data() + std::size_t(top) * w, std::min(band, h - top)));
        EXPECT_TRUE(writer->Finish());
        close(fd);
        return path;
    }

    std::filesystem::path folder_;
};

struct Size {
    int32_t width, height, band;
    uint32_t rowSize;
};

class BitmapLayout : public Files, public ::testing::WithParamInterface<Size> {};

TEST_P(BitmapLayout, HeadersAndPaddedRowsBottomFirst) {
    const auto [w, h, band, rowSize] = GetParam();
    const std::vector<uint32_t> rows = Pattern(w, h);
    const std::vector<uint8_t> file = Bytes(Write("a.bmp", rows, w, h, band));
    ASSERT_EQ(file.size(), 54 + rowSize * h);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Little32(file, 2), file.size());
    EXPECT_EQ(Little32(file, 6), 0u);
    EXPECT_EQ(Little32(file, 10), 54u);
    EXPECT_EQ(Little32(file, 14), 40u);
    EXPECT_EQ(Little32(file, 18), uint32_t(w));
    EXPECT_EQ(Little32(file, 22), uint32_t(h));
    EXPECT_EQ(Little32(file, 26), 1u | 24u << 16);  // planes, bits per pixel
    EXPECT_EQ(Little32(file, 30), 0u);
    EXPECT_EQ(Little32(file, 34), rowSize * h);
    for (std::size_t at = 38; at < 54; at += 4) EXPECT_EQ(Little32(file, at), 0u);
    for (int32_t y = 0; y < h; ++y) {
        const std::size_t start = 54 + std::size_t(h - 1 - y) * rowSize;
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t pixel = rows[y * w + x];
            ASSERT_EQ(file[start + 3 * x], pixel & 0xFF);
            ASSERT_EQ(file[start + 3 * x + 1], pixel >> 8 & 0xFF);
            ASSERT_EQ(file[start + 3 * x + 2], pixel >> 16 & 0xFF);
        }
        for (uint32_t pad = 3 * w; pad < rowSize; ++pad) ASSERT_EQ(file[start + pad], 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, BitmapLayout,
                         ::testing::Values(Size{314, 125, 37, 944}, Size{1, 1, 1, 4},
                                           Size{4, 3, 2, 12}, Size{5, 2, 5, 16},
                                           Size{7, 9, 1, 24}));

// The pixels as libpng decodes them, top row first, and the text chunks in file order.
std::vector<uint32_t> DecodePng(const std::string &path, std::vector<TextChunk> &texts) {
    FILE *file = std::fopen(path.c_str(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<uint32_t> rows;
    if (setjmp(png_jmpbuf(png))) {
        ADD_FAILURE() << "libpng refused " << path;
    } else {
        png_init_io(png, file);
        png_read_info(png, info);
        const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
        EXPECT_EQ(png_get_bit_depth(png, info), 8);
        EXPECT_EQ(png_get_color_type(png, info), PNG_COLOR_TYPE_RGB);
        std::vector<png_byte> line(3 * w);
        for (png_uint_32 y = 0; y < h; ++y) {
            png_read_row(png, line.data(), nullptr);
            for (png_uint_32 x = 0; x < w; ++x)
                rows.push_back(line[3 * x] << 16 | line[3 * x + 1] << 8 | line[3 * x + 2]);
        }
        png_read_end(png, info);
        png_textp text;
        const int count = png_get_text(png, info, &text, nullptr);
        for (int k = 0; k < count; ++k) texts.emplace_back(text[k].key, text[k].text);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return rows;
}

TEST_F(Files, PngPixelsAndTextsComeBack) {
    const int32_t w = 37, h = 11;
    const std::vector<uint32_t> rows = Pattern(w, h);
    const std::vector<TextChunk> texts = {{"Fractal formula", "tx ty x y = x ret y ret"},
                                          {"Center", "-0." + std::string(3000, '7') + ",0"},
                                          {"Comment", "Mandelbrot \xC3\xA9t\xC3\xA9"},
                                          {"Empty", ""}};
    const std::string banded = Write("banded.png", rows, w, h, 4, texts);
    std::vector<TextChunk> read;
    EXPECT_EQ(DecodePng(banded, read), rows);
    EXPECT_EQ(read, texts);
    std::vector<TextChunk> header;
    std::string error;
    ASSERT_TRUE(ReadPngTexts(banded, header, error)) << error;
    EXPECT_EQ(header, texts);  // all before the pixels

    // The same picture from an image buffer's bottom-up rows, in one call: the same bytes, and
    // nothing in them that depends on the time.
    std::vector<uint32_t> bottomUp;
    for (int32_t y = h - 1; y >= 0; --y)
        bottomUp.insert(bottomUp.end(), rows.begin() + y * w, rows.begin() + (y + 1) * w);
    const std::string whole = (folder_ / "whole.png").string();
    ASSERT_TRUE(WritePng(whole, {bottomUp.data(), w, h}, texts));
    const std::vector<uint8_t> bytes = Bytes(whole);
    EXPECT_EQ(bytes, Bytes(banded));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find("tIME"), std::string::npos);
}

// A file that cannot take the bytes: the write fails and says why.
TEST_F(Files, WritesThatFailSayWhy) {
    const std::vector<uint32_t> rows = Pattern(64, 64);
    const std::string path = (folder_ / "read-only").string();
    std::fclose(std::fopen(path.c_str(), "w"));
    const int readOnly = open(path.c_str(), O_RDONLY);
    const int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    TBmpWriter bmpReadOnly(readOnly, 64, 64);
    TPngWriter pngReadOnly(readOnly, 64, 64, {});
    TPngWriter pngFull(full, 64, 64, {});
    TBmpWriter huge(full, 40000, 40000);
    for (auto [writer, error] : {std::pair<TPictureWriter *, int>{&bmpReadOnly, 0},
                                 {&pngReadOnly, EBADF},
                                 {&pngFull, ENOSPC},
                                 {&huge, EFBIG}}) {
        EXPECT_FALSE(writer->Rows(rows.data(), 64) && writer->Finish());
        EXPECT_NE(writer->Error(), 0);
        if (error != 0) {
            EXPECT_EQ(writer->Error(), error);
        }
    }
    close(readOnly);
    close(full);
}

// ---- Scenes -------------------------------------------------------------------------------------

using Chunks = std::vector<TextChunk>;

// The texts of a picture made by quob-render or Save picture.
Chunks Picture() {
    QUOB_FillerParams p = ViewerDefaults();
    p.Width = 3, p.Height = 2, p.CenterRe = -0.75, p.Scale = 0.5, p.BlockLength = 1;
    p.EscapeColor = 0x102030;
    PictureParams picture{p, RenderMode::kPlain, 3};
    picture.centerText = "-0.750000000000000000000001,0.125";
    return PictureTexts(picture, "test");
}

void Set(Chunks &chunks, const std::string &keyword, const std::optional<std::string> &text) {
    const auto at = std::find_if(chunks.begin(), chunks.end(),
                                 [&](const TextChunk &c) { return c.first == keyword; });
    ASSERT_NE(at, chunks.end()) << keyword;
    if (text)
        at->second = *text;
    else
        chunks.erase(at);
}

struct SceneCase {
    const char *name;
    std::function<void(Chunks &)> edit;
    const char *refusal;  // how it begins; null: taken
};
void PrintTo(const SceneCase &c, std::ostream *out) { *out << c.name; }

class Scene : public ::testing::TestWithParam<SceneCase> {};

TEST_P(Scene, TakesAWholeSceneOrSaysWhatIsWrong) {
    Chunks chunks = Picture();
    GetParam().edit(chunks);
    PictureSettings scene;
    scene.fractal = "as it was";
    std::string error;
    const bool taken = TakeScene(chunks, scene, error);
    if (const char *refusal = GetParam().refusal) {
        EXPECT_FALSE(taken);
        EXPECT_EQ(error.substr(0, std::strlen(refusal)), refusal) << error;
        EXPECT_EQ(scene.fractal, "as it was");
        return;
    }
    ASSERT_TRUE(taken) << error;
    EXPECT_EQ(std::tuple(scene.fractal, scene.color, scene.centerReText, scene.centerImText,
                         scene.scaleText, scene.centerRe, scene.scale),
              std::tuple(std::string(kDefaultFractal), std::string(kDefaultColor),
                         std::string("-0.750000000000000000000001"), std::string("0.125"),
                         std::string("0.5"), -0.75, 0.5));
    EXPECT_EQ(std::tuple(scene.maxModule, scene.differential, scene.iterations, scene.blockLength,
                         scene.recursionInit, scene.escapeColor, scene.escapeTakesColor),
              std::tuple(2.0f, 0.001f, 20, 1, 0, 0x102030, 0));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Texts, Scene, ::testing::Values(
    SceneCase{"Whole", [](Chunks &) {}, nullptr},
    // The size, mode, supersampling and deep switch are taken where they are given.
    SceneCase{"WithoutSizeAndMode", [](Chunks &c) {
        for (const char *k : {"Width", "Height", "Mode", "Supersample", "Deep"}) Set(c, k, {}); },
        nullptr},
    SceneCase{"AmongOtherTexts", [](Chunks &c) { c.insert(c.begin(), {"Title", "a picture"}); },
              nullptr},
    SceneCase{"NoScene", [](Chunks &c) { c = {{"Software", "elsewhere"}, {"Title", "a picture"}}; },
              "it holds no scene (the texts that Save picture and quob-render keep in a PNG)"},
    SceneCase{"NoTexts", [](Chunks &c) { c.clear(); }, "it holds no scene"},
    SceneCase{"LacksScale", [](Chunks &c) { Set(c, "Scale", {}); },
              "its scene lacks the text \"Scale\""},
    SceneCase{"LacksColorFormula", [](Chunks &c) { Set(c, "Color formula", {}); },
              "its scene lacks the text \"Color formula\""},
    SceneCase{"BadCenter", [](Chunks &c) { Set(c, "Center", "0.5"); },
              "invalid value '0.5' for --center: RE,IM, two finite numbers"},
    SceneCase{"BadBlockLength", [](Chunks &c) { Set(c, "Block length", "0"); },
              "invalid value '0' for --block-length"},
    SceneCase{"BadMode", [](Chunks &c) { Set(c, "Mode", "fast"); },
              "invalid value 'fast' for --mode"}),
    [](const auto &info) { return info.param.name; });
// clang-format on

// A view's text as the history's extended reals hold it, unless rounding it twice would give
// another double than the filler takes from the same text.
TEST(ExtendedOf, KeepsTheDigitsThatRoundToTheSameDouble) {
    EXPECT_EQ(ExtendedOf("0.1", 0.1), 0.1L);
    // 1 + 2^-53 + 2^-65: a double rounds it up, an extended real to the tie 1 + 2^-53 that a
    // double then rounds down to 1.
    const std::string tie = "1.00000000000000011104940751682779165321335312910377979278564453125";
    const double value = std::strtod(tie.c_str(), nullptr);
    EXPECT_EQ(value, 1 + 0x1p-52);
    EXPECT_EQ(ExtendedOf(tie, value), static_cast<long double>(value));
}

// The viewer runs in the user's locale: a comma for the decimal point changes nothing.
TEST(PictureTexts, ReadInAnyLocale) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no German locale installed";
    PictureSettings scene;
    std::string error;
    const bool taken = TakeScene(Picture(), scene, error);
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(taken) << error;
    EXPECT_EQ(std::tuple(scene.centerRe, scene.centerIm, scene.maxModule),
              std::tuple(-0.75, 0.125, 2.0f));
}

}  // namespace
}  // namespace quob::common

// ---- Views of any depth ------------------------------------------------------------------------

namespace {

struct MoveCase {
    quob::common::ExactView from;
    int64_t dx, dy;
    int32_t height;
    long double factor;
    quob::common::ExactView to;
};

class Moves : public ::testing::TestWithParam<MoveCase> {};

// The hot spot's zoom in arbitrary precision: the centre moves by whole steps of scale / height
// and keeps the digits that tell it from its neighbours.
TEST_P(Moves, ByWholeStepsWithEveryDigit) {
    const MoveCase &c = GetParam();
    EXPECT_EQ(quob::common::Moved(c.from, c.dx, c.dy, c.height, c.factor), c.to);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Moves,
    ::testing::Values(MoveCase{{"0", "1", "1e-200"},
                               7,
                               -3,
                               100,
                               0.5L,
                               {"7e-202", "1." + std::string(201, '0') + "3", "5e-201"}},
                      MoveCase{{"-0.5", "0", "2"}, 10, 20, 400, 0.25L, {"-0.45", "-0.1", "0.5"}},
                      MoveCase{{"1e-4000", "-1e-4000", "1e-3990"},
                               -1,
                               1,
                               10,
                               1,
                               {"-9.99999999e-3992", "-1.000000001e-3991", "1e-3990"}}));

}  // namespace

TEST(ExactView, TextsAndTheDeepTest) {
    using quob::common::NeedsDeep;
    for (const char *text : {"0", "-1.5", "1e-4000", ".5", "3.", "+2E+10"})
        EXPECT_TRUE(quob::common::IsDecimal(text)) << text;
    for (const char *text : {"", "-", "1e", "nan", "inf", "0x1p3", "1,5", "1e-4000x"})
        EXPECT_FALSE(quob::common::IsDecimal(text)) << text;
    EXPECT_EQ(quob::common::Rounded("0.000123456", 3), "0.000123");
    EXPECT_EQ(quob::common::Rounded("1.5e-200", 3), "1.5e-200");
    EXPECT_EQ(quob::common::Rounded("1250", 3), "1250");
    EXPECT_EQ(quob::common::Quotient(2, "4e-300"), "5e299");
    EXPECT_EQ(quob::common::Quotient(2, "0"), "");
    EXPECT_EQ(quob::common::Scaled({"0.1", "0", "1e-300"}, 0.5L).scale, "5e-301");
    // Deep where extended precision does not resolve the pixels, or a double misses the centre.
    EXPECT_FALSE(NeedsDeep({"-0.5", "0", "2"}, 480));
    EXPECT_TRUE(NeedsDeep({"-0.5", "0", "1e-17"}, 480));
    EXPECT_TRUE(NeedsDeep({"0.1", "0", "1e-15"}, 480));
    EXPECT_FALSE(NeedsDeep({"0.1", "0", "1e-12"}, 480));
    EXPECT_FALSE(NeedsDeep({"1.0000000000000000000000000000001", "0", "1e-10"}, 480));
    EXPECT_TRUE(NeedsDeep({"0", "1", "1e-400"}, 480));
    EXPECT_FALSE(quob::common::BeyondExtended(quob::common::ViewOf(0.1L, -1e-300L, 3e-4000L)));
    EXPECT_TRUE(quob::common::BeyondExtended({"0.1000000000000000000001", "0", "1"}));
}
