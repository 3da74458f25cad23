// The saved positions with their file, and the exact position dialog driven through Qt's events.
#include <QDir>
#include <QFileInfo>
#include <memory>

#include "dialogs_testing.h"
#include "exactp.h"

namespace {

constexpr int Record = 287;

QByteArray Bytes(long double value) {
    TExtended bytes;
    StoreExtended(bytes, value);
    return QByteArray(reinterpret_cast<const char *>(bytes), 10);
}

QByteArray MakeRecord(const QByteArray &values, const QByteArray &comment) {
    return (values + comment).leftJustified(Record, '\0', true);
}

QByteArray MakeRecord(long double re, long double im, long double scale,
                      const QByteArray &comment) {
    return MakeRecord(Bytes(re) + Bytes(im) + Bytes(scale), comment);
}

QByteArray Records(int n) {
    QByteArray file;
    for (int i = 0; i < n; ++i) file += MakeRecord(i, 0, 1, "p" + QByteArray::number(i));
    return file;
}

class HotListTest : public DialogTest {
  protected:
    std::unique_ptr<THotList> Open() { return std::make_unique<THotList>("hotspots.dat", &box); }
    QListWidget box;
};

TEST_F(HotListTest, ExtendedValuesGoThroughTheFileBitForBit) {
    {
        auto list = Open();
        list->AddEntry("Home", -0.5L, 0, 2);
        list->AddEntry("", 0.1L, -0.3L, std::numeric_limits<long double>::denorm_min());
        EXPECT_EQ(Lines(&box), QStringList({"Home", ""}));
    }
    const QByteArray file = ReadFile("hotspots.dat");
    ASSERT_EQ(file.size(), 2 * Record);
    EXPECT_EQ(file.left(35), QByteArray("\0\0\0\0\0\0\0\x80\xfe\xbf"  // -0.5
                                        "\0\0\0\0\0\0\0\0\0\0"        // 0
                                        "\0\0\0\0\0\0\0\x80\x00\x40"  // 2
                                        "Home\0",
                                        35));
    // Encodings that no arithmetic produces are kept as they were read, too.
    const QByteArray odd = QByteArray("\x01\x02\x03\x04\x05\x06\x07\xC0\xFF\x7F", 10) +  // NaN
                           QByteArray("\0\0\0\0\0\0\0\x80\0\0", 10) +       // pseudo-denormal
                           QByteArray("\x11\0\0\0\0\0\0\x40\x01\x40", 10);  // unnormal
    WriteFile("hotspots.dat", file + MakeRecord(odd, "odd"));
    auto list = Open();
    ClickLine(&box, 1);
    long double re, im, scale;
    ASSERT_TRUE(list->GetSelected(re, im, scale));
    EXPECT_EQ(Bytes(re) + Bytes(im) + Bytes(scale), file.mid(Record, 30));
    list.reset();
    EXPECT_EQ(ReadFile("hotspots.dat"), file + MakeRecord(odd, "odd"));
}

struct FileCase {
    const char *name;
    QByteArray file;
    QStringList lines;
    QByteArray saved;
};

class HotListFile : public HotListTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(HotListFile, ReadsWhatItCanAndWritesBackWholeRecords) {
    WriteFile("hotspots.dat", GetParam().file);
    Open();
    EXPECT_EQ(Lines(&box), GetParam().lines);
    EXPECT_EQ(ReadFile("hotspots.dat"), GetParam().saved);
}

INSTANTIATE_TEST_SUITE_P(Files, HotListFile,
                         ::testing::Values(FileCase{"TrailingPartialRecord",
                                                    Records(2) + QByteArray(286, 'q'),
                                                    {"p0", "p1"},
                                                    Records(2)},
                                           FileCase{"BytesAfterTheNul",
                                                    MakeRecord(0, 0, 1, QByteArray("ab\0zz", 5)),
                                                    {"ab"},
                                                    MakeRecord(0, 0, 1, "ab")},
                                           FileCase{"NoNulInTheComment",
                                                    MakeRecord(0, 0, 1, QByteArray(257, 'n')),
                                                    {QString(256, 'n')},
                                                    MakeRecord(0, 0, 1, QByteArray(256, 'n'))},
                                           FileCase{"GarbageComment",
                                                    MakeRecord(0, 0, 1, "\xC0\xFF"),
                                                    {QString(2, QChar(0xFFFD))},
                                                    MakeRecord(0, 0, 1, "\xC0\xFF")}),
                         [](const auto &info) { return info.param.name; });

TEST_F(HotListTest, CapacityIs1025AndLongCommentsAreCut) {
    WriteFile("hotspots.dat", Records(1030));
    auto list = Open();
    list->AddEntry("refused", 0, 0, 1);
    EXPECT_EQ(list->Count(), 1025);
    ClickLine(&box, 0);
    list->DeleteSelected();
    list->AddEntry(QByteArray(255, 'c') + "\xC3\xA9", 0, 0, 1);  // 257 bytes
    EXPECT_EQ(box.item(1024)->text(), QString(255, 'c'));
    list.reset();
    EXPECT_EQ(ReadFile("hotspots.dat"),
              Records(1025).mid(Record) + MakeRecord(0, 0, 1, QByteArray(255, 'c')));
}

TEST_F(HotListTest, AFileThatCannotBeCreatedIsSkippedSilently) {
    ASSERT_TRUE(QDir().mkdir("hotspots.dat"));
    Open()->AddEntry("lost", 0, 0, 1);
    EXPECT_TRUE(QFileInfo("hotspots.dat").isDir());
}

TEST(FactorConversion, FollowsTheHomeScaleWithOneForNonPositiveValues) {
    EXPECT_EQ(FactorToScale(3), 2.0L / 3);  // in extended precision
    EXPECT_EQ(ScaleToFactor(0.5L), 4);
    for (const long double bad : {0.0L, -4.0L, std::numeric_limits<long double>::quiet_NaN()}) {
        EXPECT_EQ(FactorToScale(bad), 1);
        EXPECT_EQ(ScaleToFactor(bad), 1);
    }
}

class ExactPositionTest : public DialogTest {
  protected:
    void TearDown() override {
        dialog.reset();
        DialogTest::TearDown();
    }
    void Show() {
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }
    std::unique_ptr<TExactPosition> dialog = std::make_unique<TExactPosition>();
};

struct ViewCase {
    const char *name;
    double re, scale;               // the view in force when the dialog is shown
    const char *x, *y, *mul;        // edits replaced when not null
    const char *shownX, *shownMul;  // what the dialog showed
    double newRe, newIm, newScale;  // the view after OK
};

class ExactPositionView : public ExactPositionTest,
                          public ::testing::WithParamInterface<ViewCase> {};

TEST_P(ExactPositionView, ShowsTheViewAndOKReadsTheEdits) {
    const ViewCase &c = GetParam();
    CurrentParams.CenterRe = c.re;
    CurrentParams.Scale = c.scale;
    Show();
    EXPECT_EQ(dialog->X->text(), c.shownX);
    EXPECT_EQ(dialog->Y->text(), "0.000000000000000");
    EXPECT_EQ(dialog->Mul->text(), c.shownMul);
    if (c.x) Type(dialog->X, c.x);
    if (c.y) Type(dialog->Y, c.y);
    if (c.mul) Type(dialog->Mul, c.mul);
    Click(dialog->OK);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(+CurrentParams.CenterRe, c.newRe);
    EXPECT_EQ(+CurrentParams.CenterIm, c.newIm);
    EXPECT_EQ(+CurrentParams.Scale, c.newScale);
    ASSERT_EQ(LibraryCalls.size(), 3u);
    EXPECT_EQ(LibraryCalls[0].Code, QUOB_MSG_STOP);
    EXPECT_EQ(LibraryCalls[1].Changes, TChanges({0, 0, 0, 0, 0, 0, 0, 1, 1, 1}));
    EXPECT_EQ(+LibraryCalls[1].Params.Scale, c.newScale);
    EXPECT_EQ(LibraryCalls[2].Code, RedrawMessage);
    EXPECT_EQ(History->Count, 1);  // a jump: the history stays as it is
    EXPECT_FALSE(History->Entries[1].Valid);
    EXPECT_TRUE(RecordedBoxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Views, ExactPositionView,
    ::testing::Values(
        ViewCase{"HomeUnedited", -0.5, 2, {}, {}, {}, "-0.500000000000000", "1.00", -0.5, 0, 2},
        ViewCase{"ZoomedIn", -0.5, 1, {}, {}, {}, "-0.500000000000000", "2.00", -0.5, 0, 1},
        // The view as displayed: 15 decimals, the factor with 2 (shown as 0.00: scale 1).
        ViewCase{"EightTimesOut",
                 0.1234567890123456789,
                 512,
                 {},
                 {},
                 {},
                 "0.123456789012346",
                 "0.00",
                 0.123456789012346,
                 0,
                 1},
        ViewCase{"NotAMultipleOfAHundredth",
                 0,
                 2.0 / 3,
                 {},
                 {},
                 {},
                 "0.000000000000000",
                 "3.00",
                 0,
                 0,
                 double(2.0L / 3)},
        ViewCase{"Typed", 0, 2, "0.25", "-1e-3", "8", "0.000000000000000", "1.00", 0.25, -0.001,
                 0.25},
        ViewCase{"EmptyEdits", 5, 2, "", "", "", "5.000000000000000", "1.00", 0, 0, 1},
        ViewCase{"NotNumbers", 0, 2, "x1", "1.5.5", "-4", "0.000000000000000", "1.00", 0, 0, 1}),
    [](const auto &info) { return info.param.name; });

TEST_F(ExactPositionTest, CancelKeepsTheViewAndWritesTheList) {
    Show();
    Type(dialog->X, "5");
    Type(dialog->Name, "kept");
    Click(dialog->Add);
    Click(dialog->Cancel);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(+CurrentParams.CenterRe, +StartParams.CenterRe);
    EXPECT_EQ(ReadFile("hotspots.dat"), MakeRecord(5, 0, 2, "kept"));
    Show();
    EXPECT_EQ(dialog->X->text(), "-0.500000000000000");  // refreshed at every showing
    EXPECT_EQ(dialog->Name->text(), "kept");
    Click(dialog->Delete);         // no selection
    EXPECT_TRUE(dialog->close());  // the close box
    EXPECT_EQ(ReadFile("hotspots.dat"), MakeRecord(5, 0, 2, "kept"));
    EXPECT_TRUE(LibraryCalls.empty());
}

TEST_F(ExactPositionTest, LoadFillsTheEditsFromTheSelectedEntry) {
    WriteFile("hotspots.dat", MakeRecord(0.5L, 0.25L, 0, "no scale") + MakeRecord(1, 2, 0.5L, ""));
    Show();
    EXPECT_EQ(Lines(dialog->NameList), QStringList({"no scale", ""}));
    Click(dialog->Load);  // no selection
    EXPECT_EQ(dialog->X->text(), "-0.500000000000000");
    ClickLine(dialog->NameList, 0);
    Click(dialog->Load);
    EXPECT_EQ(dialog->X->text(), "0.500000000000000");
    EXPECT_EQ(dialog->Y->text(), "0.250000000000000");
    EXPECT_EQ(dialog->Mul->text(), "1.00");  // a scale of 0 loads as the factor 1
    EXPECT_TRUE(LibraryCalls.empty());
}

TEST_F(ExactPositionTest, DoubleClickJumpsToTheLineOrToTheEdits) {
    WriteFile("hotspots.dat", MakeRecord(0, 0, 2, "home") + MakeRecord(0.75L, -0.5L, 0.5L, "x4"));
    Show();
    DoubleClickLine(dialog->NameList, 1);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(+CurrentParams.CenterRe, 0.75);
    EXPECT_EQ(+CurrentParams.CenterIm, -0.5);
    EXPECT_EQ(+CurrentParams.Scale, 0.5);
    Show();
    Type(dialog->Mul, "16");
    DoubleClickLine(dialog->NameList, 4);  // below the lines
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(+CurrentParams.Scale, 0.125);
    EXPECT_EQ(ReadFile("hotspots.dat").size(), 2 * Record);
}

// A position saved, the program started again in the same folder: the same 80-bit values.
TEST_F(ExactPositionTest, PositionRoundTripAcrossARestart) {
    Show();
    Type(dialog->X, "0.1");
    Type(dialog->Y, "-0.3333333333333333333");
    Type(dialog->Mul, "3");
    dialog->Name->setText(QString::fromUtf8("Spot \xC3\xA9"));
    Click(dialog->Add);
    EXPECT_EQ(+CurrentParams.CenterRe, +StartParams.CenterRe);  // Add does not move the view
    Click(dialog->Cancel);
    const QByteArray saved = ReadFile("hotspots.dat");
    EXPECT_EQ(saved, MakeRecord(0.1L, -0.3333333333333333333L, 2.0L / 3, "Spot \xC3\xA9"));

    dialog = std::make_unique<TExactPosition>();  // a new start
    Show();
    EXPECT_EQ(Lines(dialog->NameList), QStringList({QString::fromUtf8("Spot \xC3\xA9")}));
    ClickLine(dialog->NameList, 0);
    Click(dialog->Load);
    EXPECT_EQ(dialog->X->text(), "0.100000000000000");
    EXPECT_EQ(dialog->Y->text(), "-0.333333333333333");
    EXPECT_EQ(dialog->Mul->text(), "3.00");
    Click(dialog->OK);
    EXPECT_EQ(+CurrentParams.CenterRe, 0.1);
    EXPECT_EQ(ReadFile("hotspots.dat"), saved);
}

}  // namespace
