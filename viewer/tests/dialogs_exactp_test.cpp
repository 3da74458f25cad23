// The exact position dialog, driven through Qt's events; the saved positions' digits.
#include <QPushButton>
#include <utility>

#include "exactp.h"
#include "viewer_testing.h"

namespace {

class ExactPositionTest : public DialogTest<TExactPosition> {
  protected:
    void Start() override {
        dialog = std::make_unique<TExactPosition>(Viewer());
        for (auto [edit, name] : {std::pair{&X, "X"}, {&Y, "Y"}, {&Mul, "Mul"}, {&Name, "Name"}})
            *edit = Get<QLineEdit>(name);
        for (auto [button, name] : {std::pair{&OK, "OK"},
                                    {&Cancel, "Cancel"},
                                    {&Load, "Load"},
                                    {&Add, "Add"},
                                    {&Delete, "Delete"}})
            *button = Get<QPushButton>(name);
        NameList = Get<QListWidget>("NameList");
    }
    QLineEdit *X, *Y, *Mul, *Name;
    QPushButton *OK, *Cancel, *Load, *Add, *Delete;
    QListWidget *NameList;
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
    Viewer().JumpTo(c.re, 0, c.scale);
    LibraryCalls.clear();
    Show();
    EXPECT_EQ(X->text(), c.shownX);
    EXPECT_EQ(Y->text(), "0.000000000000000");
    EXPECT_EQ(Mul->text(), c.shownMul);
    if (c.x) Type(X, c.x);
    if (c.y) Type(Y, c.y);
    if (c.mul) Type(Mul, c.mul);
    Click(OK);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(View(), std::tuple(c.newRe, c.newIm, c.newScale));
    ExpectApplied({0, 0, 0, 0, 0, 0, 0, 1, 1, 1});
    EXPECT_EQ(+Updates()[0].Params.Scale, c.newScale);
    EXPECT_EQ(History()->Count, 1);  // a jump: the history stays as it is
    EXPECT_FALSE(History()->Entries[1].Valid);
    EXPECT_TRUE(RecordedBoxes.empty());
}

const char *const Zero = "0.000000000000000", *const N = nullptr;  // N: not edited

// clang-format off
INSTANTIATE_TEST_SUITE_P(Views, ExactPositionView, ::testing::Values(
    ViewCase{"HomeUnedited", -0.5, 2, N, N, N, "-0.500000000000000", "1.00", -0.5, 0, 2},
    ViewCase{"ZoomedIn", -0.5, 1, N, N, N, "-0.500000000000000", "2.00", -0.5, 0, 1},
    // The view as displayed: 15 decimals, the factor with 2 (shown as 0.00: scale 1).
    ViewCase{"EightTimesOut", 0.1234567890123456789, 512, N, N, N, "0.123456789012346", "0.00",
             0.123456789012346, 0, 1},
    ViewCase{"NotAMultipleOfAHundredth", 0, 2.0 / 3, N, N, N, Zero, "3.00", 0, 0, double(2.0L / 3)},
    ViewCase{"Typed", 0, 2, "0.25", "-1e-3", "8", Zero, "1.00", 0.25, -0.001, 0.25},
    ViewCase{"NegativeFactor", 5, 2, N, N, "-4", "5.000000000000000", "1.00", 5, 0, 1}),
    [](const auto &info) { return info.param.name; });
// clang-format on

struct RefusalCase {
    const char *name;
    const char *edit;
    const char *text;
    const char *message;
};

void PrintTo(const RefusalCase &c, std::ostream *out) { *out << c.name; }

class ExactPositionRefusal : public ExactPositionTest,
                             public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ExactPositionRefusal, NamesTheFieldAndChangesNothing) {
    const RefusalCase &c = GetParam();
    Show();
    Type(Get<QLineEdit>(c.edit), c.text);
    const auto before = View();
    for (QPushButton *button : {OK, Add}) {
        RecordedBoxes.clear();
        Click(button);
        ExpectOneBox("Spiralis 3.0", c.message);
    }
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->List()->Count(), 0);
    EXPECT_TRUE(LibraryCalls.empty());
    EXPECT_EQ(View(), before);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Edits, ExactPositionRefusal, ::testing::Values(
    RefusalCase{"EmptyX", "X", "",
                "Re(z): '' is not a valid floating point value."},
    RefusalCase{"DecimalCommaInY", "Y", "1,5",
                "Im(z): '1,5' is not a valid floating point value."},
    RefusalCase{"LettersInMul", "Mul", "abc",
                "Scale factor: 'abc' is not a valid floating point value."},
    RefusalCase{"XBeyondADouble", "X", "1e309",
                "Re(z): '1e309' is not a valid floating point value."}),
    [](const auto &info) { return info.param.name; });
