// The stored lists of formulas (TExprList) and positions (THotList) with their files, the
// positions' digits in the companion file beside theirs.
#include <QDir>
#include <QFileInfo>

#include "dlgcommon.h"
#include "exactp.h"
#include "viewer_testing.h"

namespace {

using quob::common::LoadExtended;
using quob::common::PositionDigits;

bool IsHot(const char *file) { return QByteArray(file) == "hotspots.dat"; }

// n records for the list kept in file, and the line of record i.
QByteArray Records(const char *file, int n, int from = 0) {
    QByteArray bytes;
    for (int i = from; i < n; ++i)
        bytes += IsHot(file) ? HotRecord(i, 0, 1, "p" + QByteArray::number(i))
                             : ExprRecord("e" + QByteArray::number(i), "c");
    return bytes;
}
QString Line(const char *file, int i) {
    return IsHot(file) ? QString("p%1").arg(i) : QString("c (e%1)").arg(i);
}

// A list on its file, shown in a list box as its dialog shows it.
class ListTest : public ViewerTest {
  protected:
    void TearDown() override {
        Close();  // writes the file, still in the test's folder
        ViewerTest::TearDown();
    }
    void Open(const char *file) {
        Close();
        const TReport report = [this](const QString &message) {
            Viewer().ShowGeneralError(message);
        };
        if (IsHot(file))
            hot = std::make_unique<THotList>(file, report);
        else
            expr = std::make_unique<TExprList>(file, report);
        Show();
    }
    void Close() {
        hot.reset();
        expr.reset();
    }
    void Show() {
        if (hot) ShowEntries(&box, *hot);
        if (expr) ShowEntries(&box, *expr);
    }
    void Add(const QByteArray &text) {
        if (hot) AddEntry(&box, hot.get(), THotEntry::Make(text, 0, 0, 1));
        if (expr) AddEntry(&box, expr.get(), TExprEntry::Make(text, text));
    }
    void Import(const char *other) {
        if (hot) hot->Import(other);
        if (expr) expr->Import(other);
        Show();
    }
    void DeleteSelected() {
        if (hot) ::DeleteSelected(&box, hot.get());
        if (expr) ::DeleteSelected(&box, expr.get());
    }
    int Count() const { return hot ? hot->Count() : expr->Count(); }

    QListWidget box;
    std::unique_ptr<THotList> hot;
    std::unique_ptr<TExprList> expr;
};

struct FileCase {
    const char *name, *file;
    QByteArray bytes;
    QStringList lines;
    QByteArray saved;  // the file after the list has been written back
};

class ListFile : public ListTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(ListFile, ReadsWhatItCanAndWritesBackWholeRecords) {
    WriteFile(GetParam().file, GetParam().bytes);
    Open(GetParam().file);
    Close();
    EXPECT_EQ(Lines(&box), GetParam().lines);
    EXPECT_EQ(ReadFile(GetParam().file), GetParam().saved);
}

const char *const F = "fractals.dat", *const H = "hotspots.dat";
const QString Bad(1, QChar(0xFFFD));

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, ListFile, ::testing::Values(
    FileCase{"Empty", F, "", {}, ""},
    FileCase{"BytesAfterTheNul", F, ExprRecord("short", "note", 'x'), {"note (short)"},
             ExprRecord("short", "note")},
    FileCase{"NoNulInAField", F, QByteArray(2050, 'e'), {QString(1024, 'e')},  // comment only
             ExprRecord(QByteArray(1024, 'e'), QByteArray(1024, 'e'))},
    FileCase{"GarbageBytes", F, ExprRecord("\xFF\xFE", "\x80"), {Bad + " (" + Bad + Bad + ")"},
             ExprRecord("\xFF\xFE", "\x80")},
    FileCase{"HotBytesAfterTheNul", H, HotRecord(0, 0, 1, QByteArray("ab\0zz", 5)), {"ab"},
             HotRecord(0, 0, 1, "ab")},
    FileCase{"HotNoNulInTheComment", H, HotRecord(0, 0, 1, QByteArray(257, 'n')),
             {QString(256, 'n')}, HotRecord(0, 0, 1, QByteArray(256, 'n'))},
    FileCase{"HotGarbageComment", H, HotRecord(0, 0, 1, "\xC0\xFF"), {Bad + Bad},
             HotRecord(0, 0, 1, "\xC0\xFF")}),
    [](const auto &info) { return info.param.name; });
// clang-format on

