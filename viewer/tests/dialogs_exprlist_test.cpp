// The formula libraries and their files.
#include <sys/resource.h>

#include <QDir>
#include <QFileInfo>
#include <memory>

#include "dialogs_testing.h"
#include "fdef.h"

namespace {

constexpr int Record = 2050;

QByteArray MakeRecord(const QByteArray &expression, const QByteArray &comment, char filler = '\0') {
    QByteArray record(Record, filler);
    record.replace(0, expression.size() + 1, expression + '\0');
    record.replace(1025, comment.size() + 1, comment + '\0');
    return record.left(Record);
}

QByteArray Records(int n) {
    QByteArray file;
    for (int i = 0; i < n; ++i) file += MakeRecord("e" + QByteArray::number(i), "c");
    return file;
}

class ExprListTest : public DialogTest {
  protected:
    std::unique_ptr<TExprList> Open() { return std::make_unique<TExprList>("fractals.dat", &box); }
    QListWidget box;
};

TEST_F(ExprListTest, RoundTripThroughTheFile) {
    const QStringList lines = {"Identity (x y = x ret y ret)", " (z = z ret)", " ()", " ()"};
    {
        auto list = Open();
        EXPECT_EQ(ReadFile("fractals.dat"), "(missing)");
        list->AddEntry("x y = x ret y ret", "Identity");
        list->AddEntry("z = z ret", "");
        list->AddEntry("", "");
        list->AddEntry("", "");  // duplicates are kept
        EXPECT_EQ(Lines(&box), lines);
    }
    const QByteArray file = ReadFile("fractals.dat");
    ASSERT_EQ(file.size(), 4 * Record);
    EXPECT_EQ(file.left(Record), MakeRecord("x y = x ret y ret", "Identity"));
    Open();
    EXPECT_EQ(Lines(&box), lines);
}

struct FileCase {
    const char *name;
    QByteArray file;
    QStringList lines;
    QByteArray saved;  // the file after the list has been written back
};

class ExprListFile : public ExprListTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(ExprListFile, ReadsWhatItCanAndWritesBackWholeRecords) {
    WriteFile("fractals.dat", GetParam().file);
    Open();
    EXPECT_EQ(Lines(&box), GetParam().lines);
    EXPECT_EQ(ReadFile("fractals.dat"), GetParam().saved);
}

const QString Bad(1, QChar(0xFFFD));

INSTANTIATE_TEST_SUITE_P(
    Files, ExprListFile,
    ::testing::Values(FileCase{"Empty", "", {}, ""},
                      FileCase{"TrailingPartialRecord",
                               Records(2) + QByteArray(1000, 'q'),
                               {"c (e0)", "c (e1)"},
                               Records(2)},
                      FileCase{"BytesAfterTheNul",
                               MakeRecord("short", "note", 'x'),
                               {"note (short)"},
                               MakeRecord("short", "note")},
                      FileCase{"NoNulInAField",
                               QByteArray(Record, 'e'),
                               {QString(1024, 'e')},  // the comment fills the line
                               MakeRecord(QByteArray(1024, 'e'), QByteArray(1024, 'e'))},
                      FileCase{"GarbageBytes",
                               MakeRecord("\xFF\xFE", "\x80"),
                               {Bad + " (" + Bad + Bad + ")"},
                               MakeRecord("\xFF\xFE", "\x80")}),
    [](const auto &info) { return info.param.name; });

TEST_F(ExprListTest, RecordsAndEntriesBeyondTheCapacityAreRefused) {
    WriteFile("fractals.dat", Records(4100));
    auto list = Open();
    list->AddEntry("one too many", "");
    EXPECT_EQ(list->Count(), 4097);
    ASSERT_EQ(box.count(), 4097);
    EXPECT_EQ(box.item(4096)->text(), "c (e4096)");
    list.reset();
    EXPECT_EQ(ReadFile("fractals.dat"), Records(4097));
}

TEST_F(ExprListTest, TextsAndLinesAreCutOnACharacterBoundary) {
    auto list = Open();
    const QByteArray euro = "\xE2\x82\xAC";
    list->AddEntry(QByteArray(2000, 'e'), QByteArray(1022, 'c') + euro);
    ClickLine(&box, 0);
    char expression[1025], comment[1025];
    ASSERT_TRUE(list->GetSelected(expression, comment));
    EXPECT_EQ(QByteArray(expression), QByteArray(1024, 'e'));
    EXPECT_EQ(QByteArray(comment), QByteArray(1022, 'c'));
    // A line would hold the euro sign in bytes 1023 to 1025: it stops before it.
    list->AddEntry(QByteArray(21, 'e') + euro, QByteArray(1000, 'c'));
    EXPECT_EQ(box.item(1)->text().toUtf8(), QByteArray(1000, 'c') + " (" + QByteArray(21, 'e'));
}

TEST_F(ExprListTest, DeleteRemovesTheSelectedLineOnly) {
    auto list = Open();
    for (const char *text : {"a", "b", "c"}) list->AddEntry(text, text);
    list->DeleteSelected();  // no selection
    EXPECT_EQ(list->Count(), 3);
    ClickLine(&box, 2);  // the bottom line
    list->DeleteSelected();
    ClickLine(&box, 0);
    list->DeleteSelected();
    EXPECT_EQ(Lines(&box), QStringList({"b (b)"}));
    EXPECT_TRUE(box.selectedItems().isEmpty());
    list.reset();
    EXPECT_EQ(ReadFile("fractals.dat"), MakeRecord("b", "b"));
}

TEST_F(ExprListTest, AFileThatCannotBeCreatedIsLeftAsItWas) {
    ASSERT_TRUE(QDir().mkdir("fractals.dat"));  // a directory in place of the file
    Open()->AddEntry("lost", "");
    EXPECT_TRUE(QFileInfo("fractals.dat").isDir());
    ASSERT_TRUE(QDir().rmdir("fractals.dat"));

    WriteFile("fractals.dat", Records(2));
    auto list = Open();
    list->AddEntry("lost", "");
    // No descriptor left to create the file with: that fails even for root.
    rlimit limit, none;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    none = limit;
    none.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    list.reset();
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
    EXPECT_EQ(ReadFile("fractals.dat"), Records(2));
    EXPECT_TRUE(RecordedBoxes.empty());
}

}  // namespace