// clang-format on

TEST_F(ExactPositionTest, CancelKeepsTheViewAndWritesTheList) {
    Show();
    Type(X, "5");
    Type(Name, "kept");
    Click(Add);
    Click(Cancel);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(+CurrentParams().CenterRe, +StartParams.CenterRe);
    EXPECT_EQ(ReadFile("hotspots.dat"), HotRecord(5, 0, 2, "kept"));
    Show();
    EXPECT_EQ(X->text(), "-0.500000000000000");  // refreshed at every showing
    EXPECT_EQ(Name->text(), "kept");
    Click(Load);  // no selection: nothing
    EXPECT_EQ(X->text(), "-0.500000000000000");
    Click(Delete);                 // no selection: nothing
    EXPECT_TRUE(dialog->close());  // the close box
    EXPECT_EQ(ReadFile("hotspots.dat"), HotRecord(5, 0, 2, "kept"));
    EXPECT_TRUE(LibraryCalls.empty());
}

TEST_F(ExactPositionTest, DoubleClickJumpsToTheLineOrToTheEdits) {
    WriteFile("hotspots.dat", HotRecord(0, 0, 2, "home") + HotRecord(0.75L, -0.5L, 0.5L, "x4"));
    Show();
    DoubleClickLine(NameList, 1);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(View(), std::tuple(0.75, -0.5, 0.5));
    Show();
    Type(Mul, "16");
    DoubleClickLine(NameList, 4);  // below the lines
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(+CurrentParams().Scale, 0.125);
    EXPECT_EQ(ReadFile("hotspots.dat").size(), 2 * 287);
}

// A position saved, the program started again in the same folder: the same 80-bit values.
TEST_F(ExactPositionTest, PositionRoundTripAcrossARestart) {
    WriteFile("hotspots.dat", HotRecord(0.5L, 0.25L, 0, "no scale"));
    Show();
    Type(X, "0.1");
    Type(Y, "-0.3333333333333333333");
    Type(Mul, "3");
    Name->setText(QString::fromUtf8("Spot \xC3\xA9"));
    Click(Add);
    EXPECT_EQ(+CurrentParams().CenterRe, +StartParams.CenterRe);  // Add does not move the view
    Click(Cancel);
    const QByteArray saved = ReadFile("hotspots.dat");
    EXPECT_EQ(saved, HotRecord(0.5L, 0.25L, 0, "no scale") +
                         HotRecord(0.1L, -0.3333333333333333333L, 2.0L / 3, "Spot \xC3\xA9"));

    Start();  // a new start
    Show();
    EXPECT_EQ(Lines(NameList), QStringList({"no scale", QString::fromUtf8("Spot \xC3\xA9")}));
    ClickLine(NameList, 0);
    Click(Load);
    EXPECT_EQ(Mul->text(), "1.00");  // a scale of 0 loads as the factor 1
    ClickLine(NameList, 1);
    Click(Load);
    EXPECT_EQ(X->text(), "0.100000000000000");
    EXPECT_EQ(Y->text(), "-0.333333333333333");
    EXPECT_EQ(Mul->text(), "3.00");
    EXPECT_TRUE(LibraryCalls.empty());  // loading changes no view
    Click(OK);
    EXPECT_EQ(+CurrentParams().CenterRe, 0.1);
    EXPECT_EQ(ReadFile("hotspots.dat"), saved);
}

// Centres typed with more digits than their extended values give back are kept as typed, with
// the scale's text; loaded, the edits show them again. Other texts keep no digits.
struct DigitsCase {
    const char *name;
    const char *x, *y;
    bool kept;
};