TEST_F(ListTest, RecordsBeyondTheCapacityGoBackUnchanged) {
    for (const auto &[file, capacity] : {std::pair{F, 4097}, std::pair{H, 1025}}) {
        SCOPED_TRACE(file);
        const QByteArray bytes = Records(file, capacity + 5);
        WriteFile(file, bytes);
        Open(file);
        Add("one too many");
        EXPECT_EQ(Count(), capacity);
        ASSERT_EQ(box.count(), capacity);
        EXPECT_EQ(box.item(capacity - 1)->text(), Line(file, capacity - 1));
        Close();
        EXPECT_EQ(ReadFile(file), bytes);
    }
}

// Import: the list's file holds `listed`, the other file `other` ("" when it is missing, Folder
// when it is a folder); the
// list then shows `count` lines, `last` the bottom one, and the report says `message`, where %1
// stands for the other file's absolute path.
const QByteArray Folder = "(folder)";
struct ImportCase {
    const char *name, *file;
    QByteArray listed, other;
    int count;
    QString last, message;
};

class ListImport : public ListTest, public ::testing::WithParamInterface<ImportCase> {};

TEST_P(ListImport, AppendsTheEntriesNotListedYet) {
    const ImportCase &c = GetParam();
    WriteFile(c.file, c.listed);
    if (c.other == Folder)
        ASSERT_TRUE(QDir().mkdir("other.dat"));
    else if (!c.other.isEmpty())
        WriteFile("other.dat", c.other);
    Open(c.file);
    Import("other.dat");
    EXPECT_EQ(Count(), c.count);
    ASSERT_EQ(box.count(), c.count);
    if (c.count) {
        EXPECT_EQ(box.item(c.count - 1)->text(), c.last);
    }
    const QString path = QFileInfo("other.dat").absoluteFilePath();
    ASSERT_EQ(RecordedBoxes.size(), c.message.isEmpty() ? 0u : 1u);
    for (const TRecordedBox &box : RecordedBoxes) EXPECT_EQ(box.Text, c.message.arg(path));
    Close();
    EXPECT_EQ(ReadFile(c.file).left(c.listed.size()), c.listed);  // appended after the list's own
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Files, ListImport, ::testing::Values(
    ImportCase{"SkipsExactDuplicatesAndPartialRecords", F, Records(F, 2),
               ExprRecord("e1", "c", 'x') + Records(F, 4) + ExprRecord("e3", "c") + "tail", 4,
               "c (e3)", ""},
    ImportCase{"SameExpressionOtherCommentIsNew", F, Records(F, 1), ExprRecord("e0", "C"), 2,
               "C (e0)", ""},
    ImportCase{"FullList", F, Records(F, 4096), Records(F, 4099, 4094), 4097, "c (e4096)",
               "2 entries of \"%1\" did not fit: the list holds at most 4097 entries."},
    ImportCase{"MissingFile", F, Records(F, 1), "", 1, "c (e0)",
               "Cannot read \"%1\". No such file or directory. The list is unchanged."},
    ImportCase{"HotSkipsExactDuplicates", H, Records(H, 2), Records(H, 3) + HotRecord(1, 0, 2, "p1"),
               4, "p1", ""},
    ImportCase{"HotFullList", H, Records(H, 1025), Records(H, 1026, 1024), 1025, "p1024",
               "1 entry of \"%1\" did not fit: the list holds at most 1025 entries."},
    ImportCase{"Folder", H, "", Folder, 0, "",
               "Cannot read \"%1\". Is a directory. The list is unchanged."}),
    [](const auto &info) { return info.param.name; });
// clang-format on

class ListWriteFailure : public ListTest,
                         public ::testing::WithParamInterface<TWriteFailureCase> {};

TEST_P(ListWriteFailure, LeavesTheOldFileAsItWasAndSaysWhy) {
    TFailingFolder folder(GetParam().how);
    if (!folder.Unavailable().empty()) GTEST_SKIP() << folder.Unavailable();
    for (const char *file : {F, H}) {
        SCOPED_TRACE(file);
        WriteFile(file, Records(file, 2));
        Open(file);
        Add("lost");
        RecordedBoxes.clear();
        folder.Arm();
        Close();
        folder.Disarm();
        EXPECT_EQ(ReadFile(file), Records(file, 2));
        EXPECT_TRUE(QDir().entryList(QDir::Files | QDir::Hidden).filter(".partial-").isEmpty());
        ExpectOneBox("Spiralis 3.0",
                     QString("Cannot save \"%1\". %2. The file keeps its previous contents.")
                         .arg(QFileInfo(file).absoluteFilePath(), GetParam().reason));
    }
}

