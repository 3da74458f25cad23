// The precision parameters dialog, driven through Qt's events.
#include <QPushButton>
#include <QRadioButton>

#include "prec.h"
#include "viewer_testing.h"

namespace {

class PrecisionTest : public ViewerTest {
  protected:
    void SetUp() override {
        ViewerTest::SetUp();
        dialog = std::make_unique<TPrecision>(Viewer());
        N = Child<QLineEdit>(dialog.get(), "N");
        MaxR = Child<QLineEdit>(dialog.get(), "MaxR");
        dR = Child<QLineEdit>(dialog.get(), "dR");
        Cycle = Child<QLineEdit>(dialog.get(), "Cycle");
        Zero = Child<QRadioButton>(dialog.get(), "Zero");
        CurrP = Child<QRadioButton>(dialog.get(), "CurrP");
        OK = Child<QPushButton>(dialog.get(), "OK");
    }
    void TearDown() override {
        dialog.reset();
        ViewerTest::TearDown();
    }
    void Show() {
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }

    std::unique_ptr<TPrecision> dialog;
    QLineEdit *N = nullptr, *MaxR = nullptr, *dR = nullptr, *Cycle = nullptr;
    QRadioButton *Zero = nullptr, *CurrP = nullptr;
    QPushButton *OK = nullptr;
};

TEST_F(PrecisionTest, OKStoresTheFieldsAndUpdatesTwiceInOrder) {
    Show();
    EXPECT_EQ(N->text(), "20");
    EXPECT_EQ(MaxR->text(), "2.00000");
    EXPECT_EQ(dR->text(), "0.00100");
    EXPECT_EQ(Cycle->text(), "20");
    EXPECT_TRUE(CurrP->isChecked());
    Type(N, "-7");  // passed on as typed
    Type(MaxR, "4.5");
    Type(dR, "1e-4");
    Type(Cycle, "$10");
    Click(Zero);
    QTest::keyClick(Cycle, Qt::Key_Return);  // the default button
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(+CurrentParams().IterationsLimit, -7);
    EXPECT_EQ(+CurrentParams().MaxModule, 4.5f);
    EXPECT_EQ(+CurrentParams().Differential, 1e-4f);
    EXPECT_EQ(+CurrentParams().BlockLength, 16);
    EXPECT_EQ(+CurrentParams().RecursionInit, 1);
    ASSERT_EQ(LibraryCalls.size(), 4u);
    EXPECT_EQ(LibraryCalls[0].Code, QUOB_MSG_STOP);
    EXPECT_EQ(LibraryCalls[1].Changes, TChanges({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1}));
    EXPECT_EQ(LibraryCalls[2].Changes, TChanges({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(LibraryCalls[3].Code, RedrawMessage);
    Show();
    EXPECT_TRUE(Zero->isChecked());
    EXPECT_EQ(Cycle->text(), "16");
}

struct FieldErrorCase {
    const char *name;
    const char *maxR, *dR, *n, *cycle;
    const char *message;
};

void PrintTo(const FieldErrorCase &c, std::ostream *out) { *out << c.name; }

class PrecisionFieldError : public PrecisionTest,
                            public ::testing::WithParamInterface<FieldErrorCase> {};

TEST_P(PrecisionFieldError, GoesToTheGeneralErrorDisplayAndChangesNothing) {
    const FieldErrorCase &c = GetParam();
    Show();
    Type(MaxR, c.maxR);
    Type(dR, c.dR);
    Type(N, c.n);
    Type(Cycle, c.cycle);
    Click(Zero);
    Click(OK);
    ASSERT_EQ(RecordedBoxes.size(), 1u);
    EXPECT_EQ(RecordedBoxes[0].Icon, TBoxIcon::Error);
    EXPECT_EQ(RecordedBoxes[0].Caption, "Spiralis 3.0");
    EXPECT_EQ(RecordedBoxes[0].Text, c.message);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(LibraryCalls.empty());
    EXPECT_EQ(+CurrentParams().MaxModule, +StartParams.MaxModule);
    EXPECT_EQ(+CurrentParams().Differential, +StartParams.Differential);
    EXPECT_EQ(+CurrentParams().IterationsLimit, +StartParams.IterationsLimit);
    EXPECT_EQ(+CurrentParams().BlockLength, +StartParams.BlockLength);
    EXPECT_EQ(+CurrentParams().RecursionInit, +StartParams.RecursionInit);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Fields, PrecisionFieldError, ::testing::Values(
    FieldErrorCase{"Letters", "3", "0.5", "abc", "20", "'abc' is not a valid integer value."},
    FieldErrorCase{"Empty", "3", "0.5", "", "20", "'' is not a valid integer value."},
    FieldErrorCase{"CycleFails", "3", "0.5", "35", "1.5", "'1.5' is not a valid integer value."},
    FieldErrorCase{"DecimalComma", "3", "0,5", "35", "20",
                   "Differential: '0,5' is not a valid floating point value."},
    FieldErrorCase{"EmptyMaxModule", "", "0.5", "35", "20",
                   "Max. module: '' is not a valid floating point value."},
    FieldErrorCase{"BeyondAFloat", "1e39", "0.5", "35", "20",
                   "Max. module: '1e39' is not a valid floating point value."}),
    [](const auto &info) { return info.param.name; });
// clang-format on

TEST_F(PrecisionTest, RealsAreRoundedToFiveDecimalsOnTheWayBack) {
    Show();
    Type(dR, "0.000001");
    Click(OK);
    EXPECT_EQ(+CurrentParams().Differential, 0.000001f);
    Show();
    EXPECT_EQ(dR->text(), "0.00000");
    Click(OK);
    EXPECT_EQ(+CurrentParams().Differential, 0.0f);
    EXPECT_EQ(+CurrentParams().MaxModule, 2.0f);
}

TEST_F(PrecisionTest, CloseBoxAppliesNothing) {
    Show();
    Type(N, "999");
    Click(Zero);
    EXPECT_TRUE(dialog->close());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(+CurrentParams().IterationsLimit, 20);
    EXPECT_TRUE(LibraryCalls.empty());
    Show();
    EXPECT_EQ(N->text(), "20");
    EXPECT_TRUE(CurrP->isChecked());
}

}  // namespace
