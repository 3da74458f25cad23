// The fractal definition and colour adjustment dialogs, driven through Qt's events.
#include <QPushButton>
#include <functional>

#include "ca.h"
#include "fdef.h"
#include "viewer_testing.h"

namespace {

struct Twin {
    const char *name;
    std::function<TFormulaDialog *()> make;
    const char *caption, *file;
    bool fractal;
    TChanges changes;
};

// clang-format off
const Twin kTwins[] = {
    {"Fractals", [] { return new TFractals; }, "Fractal definition", "fractals.dat", true,
     {0, 0, 0, 0, 0, 1}},
    {"ColorAdjustment", [] { return new TColorAdjustment; }, "Color adjustment", "cadjusts.dat",
     false, {0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1}}};
// clang-format on

class FormulaDialogTest : public ViewerTest, public ::testing::WithParamInterface<Twin> {
  protected:
    void SetUp() override {
        ViewerTest::SetUp();
        dialog.reset(GetParam().make());
        Expr = dialog->findChild<QLineEdit *>("Expr");
        Comm = dialog->findChild<QLineEdit *>("Comm");
        DispList = dialog->findChild<QListWidget *>("DispList");
        ASSERT_TRUE(Expr && Comm && DispList);
        EXPECT_EQ(dialog->windowTitle(), GetParam().caption);
    }
    void TearDown() override {
        dialog.reset();
        ViewerTest::TearDown();
    }
    void Show() {
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }
    void Press(const char *button) { Click(dialog->findChild<QPushButton *>(button)); }
    const char *File() const { return GetParam().file; }
    // The text that an update passed in this dialog's formula field.
    static std::optional<std::string> Formula(const TLibraryCall &call) {
        return GetParam().fractal ? call.Fractal : call.Color;
    }

    std::unique_ptr<TFormulaDialog> dialog;
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

TEST_P(FormulaDialogTest, OKAppliesTheTextOfExprThroughRedraw) {
    WriteFile(File(), ExprRecord("listed", "Line"));
    Show();
    ClickLine(DispList, 0);
    Type(Expr, "typed formula");
    Type(Comm, "never sent");
    QTest::keyClick(Expr, Qt::Key_Return);  // the default button
    EXPECT_FALSE(dialog->isVisible());
    ASSERT_EQ(LibraryCalls.size(), 3u);
    EXPECT_EQ(LibraryCalls[0].Code, QUOB_MSG_STOP);
    const TLibraryCall &update = LibraryCalls[1];
    EXPECT_EQ(update.Code, -1);
    EXPECT_EQ(update.Changes, GetParam().changes);
    EXPECT_EQ(Formula(update), "typed formula");
    EXPECT_FALSE(GetParam().fractal ? update.Color : update.Fractal);
    EXPECT_EQ(+update.Params.EscapeColor, +StartParams.EscapeColor);  // sent again as they stand
    EXPECT_EQ(+update.Params.EscapeTakesColor, +StartParams.EscapeTakesColor);
    EXPECT_EQ(LibraryCalls[2].Code, RedrawMessage);
    // The field held the dialog's text for the update only.
    EXPECT_EQ(+CurrentParams.FractalFormula, nullptr);
    EXPECT_EQ(+CurrentParams.ColorFormula, nullptr);
    EXPECT_EQ(ReadFile(File()), ExprRecord("listed", "Line"));
    // Cut to 1024 bytes on a character boundary; an empty text is applied too.
    Show();
    Expr->setText(QString(300, QChar(0x20AC)) + QString(200, 'x'));  // 1100 bytes
    Press("OK");
    Show();
    Expr->clear();
    Press("OK");
    ASSERT_EQ(Updates().size(), 3u);
    EXPECT_EQ(Formula(Updates()[1]),
              (QString(300, QChar(0x20AC)) + QString(124, 'x')).toStdString());
    EXPECT_EQ(Formula(Updates()[2]), "");
    EXPECT_EQ(LibraryCalls.back().Code, RedrawMessage);
    EXPECT_TRUE(RecordedBoxes.empty());
}

TEST_P(FormulaDialogTest, DoubleClickLoadsAndApplies) {
    WriteFile(File(), ExprRecord("zero", "0") + ExprRecord("one", "1"));
    Show();
    DoubleClickLine(DispList, 1);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(Expr->text(), "one");
    EXPECT_EQ(Comm->text(), "1");
    Show();
    Type(Expr, "as typed");
    DoubleClickLine(DispList, 5);  // below the lines: no selection, Expr as it stands
    EXPECT_FALSE(dialog->isVisible());
    ASSERT_EQ(Updates().size(), 2u);
    EXPECT_EQ(Formula(Updates()[0]), "one");
    EXPECT_EQ(Formula(Updates()[1]), "as typed");
    EXPECT_EQ(ReadFile(File()).size(), 2 * 2050);
}

INSTANTIATE_TEST_SUITE_P(Twins, FormulaDialogTest, ::testing::ValuesIn(kTwins),
                         [](const auto &info) { return info.param.name; });

TEST_F(ViewerTest, BothFormulaDialogsKeepTheirOwnListsAndSaveThemWhenDestroyed) {
    WriteFile("cadjusts.dat", ExprRecord("colour", "c"));
    {
        TFractals fractals;
        TColorAdjustment colors;
        fractals.show();
        colors.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&colors));
        fractals.Expr->setText("fractal");
        Click(fractals.Add);
        EXPECT_EQ(Lines(colors.DispList), QStringList({"c (colour)"}));
        Click(colors.Cancel);
        EXPECT_EQ(ReadFile("cadjusts.dat"), ExprRecord("colour", "c"));
        EXPECT_EQ(ReadFile("fractals.dat"), "(missing)");
    }  // the fractal dialog, still shown, goes with its list
    EXPECT_EQ(ReadFile("fractals.dat"), ExprRecord("fractal", ""));
}

TEST_F(ViewerTest, AFormulaThatDoesNotCompileLeavesThePictureAsItWas) {
    SKIP_WITHOUT_RENDERING();
    const int32_t buffer = Quob.CreateIBufferEx(16, 16, FillerHandle);
    ASSERT_NE(buffer, 0);
    const auto picture = [buffer] {
        Quob.IBufferMessage(buffer, QUOB_MSG_FILL);
        return QByteArray(static_cast<const char *>(Quob.IBufferDC(buffer)), 16 * 16 * 4);
    };
    const QByteArray before = picture();
    TFractals fractals;
    TColorAdjustment colors;
    for (TFormulaDialog *dialog : std::initializer_list<TFormulaDialog *>{&fractals, &colors}) {
        dialog->show();
        dialog->findChild<QLineEdit *>("Expr")->setText("no equals sign here");
        Click(dialog->findChild<QPushButton *>("OK"));
        EXPECT_FALSE(dialog->isVisible());
    }
    EXPECT_EQ(picture(), before);
    EXPECT_TRUE(RecordedBoxes.empty());
    Quob.DeleteIBuffer(buffer);
}

}  // namespace