INSTANTIATE_TEST_SUITE_P(Failures, ListWriteFailure, ::testing::ValuesIn(WriteFailures),
                         [](const auto &info) { return info.param.name; });

TEST_F(ListTest, FormulaTextsAndLinesAreCutOnACharacterBoundary) {
    Open(F);
    const QByteArray euro = "\xE2\x82\xAC";
    AddEntry(&box, expr.get(),
             TExprEntry::Make(QByteArray(2000, 'e'), QByteArray(1022, 'c') + euro));
    ClickLine(&box, 0);
    const TExprEntry *selected = GetSelected(&box, expr.get());
    ASSERT_TRUE(selected);
    EXPECT_EQ(QByteArray(selected->Expression), QByteArray(1024, 'e'));
    EXPECT_EQ(QByteArray(selected->Comment), QByteArray(1022, 'c'));
    // A line would hold the euro sign in bytes 1023 to 1025: it stops before it.
    AddEntry(&box, expr.get(), TExprEntry::Make(QByteArray(21, 'e') + euro, QByteArray(1000, 'c')));
    EXPECT_EQ(box.item(1)->text().toUtf8(), QByteArray(1000, 'c') + " (" + QByteArray(21, 'e'));
}

TEST_F(ListTest, FormulasRoundTripAndDeleteRemovesTheSelectedLineOnly) {
    Open(F);
    EXPECT_EQ(ReadFile(F), "(missing)");
    AddEntry(&box, expr.get(), TExprEntry::Make("x y = x ret y ret", "Identity"));
    for (const char *text : {"", "", "c"}) Add(text);  // duplicates are kept
    DeleteSelected();                                  // no selection
    EXPECT_EQ(Count(), 4);
    ClickLine(&box, 3);  // the bottom line
    DeleteSelected();
    Close();
    const QStringList lines = {"Identity (x y = x ret y ret)", " ()", " ()"};
    EXPECT_EQ(ReadFile(F), ExprRecord("x y = x ret y ret", "Identity") + ExprRecord("", "") +
                               ExprRecord("", ""));
    Open(F);
    EXPECT_EQ(Lines(&box), lines);
    ClickLine(&box, 0);
    DeleteSelected();
    EXPECT_EQ(Lines(&box), lines.mid(1));
    EXPECT_TRUE(box.selectedItems().isEmpty());
    Close();
    EXPECT_EQ(ReadFile(F), ExprRecord("", "") + ExprRecord("", ""));
}

TEST_F(ListTest, PositionsGoThroughTheFileBitForBit) {
    Open(H);
    for (const THotEntry &entry :
         {THotEntry::Make("Home", -0.5L, 0, 2),
          THotEntry::Make("", 0.1L, -0.3L, std::numeric_limits<long double>::denorm_min()),
          THotEntry::Make(QByteArray(255, 'c') + "\xC3\xA9", 0, 0, 1)})  // 257 bytes: cut
        AddEntry(&box, hot.get(), entry);
    EXPECT_EQ(Lines(&box), QStringList({"Home", "", QString(255, 'c')}));
    Close();
    const QByteArray file = ReadFile(H);
    ASSERT_EQ(file.size(), 3 * 287);
    EXPECT_EQ(file.left(35), QByteArray("\0\0\0\0\0\0\0\x80\xfe\xbf"  // -0.5
                                        "\0\0\0\0\0\0\0\0\0\0"        // 0
                                        "\0\0\0\0\0\0\0\x80\x00\x40"  // 2
                                        "Home\0",
                                        35));
    EXPECT_EQ(file.mid(287),
              HotRecord(0.1L, -0.3L, std::numeric_limits<long double>::denorm_min(), "") +
                  HotRecord(0, 0, 1, QByteArray(255, 'c')));
    // Encodings that no arithmetic produces are kept as they were read, too.
    const QByteArray odd = (QByteArray("\x01\x02\x03\x04\x05\x06\x07\xC0\xFF\x7F", 10) +  // NaN
                            QByteArray("\0\0\0\0\0\0\0\x80\0\0", 10) +  // pseudo-denormal
                            QByteArray("\x11\0\0\0\0\0\0\x40\x01\x40", 10) + "odd")  // unnormal
                               .leftJustified(287, 0);
    WriteFile(H, file + odd);
    Open(H);
    ClickLine(&box, 3);
    const THotEntry *selected = GetSelected(&box, hot.get());
    ASSERT_TRUE(selected);
    EXPECT_EQ(Extended(LoadExtended(selected->Re)) + Extended(LoadExtended(selected->Im)) +
                  Extended(LoadExtended(selected->Scale)),
              odd.left(30));
    Close();
    EXPECT_EQ(ReadFile(H), file + odd);
}

