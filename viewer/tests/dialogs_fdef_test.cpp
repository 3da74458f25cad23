// The fractal definition and colour adjustment dialogs, driven through Qt's events.
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <functional>

#include "ca.h"
#include "fdef.h"
#include "thumbnail.h"
#include "viewer_testing.h"

namespace {

struct Twin {
    const char *name;
    std::function<TFormulaDialog *(TViewerState &)> make;
    const char *caption, *file;
    bool fractal;
    TChanges changes;
    const char *valid, *validStatus;         // a formula of the dialog's kind that
                                             // compiles, and its status line
    const char *invalid, *message;           // one that does not, and the library's reason
    const char *unusable, *unusableMessage;  // one that compiles without what the filler
                                             // needs, and what it misses
    const char *emptyStatus;                 // the status line for an empty field
};

// clang-format off
const Twin kTwins[] = {
    {"Fractals", [](TViewerState &state) { return new TFractals(state); }, "Fractal definition", "fractals.dat", true,
     {0, 0, 0, 0, 0, 1}, "u v x y = u x + ret v y + ret", "Compiles: iterates u, v from the point x, y",
     "x y x = x ret y ret", "QUOB: All variables should have different names (code 8)",
     "u v = u ret v ret", "Compiles, but a fractal formula needs parameters named \"x\" and \"y\" for the point",
     "Type a fractal formula, or choose one in the list and press Load."},
    {"ColorAdjustment", [](TViewerState &state) { return new TColorAdjustment(state); }, "Color adjustment", "cadjusts.dat",
     false, {0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1}, "x y = x ret y ret x y + ret",
     "Compiles: red, green and blue from its three results",
     "x y = x y", "QUOB: Virtual stack is not empty (code 13)",
     "x y = x ret y ret", "Compiles, but a colour formula needs three results (red, green, blue); this one has 2",
     "Type a colour formula, or choose one in the list and press Load."}};
// clang-format on
void PrintTo(const Twin &twin, std::ostream *out) { *out << twin.name; }

class FormulaDialogTest : public DialogTest<TFormulaDialog>,
                          public ::testing::WithParamInterface<Twin> {
  protected:
    void Start() override {
        dialog.reset(GetParam().make(Viewer()));
        Expr = Get<QLineEdit>("Expr");
        Comm = Get<QLineEdit>("Comm");
        DispList = Get<QListWidget>("DispList");
        ASSERT_TRUE(Expr && Comm && DispList);
        EXPECT_EQ(dialog->windowTitle(), GetParam().caption);
    }
    void Press(const char *button) { Click(Get<QPushButton>(button)); }
    const char *File() const { return GetParam().file; }
    // The text that an update passed in this dialog's formula field.
    static std::optional<std::string> Formula(const TLibraryCall &call) {
        return GetParam().fractal ? call.Fractal : call.Color;
    }

    QLineEdit *Expr = nullptr, *Comm = nullptr;
    QListWidget *DispList = nullptr;
};

TEST_P(FormulaDialogTest, LoadCopiesTheSelectedLineOnly) {
    WriteFile(File(), ExprRecord("a b = a ret b ret", "First") + ExprRecord("x = x ret", "Second"));
    Show();
    EXPECT_EQ(Lines(DispList), QStringList({"First (a b = a ret b ret)", "Second (x = x ret)"}));
    Type(Expr, "typed");
    Type(Comm, "note");
    Press("Load");  // no selection
    EXPECT_EQ(Expr->text(), "typed");
    EXPECT_EQ(Comm->text(), "note");
    ClickLine(DispList, 1);
    Press("Load");
    EXPECT_EQ(Expr->text(), "x = x ret");
    EXPECT_EQ(Comm->text(), "Second");
    EXPECT_TRUE(LibraryCalls.empty());  // loading changes no formula
}

TEST_P(FormulaDialogTest, AddThenCancelOrCloseStillWritesTheList) {
    Show();
    Type(Expr, "p = p ret");
    Type(Comm, "kept");
    Press("Add");
    EXPECT_EQ(Lines(DispList), QStringList({"kept (p = p ret)"}));
    EXPECT_EQ(ReadFile(File()), "(missing)");  // nothing reaches the file while shown
    Press("Cancel");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(ReadFile(File()), ExprRecord("p = p ret", "kept"));
    Show();
    EXPECT_EQ(Expr->text(), "p = p ret");  // the edits keep their text
    Press("Add");
    EXPECT_TRUE(dialog->close());  // the close box
    EXPECT_EQ(ReadFile(File()).size(), 2 * 2050);
    Show();
    Press("Add");
    QTest::keyClick(Expr, Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(ReadFile(File()).size(), 3 * 2050);
    EXPECT_TRUE(LibraryCalls.empty());
}

TEST_P(FormulaDialogTest, ImportAppendsTheNewEntriesOfTheChosenFile) {
    WriteFile(File(), ExprRecord("a", "1"));
    WriteFile("starter.dat", ExprRecord("a", "1") + ExprRecord("b", "2"));
    Show();
    EXPECT_EQ(Get<QPushButton>("Import")->text(), "Import...");
    for (const bool accept : {false, true}) {
        QTimer::singleShot(0, dialog.get(), [&] {
            auto *chooser = Get<QFileDialog>("ImportDialog");
            QTRY_VERIFY(chooser->isVisible());
            if (!accept) return chooser->reject();
            // As typed: selectFile finds nothing before the folder's listing has arrived.
            chooser->findChild<QLineEdit *>("fileNameEdit")
                ->setText(QDir::current().filePath("starter.dat"));
            QMetaObject::invokeMethod(chooser, "accept");
            if (chooser->isVisible()) chooser->reject();
        });
        dialog->ImportClick();  // the chooser's own event loop runs the answer
        EXPECT_EQ(Lines(DispList).size(), accept ? 2 : 1);
    }
    EXPECT_EQ(Lines(DispList), QStringList({"1 (a)", "2 (b)"}));
    Press("Cancel");
    EXPECT_EQ(ReadFile(File()), ExprRecord("a", "1") + ExprRecord("b", "2"));
}

TEST_P(FormulaDialogTest, OKAppliesTheTextOfExprThroughRedraw) {
    SKIP_WITHOUT_RENDERING();
    WriteFile(File(), ExprRecord("listed", "Line"));
    Show();
    ClickLine(DispList, 0);
    Type(Expr, GetParam().valid);
    Type(Comm, "never sent");
    QTest::keyClick(Expr, Qt::Key_Return);  // the default button
    EXPECT_FALSE(dialog->isVisible());
    ExpectApplied(GetParam().changes);
    const TLibraryCall &update = LibraryCalls[1];
    EXPECT_EQ(Formula(update), GetParam().valid);
    EXPECT_FALSE(GetParam().fractal ? update.Color : update.Fractal);
    EXPECT_EQ(+update.Params.EscapeColor, +StartParams.EscapeColor);  // sent again as they stand
    EXPECT_EQ(+update.Params.EscapeTakesColor, +StartParams.EscapeTakesColor);
    // The field held the dialog's text for the update only.
    EXPECT_EQ(+CurrentParams().FractalFormula, nullptr);
    EXPECT_EQ(+CurrentParams().ColorFormula, nullptr);
    EXPECT_EQ(ReadFile(File()), ExprRecord("listed", "Line"));
    EXPECT_TRUE(RecordedBoxes.empty());
}

// A text that does not compile, or that the filler cannot take: why, and the dialog stays open
// with the text until one can be taken; the filler and the picture stay as they are.
TEST_P(FormulaDialogTest, OKWithATextTheFillerCannotTakeShowsWhyAndKeepsTheDialog) {
    SKIP_WITHOUT_RENDERING();
    const int32_t buffer = Quob.CreateIBufferEx(16, 16, Viewer().FillerHandle());
    ASSERT_NE(buffer, 0);
    const auto picture = [this, buffer] {
        Quob.IBufferMessage(buffer, QUOB_MSG_FILL);
        return QByteArray(static_cast<const char *>(Quob.IBufferDC(buffer)), 16 * 16 * 4);
    };
    const QByteArray before = picture();
    LibraryCalls.clear();
    Show();
    const std::pair<QString, QString> refused[] = {
        {GetParam().invalid, GetParam().message},
        {"", "QUOB: No expression specified (code 1)"},
        {GetParam().unusable, GetParam().unusableMessage}};
    for (const auto &[text, message] : refused) {
        RecordedBoxes.clear();
        Expr->setText(text);
        Press("OK");
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(Expr->text(), text);
        ExpectOneBox("Error", message);
    }
    RecordedBoxes.clear();
    EXPECT_TRUE(LibraryCalls.empty());
    EXPECT_EQ(picture(), before);
    Quob.DeleteIBuffer(buffer);
    LibraryCalls.clear();
    // Cut to the 1024 bytes of a list's field, as the filler takes it: the junk goes.
    const QString valid = QString(GetParam().valid).leftJustified(1024);
    Expr->setText(valid + "junk");
    Press("OK");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(RecordedBoxes.empty());
    ASSERT_EQ(Updates().size(), 1u);
    EXPECT_EQ(Formula(Updates()[0]), valid.toStdString());
}

// A moment after each edit the status line answers, from a function of its own that is deleted
// at once: the filler sees nothing and no function slot stays taken.
TEST_P(FormulaDialogTest, TheStatusLineAnswersAMomentAfterEachEdit) {
    SKIP_WITHOUT_RENDERING();
    Show();
    auto *status = Get<QLabel>("Status");
    EXPECT_EQ(status->text(), GetParam().emptyStatus);  // where every formula starts
    for (const auto &[text, answer] : {std::pair{GetParam().valid, GetParam().validStatus},
                                       {GetParam().invalid, GetParam().message},
                                       {GetParam().unusable, GetParam().unusableMessage},
                                       {"  ", GetParam().emptyStatus}}) {
        Type(Expr, text);
        QTRY_COMPARE(status->text(), answer);
    }
    auto *thumbnail = Get<QLabel>("Thumbnail");
    EXPECT_TRUE(thumbnail->pixmap().isNull());
    Type(Expr, GetParam().valid);
    QTRY_VERIFY_WITH_TIMEOUT(!thumbnail->pixmap().isNull(), 10000);
    EXPECT_TRUE(LibraryCalls.empty());
    const int32_t next = Quob.CreateRealFunction("probe x = x ret");
    EXPECT_EQ(next, 3);  // after the filler's two
    Quob.DeleteFunction(next);
}

TEST_P(FormulaDialogTest, DoubleClickLoadsAndApplies) {
    SKIP_WITHOUT_RENDERING();
    WriteFile(File(), ExprRecord(GetParam().invalid, "0") + ExprRecord(GetParam().valid, "1"));
    Show();
    DoubleClickLine(DispList, 1);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(Expr->text(), GetParam().valid);
    EXPECT_EQ(Comm->text(), "1");
    Show();
    Type(Expr, GetParam().valid);
    DoubleClickLine(DispList, 5);  // below the lines: no selection, Expr as it stands
    EXPECT_FALSE(dialog->isVisible());
    Show();
    DoubleClickLine(DispList, 0);  // does not compile: loaded, and the dialog stays
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(Expr->text(), GetParam().invalid);
    ASSERT_EQ(Updates().size(), 2u);
    EXPECT_EQ(Formula(Updates()[0]), GetParam().valid);
    EXPECT_EQ(Formula(Updates()[1]), GetParam().valid);
    EXPECT_EQ(ReadFile(File()).size(), 2 * 2050);
}

INSTANTIATE_TEST_SUITE_P(Twins, FormulaDialogTest, ::testing::ValuesIn(kTwins),
                         [](const auto &info) { return info.param.name; });

// The status line of a usable formula and the colour formula's orbit inputs: those it reads and
// what they cost, why its derivative inputs read 0 with the fractal formula, and a block length
// at which escaping samples overflow before they reach it.
struct OrbitStatusCase {
    const char *name;
    bool fractal;       // typed in the fractal dialog, else in the colour dialog
    const char *other;  // the other formula, applied first; null: the viewer's
    int32_t blockLength;
    float maxModule;
    const char *typed, *status;
};
void PrintTo(const OrbitStatusCase &c, std::ostream *out) { *out << c.name; }

class OrbitStatusTest : public ViewerTest, public ::testing::WithParamInterface<OrbitStatusCase> {};

TEST_P(OrbitStatusTest, NamesTheInputsTheirCostAndWhatKeepsThemFromTheFormula) {
    SKIP_WITHOUT_RENDERING();
    const OrbitStatusCase &c = GetParam();
    if (c.other) {
        ASSERT_EQ(Viewer().ApplyFormula(c.fractal ? TFormula::Color : TFormula::Fractal, c.other),
                  "");
    }
    Viewer().ApplyPrecision({c.maxModule, 0.001f, 20, c.blockLength, 0});
    std::unique_ptr<TFormulaDialog> dialog;
    if (c.fractal)
        dialog = std::make_unique<TFractals>(Viewer());
    else
        dialog = std::make_unique<TColorAdjustment>(Viewer());
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    auto *status = Child<QLabel>(dialog.get(), "Status");
    Type(Child<QLineEdit>(dialog.get(), "Expr"), c.typed);
    QTRY_COMPARE(status->text(), QString(c.status));
    // Every line shows in full.
    EXPECT_LE(status->heightForWidth(status->width()), status->height());
}

constexpr const char *kIterate = "Compiles: iterates tx, ty from the point x, y";
constexpr const char *kTanFractal = "tx ty x y = tx tan x + ret ty y + ret";
constexpr const char *kCarryingFractal = "tx ty tz x y = tx x + ret ty y + ret tz 1 + ret";
constexpr const char *kDerivativeColor = "x y jxx jyx = jxx ret jyx ret 0 ret";
constexpr const char *kIterColor = "x y iter = iter ret 0 ret 0 ret";
constexpr const char *kBothColor = "x y iter jyy = iter ret jyy ret 0 ret";
// clang-format off
#define TAN_REASON "the fractal formula's derivative is not followed: its \"tan\" leaves an operand beyond 2^63 as it is"
#define CARRIES_REASON "the fractal formula carries a value from one sample to the next"
#define ESCAPE_COLOUR_LINE(length, safe) "\nAt block length " #length " escaping samples may overflow inside " \
    "their pass and take the escape colour instead of reaching this formula: block length " #safe " or less lets " \
    "them reach it."
INSTANTIATE_TEST_SUITE_P(Table, OrbitStatusTest, ::testing::Values(
    OrbitStatusCase{"Iterations", false, nullptr, 14, 2, kIterColor,
                    "Compiles: red, green and blue from its three results; uses iteration count: no extra cost"},
    OrbitStatusCase{"Derivative", false, nullptr, 14, 2, kDerivativeColor,
                    "Compiles: red, green and blue from its three results; uses derivative: about 2x slower"},
    OrbitStatusCase{"Both", false, nullptr, 14, 2, "x y iter jyy = iter ret jyy ret 0 ret 0 ret",
                    "Compiles: red, green and blue from the first three of its 4 results; uses iteration count "
                    "and derivative: about 2x slower"},
    OrbitStatusCase{"DerivativeOfTan", false, kTanFractal, 14, 2, kDerivativeColor,
                    "Compiles: red, green and blue from its three results; uses derivative: no extra cost\n"
                    "Its derivative inputs read 0: " TAN_REASON "."},
    OrbitStatusCase{"DerivativeCarried", false, kCarryingFractal, 14, 2, kBothColor,
                    "Compiles: red, green and blue from its three results; uses iteration count and derivative: "
                    "no extra cost\nIts derivative inputs read 0: " CARRIES_REASON "."},
    OrbitStatusCase{"IterationsOfTan", false, kTanFractal, 14, 2, kIterColor,
                    "Compiles: red, green and blue from its three results; uses iteration count: no extra cost"},
    OrbitStatusCase{"DefaultBlockLength", false, nullptr, 20, 2, kIterColor,
                    "Compiles: red, green and blue from its three results; uses iteration count: no extra cost"
                    ESCAPE_COLOUR_LINE(20, 14)},
    OrbitStatusCase{"JustBeyond", false, nullptr, 15, 2, kDerivativeColor,
                    "Compiles: red, green and blue from its three results; uses derivative: about 2x slower"
                    ESCAPE_COLOUR_LINE(15, 14)},
    OrbitStatusCase{"LargerBailout", false, nullptr, 14, 4, kIterColor,
                    "Compiles: red, green and blue from its three results; uses iteration count: no extra cost"
                    ESCAPE_COLOUR_LINE(14, 13)},
    OrbitStatusCase{"HugeBailout", false, nullptr, 8, 1e30f, kIterColor,
                    "Compiles: red, green and blue from its three results; uses iteration count: no extra cost"
                    ESCAPE_COLOUR_LINE(8, 7)},
    OrbitStatusCase{"NoBailout", false, nullptr, 20, 1, kIterColor,
                    "Compiles: red, green and blue from its three results; uses iteration count: no extra cost"},
    OrbitStatusCase{"BlockLengthBeyondRange", false, nullptr, 5000, 2, kIterColor,
                    "Compiles: red, green and blue from its three results; uses iteration count: no extra cost"},
    OrbitStatusCase{"EverythingAtOnce", false, kTanFractal, 20, 2, kBothColor,
                    "Compiles: red, green and blue from its three results; uses iteration count and derivative: "
                    "no extra cost\nIts derivative inputs read 0: " TAN_REASON "." ESCAPE_COLOUR_LINE(20, 14)},
    OrbitStatusCase{"FractalWithTan", true, kDerivativeColor, 20, 2, kTanFractal,
                    "Compiles: iterates tx, ty from the point x, y\n"
                    "With it the colour formula's derivative inputs read 0: " TAN_REASON "."},
    OrbitStatusCase{"FractalThatCarries", true, kBothColor, 20, 2, kCarryingFractal,
                    "Compiles: iterates tx, ty from the point x, y\n"
                    "With it the colour formula's derivative inputs read 0: " CARRIES_REASON "."},
    OrbitStatusCase{"FractalWithTanForIterations", true, kIterColor, 20, 2, kTanFractal, kIterate},
    OrbitStatusCase{"FractalThatGivesTheDerivative", true, kDerivativeColor, 20, 2,
                    "tx ty x y = tx sqr ty sqr - x + ret tx ty * 2 * y + ret", kIterate}),
    [](const auto &info) { return info.param.name; });
#undef TAN_REASON
#undef CARRIES_REASON
#undef ESCAPE_COLOUR_LINE
// clang-format on

// "OK with its view and colouring": offered for an entry whose name the gallery has a picture of,
// keeping a scene of the entry's formula; it applies that scene with the formula of Expr.
struct EntrySceneCase {
    const char *name;
    int line;           // loaded; -1: none
    const char *typed;  // then typed into Expr; null: as loaded
    bool offered;
};
void PrintTo(const EntrySceneCase &c, std::ostream *out) { *out << c.name; }

class EntrySceneTest : public DialogTest<TFractals>,
                       public ::testing::WithParamInterface<EntrySceneCase> {
  protected:
    void Start() override {
        WriteFile("fractals.dat", ExprRecord(SceneFractal, "Burning Ship. The hull.") +
                                      ExprRecord(SceneFractal, "Other ship. Of no picture.") +
                                      ExprRecord(kDefaultFractal, "Second ship. Another formula."));
        WritePng("gallery/13-burning-ship.png", SceneTexts());
        WritePng("gallery/14-second-ship.png", SceneTexts());
        dialog = std::make_unique<TFractals>(Viewer());
    }
};

TEST_P(EntrySceneTest, OfferedForAStarterEntryAndAppliedWithIt) {
    SKIP_WITHOUT_RENDERING();
    Show();
    auto *okScene = Get<QPushButton>("OKScene");
    EXPECT_EQ(okScene->text(), "OK with its view and colouring");
    EXPECT_FALSE(okScene->isEnabled());
    if (GetParam().line >= 0) {
        ClickLine(Get<QListWidget>("DispList"), GetParam().line);
        Click(Get<QPushButton>("Load"));
    }
    if (GetParam().typed) Type(Get<QLineEdit>("Expr"), GetParam().typed);
    QTest::qWait(300);  // the status line's moment
    EXPECT_EQ(okScene->isEnabled(), GetParam().offered);
    EXPECT_EQ(Get<QLabel>("Status")->text().contains("gallery/13-burning-ship.png"),
              GetParam().offered);
    Click(okScene);
    if (!GetParam().offered) {
        EXPECT_TRUE(LibraryCalls.empty());
        EXPECT_TRUE(dialog->isVisible());
        return;
    }
    EXPECT_FALSE(dialog->isVisible());
    ExpectApplied(SceneChanged);
    EXPECT_EQ(LibraryCalls[1].Fractal, SceneFractal);
    EXPECT_EQ(LibraryCalls[1].Color, SceneColor);
    EXPECT_EQ(View(), std::tuple(-0.75, 0.125, 0.5));
    EXPECT_EQ(History()->Count, 2);
    EXPECT_TRUE(RecordedBoxes.empty());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Entries, EntrySceneTest, ::testing::Values(
    EntrySceneCase{"StarterEntry", 0, nullptr, true},
    EntrySceneCase{"NothingLoaded", -1, nullptr, false},
    EntrySceneCase{"NoPictureOfItsName", 1, nullptr, false},
    EntrySceneCase{"PictureOfAnotherFormula", 2, nullptr, false},
    EntrySceneCase{"ExpressionEdited", 0, "u v x y = u x + ret v y + ret", false}),
    [](const auto &info) { return info.param.name; });
// clang-format on

TEST_F(ViewerTest, BothFormulaDialogsKeepTheirOwnListsAndSaveThemWhenDestroyed) {
    WriteFile("cadjusts.dat", ExprRecord("colour", "c"));
    {
        TFractals fractals(Viewer());
        TColorAdjustment colors(Viewer());
        fractals.show();
        colors.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&colors));
        Child<QLineEdit>(&fractals, "Expr")->setText("fractal");
        Click(Child<QPushButton>(&fractals, "Add"));
        EXPECT_EQ(Lines(Child<QListWidget>(&colors, "DispList")), QStringList({"c (colour)"}));
        Click(Child<QPushButton>(&colors, "Cancel"));
        EXPECT_EQ(ReadFile("cadjusts.dat"), ExprRecord("colour", "c"));
        EXPECT_EQ(ReadFile("fractals.dat"), "(missing)");
    }  // the fractal dialog, still shown, goes with its list
    EXPECT_EQ(ReadFile("fractals.dat"), ExprRecord("fractal", ""));
}