class ExactPositionDigits : public ExactPositionTest,
                            public ::testing::WithParamInterface<DigitsCase> {};

TEST_P(ExactPositionDigits, AddKeepsTheTypedTextsThatTheRecordCannotHold) {
    const DigitsCase &c = GetParam();
    const QString x = QString(c.x).trimmed(), y = QString(c.y).trimmed();
    Show();
    Type(X, c.x);
    Type(Y, c.y);
    Type(Mul, "4");
    Click(Add);
    ASSERT_EQ(dialog->List()->Count(), 1);
    using quob::common::PositionDigits;
    const PositionDigits kept = {x.toStdString(), y.toStdString(), "0.5"};
    EXPECT_EQ(dialog->List()->Digits(0), c.kept ? kept : PositionDigits());
    Click(Cancel);
    Start();
    Show();
    ClickLine(NameList, 0);
    Click(Load);
    if (c.kept) {
        EXPECT_EQ(X->text(), x);
        EXPECT_EQ(Y->text(), y);
    }
    EXPECT_EQ(Mul->text(), "4.00");
    EXPECT_TRUE(RecordedBoxes.empty());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Texts, ExactPositionDigits, ::testing::Values(
    DigitsCase{"Plain", "0.25", "-1e-3", false},
    DigitsCase{"SameNumbersOtherTexts", " 0.2500000000000000000000000", "-0.001000E0", false},
    DigitsCase{"ShortestTextOfAValue", "0.33333333333333333334", "0", false},
    DigitsCase{"OneDigitBeyondTheShortestText", "0.333333333333333333342", "0", true},
    DigitsCase{"DeeperY", "0.25", "0.1000000000000000000001", true},
    DigitsCase{"Deep", "-0.74364388703715870475219150611477665", "0.13182590420531197049313205",
               true}),
    [](const auto &info) { return info.param.name; });
// clang-format on

// Deep positions saved; a program that knows only the records deletes one of them: the other
// keeps its digits, the deleted one's stay in hotspots.digits, and the dialog says so once.
TEST_F(ExactPositionTest, DeepPositionsSurviveADeletionElsewhere) {
    const char *const texts[2][2] = {
        {"-0.74364388703715870475219150611477665", "0.13182590420531197049313205"},
        {"-1.74904462363642125391124782", "1.23456789012345678901234e-30"}};
    Show();
    for (const char *const name : {"a", "b"}) {
        Type(X, texts[*name - 'a'][0]);
        Type(Y, texts[*name - 'a'][1]);
        Type(Mul, "1.3333333333333333333e300");  // a scale of 1.5e-300
        Type(Name, name);
        Click(Add);
    }
    Click(Cancel);
    const QByteArray records = ReadFile("hotspots.dat");
    ASSERT_EQ(records.size(), 2 * 287);
    WriteFile("hotspots.dat", records.mid(287));
    Start();
    Show();
    ASSERT_EQ(RecordedBoxes.size(), 1u);
    EXPECT_EQ(RecordedBoxes[0].Icon, TBoxIcon::Information);
    EXPECT_EQ(RecordedBoxes[0].Caption, "Spiralis 3.0");
    EXPECT_EQ(RecordedBoxes[0].Text,
              "hotspots.digits holds the digits of 1 saved position that no longer matches any "
              "entry of hotspots.dat; they are kept there.");
    EXPECT_EQ(Lines(NameList), QStringList({"b"}));
    ClickLine(NameList, 0);
    Click(Load);
    EXPECT_EQ(X->text(), texts[1][0]);
    EXPECT_EQ(Y->text(), texts[1][1]);
    EXPECT_EQ(Mul->text(), "1.333333333333333333e300");  // reads back as the scale 1.5e-300
    Click(Cancel);
    RecordedBoxes.clear();
    Show();  // told already
    EXPECT_TRUE(RecordedBoxes.empty());
    EXPECT_EQ(dialog->List()->Unattached(), 1);
    Click(Cancel);
    EXPECT_TRUE(
        ReadFile("hotspots.digits").contains(QByteArray(" 0 ") + texts[0][0] + ' ' + texts[0][1]));
    EXPECT_EQ(ReadFile("hotspots.dat"), records.mid(287));
}

}  // namespace