// ---- Positions with digits --------------------------------------------------------------------

const char *const D = "hotspots.digits";

// Views deeper than extended reals hold, and records of their nearest values.
const PositionDigits DeepA = {"-0.74364388703715870475219150611477665",
                              "0.13182590420531197049313205", "1.5e-300"};
const PositionDigits DeepB = {"-1.74904462363642125391124782", "1.23456789012345678901234e-30",
                              "4E-4000"};
THotEntry Deep(const char *comment) {
    return THotEntry::Make(comment, -0.743643887037158704752L, 0.131825904205311970493L, 1.5e-300L);
}
QByteArray Bytes(const THotEntry &entry) {
    return QByteArray(reinterpret_cast<const char *>(&entry), sizeof entry);
}
// A line of the companion file, with its line end.
QByteArray DigitsLine(const THotEntry &entry, uint32_t ordinal, const PositionDigits &digits) {
    return QByteArray::fromStdString(
               quob::common::FormatDigitsLine({Bytes(entry).toStdString(), ordinal, digits})) +
           '\n';
}
const QByteArray Header = QByteArray(quob::common::DigitsHeader.data()) + '\n';

TEST_F(ListTest, DeepPositionsKeepEveryDigitAndNoneGoToAnotherPosition) {
    Open(H);
    Close();
    EXPECT_EQ(ReadFile(D), "(missing)");  // nothing to keep: no file
    Open(H);
    ASSERT_TRUE(hot->Add(Deep("a"), DeepA));
    Add("plain");
    ASSERT_TRUE(hot->Add(Deep("b"), DeepB));
    ASSERT_TRUE(hot->Add(Deep("c"), {"1", "0x2", ""}));  // a text that is no decimal: not kept
    Close();
    const QByteArray records = ReadFile(H);
    EXPECT_EQ(records, Bytes(Deep("a")) + HotRecord(0, 0, 1, "plain") + Bytes(Deep("b")) +
                           Bytes(Deep("c")));  // as without digits
    EXPECT_EQ(ReadFile(D),
              Header + DigitsLine(Deep("a"), 0, DeepA) + DigitsLine(Deep("b"), 0, DeepB));
    Open(H);
    EXPECT_EQ(hot->Digits(0), DeepA);
    EXPECT_EQ(hot->Digits(1), PositionDigits());
    EXPECT_EQ(hot->Digits(2), DeepB);
    EXPECT_EQ(hot->Digits(3), PositionDigits());
    EXPECT_EQ(hot->Unattached(), 0);
    Close();

    // A program that knows only the records deletes the first: its digits stay unattached.
    WriteFile(H, records.mid(287));
    Open(H);
    EXPECT_EQ(Lines(&box), QStringList({"plain", "b", "c"}));
    EXPECT_EQ(hot->Digits(0), PositionDigits());
    EXPECT_EQ(hot->Digits(1), DeepB);
    EXPECT_EQ(hot->Unattached(), 1);
    ClickLine(&box, 0);
    DeleteSelected();  // the digits move down with their entries
    EXPECT_EQ(hot->Digits(0), DeepB);
    Close();
    EXPECT_EQ(ReadFile(D),
              Header + DigitsLine(Deep("b"), 0, DeepB) + DigitsLine(Deep("a"), 0, DeepA));
    Open(H);
    ClickLine(&box, 0);
    DeleteSelected();
    EXPECT_EQ(hot->Unattached(), 1);
    Close();
    EXPECT_EQ(ReadFile(D), Header + DigitsLine(Deep("a"), 0, DeepA));

    // The record back as it was: its digits attach again. Deleted, the file keeps its header.
    WriteFile(H, records.left(287));
    Open(H);
    EXPECT_EQ(hot->Digits(0), DeepA);
    ClickLine(&box, 0);
    DeleteSelected();
    Close();
    EXPECT_EQ(ReadFile(D), Header);
    EXPECT_TRUE(RecordedBoxes.empty());
}