// The thumbnail: quob-render's picture of the options last asked for, or why there is none.
struct ThumbnailCase {
    const char *name;
    const char *renderer;            // null: the one beside the program, as the build places it
    std::vector<QStringList> draws;  // drawn one after the other without waiting
    bool clearAfter;                 // then cleared at once
    bool picture;
    const char *tooltip;  // how it begins
};
void PrintTo(const ThumbnailCase &c, std::ostream *out) { *out << c.name; }

class ThumbnailTest : public ViewerTest, public ::testing::WithParamInterface<ThumbnailCase> {};

TEST_P(ThumbnailTest, ShowsTheLatestPictureOrWhyNot) {
    SKIP_WITHOUT_RENDERING();
    const ThumbnailCase &c = GetParam();
    QLabel box;
    box.setFrameStyle(QFrame::Panel | QFrame::Sunken);
    box.resize(98, 74);
    TThumbnail thumbnail(&box, c.renderer ? c.renderer : RendererBesideProgram());
    EXPECT_EQ(thumbnail.Size(), QSize(96, 72));
    QSignalSpy finished(&thumbnail, &TThumbnail::Finished);
    const QStringList home =
        Viewer().PictureArguments(TFormula::Fractal, kDefaultFractal, {96, 72});
    for (const QStringList &options : c.draws) thumbnail.Draw(options.isEmpty() ? home : options);
    if (c.clearAfter) thumbnail.Clear("cleared");
    EXPECT_TRUE(!finished.isEmpty() || finished.wait(10000));  // some end at once
    QTest::qWait(300);  // an abandoned drawing would show by now
    EXPECT_EQ(finished.size(), 1);
    EXPECT_EQ(box.pixmap().size(), c.picture ? QSize(96, 72) : QSize(0, 0));
    EXPECT_TRUE(box.toolTip().startsWith(c.tooltip)) << box.toolTip().toStdString();
}

// {} stands for the home view with the viewer's formulas.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Drawings, ThumbnailTest, ::testing::Values(
    ThumbnailCase{"HomeView", nullptr, {{}}, false, true, "What OK would show"},
    ThumbnailCase{"MissingRenderer", "/nonexistent/quob-render", {{}}, false, false,
                  "No picture: /nonexistent/quob-render is missing"},
    ThumbnailCase{"RendererRefuses", nullptr, {{"--scale", "0"}}, false, false,
                  "No picture: quob-render ended with status 2: "},
    ThumbnailCase{"OnlyTheLatestShows", nullptr, {{"--scale", "0"}, {}}, false, true,
                  "What OK would show"},
    ThumbnailCase{"ClearedWhileDrawing", nullptr, {{}}, true, false, "cleared"}),
    [](const auto &info) { return info.param.name; });
// clang-format on

}  // namespace