TEST_F(ListTest, EqualRecordsKeepTheirOwnDigitsAndLinesThatDoNotReadStay) {
    const QByteArray malformed = "not a line\r\n";
    WriteFile(H, Bytes(Deep("same")) + Bytes(Deep("same")) + Bytes(Deep("other")));
    WriteFile(D, Header + DigitsLine(Deep("same"), 1, DeepB) + malformed +
                     DigitsLine(Deep("same"), 0, DeepA) + DigitsLine(Deep("same"), 2, DeepA));
    Open(H);
    EXPECT_EQ(hot->Digits(0), DeepA);
    EXPECT_EQ(hot->Digits(1), DeepB);
    EXPECT_EQ(hot->Digits(2), PositionDigits());
    EXPECT_EQ(hot->Unattached(), 2);
    Close();
    EXPECT_EQ(ReadFile(D), Header + DigitsLine(Deep("same"), 0, DeepA) +
                               DigitsLine(Deep("same"), 1, DeepB) + malformed +
                               DigitsLine(Deep("same"), 2, DeepA));
}

TEST_F(ListTest, ImportBringsTheDigitsOfTheEntriesItAdds) {
    WriteFile(H, Bytes(Deep("listed")));
    WriteFile("other.dat", Bytes(Deep("listed")) + Bytes(Deep("new")) + Bytes(Deep("new")) +
                               HotRecord(0, 0, 1, "plain"));
    WriteFile("other.digits", Header + DigitsLine(Deep("listed"), 0, DeepB) +
                                  DigitsLine(Deep("new"), 1, DeepA) +
                                  DigitsLine(Deep("new"), 0, DeepB));
    Open(H);
    Import("other.dat");
    EXPECT_EQ(Lines(&box), QStringList({"listed", "new", "plain"}));
    EXPECT_EQ(hot->Digits(0), PositionDigits());  // listed already: as it was
    EXPECT_EQ(hot->Digits(1), DeepB);             // the first of its bytes, as imported
    EXPECT_EQ(hot->Digits(2), PositionDigits());
    EXPECT_EQ(hot->Unattached(), 0);
    EXPECT_TRUE(RecordedBoxes.empty());
}

TEST_F(ListTest, ACompanionThatCannotBeReadIsLeftAsItIs) {
    ASSERT_TRUE(QDir().mkdir(D));
    Open(H);
    ExpectOneBox("Spiralis 3.0",
                 QString("Cannot read \"%1\". Is a directory. The digits of the saved positions in "
                         "it are not used, and the file is left as it is.")
                     .arg(QFileInfo(D).absoluteFilePath()));
    RecordedBoxes.clear();
    ASSERT_TRUE(hot->Add(Deep("a"), DeepA));
    Close();
    EXPECT_TRUE(RecordedBoxes.empty());
    EXPECT_EQ(ReadFile(H), Bytes(Deep("a")));
    EXPECT_TRUE(QFileInfo(D).isDir());
}

class DigitsWriteFailure : public ListTest,
                           public ::testing::WithParamInterface<TWriteFailureCase> {};

TEST_P(DigitsWriteFailure, LeavesBothOldFilesAsTheyWereAndSaysWhy) {
    TFailingFolder folder(GetParam().how);
    if (!folder.Unavailable().empty()) GTEST_SKIP() << folder.Unavailable();
    const QByteArray digits = Header + DigitsLine(Deep("a"), 0, DeepA);
    WriteFile(H, Bytes(Deep("a")));
    WriteFile(D, digits);
    Open(H);
    ASSERT_TRUE(hot->Add(Deep("b"), DeepB));
    folder.Arm();
    Close();
    folder.Disarm();
    EXPECT_EQ(ReadFile(H), Bytes(Deep("a")));
    EXPECT_EQ(ReadFile(D), digits);
    EXPECT_TRUE(QDir().entryList(QDir::Files | QDir::Hidden).filter(".partial-").isEmpty());
    ASSERT_EQ(RecordedBoxes.size(), 2u);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(RecordedBoxes[i].Text,
                  QString("Cannot save \"%1\". %2. The file keeps its previous contents.")
                      .arg(QFileInfo(i ? D : H).absoluteFilePath(), GetParam().reason));
}

INSTANTIATE_TEST_SUITE_P(Failures, DigitsWriteFailure, ::testing::ValuesIn(WriteFailures),
                         [](const auto &info) { return info.param.name; });

TEST(FactorConversion, FollowsTheHomeScaleWithOneForNonPositiveValues) {
    EXPECT_EQ(FactorToScale(3), 2.0L / 3);  // in extended precision
    EXPECT_EQ(ScaleToFactor(0.5L), 4);
    for (const long double bad : {0.0L, -4.0L, std::numeric_limits<long double>::quiet_NaN()}) {
        EXPECT_EQ(FactorToScale(bad), 1);
        EXPECT_EQ(ScaleToFactor(bad), 1);
    }
}

}  // namespace
