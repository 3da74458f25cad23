// The precision parameters dialog, driven through Qt's events.
#include "prec.h"
#include "viewer_testing.h"

namespace {

class PrecisionTest : public ViewerTest {
  protected:
    void TearDown() override {
        dialog.reset();
        ViewerTest::TearDown();
    }
    void Show() {
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    }
    std::unique_ptr<TPrecision> dialog = std::make_unique<TPrecision>();
};

TEST_F(PrecisionTest, OKStoresTheFieldsAndUpdatesTwiceInOrder) {
    Show();
    EXPECT_EQ(dialog->N->text(), "20");
    EXPECT_EQ(dialog->MaxR->text(), "2.00000");
    EXPECT_EQ(dialog->dR->text(), "0.00100");
    EXPECT_EQ(dialog->Cycle->text(), "20");
    EXPECT_TRUE(dialog->CurrP->isChecked());
    Type(dialog->N, "-7");  // passed on as typed
    Type(dialog->MaxR, "4.5");
    Type(dialog->dR, "1e-4");
    Type(dialog->Cycle, "$10");
    Click(dialog->Zero);
    QTest::keyClick(dialog->Cycle, Qt::Key_Return);  // the default button
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(+CurrentParams.IterationsLimit, -7);
    EXPECT_EQ(+CurrentParams.MaxModule, 4.5f);
    EXPECT_EQ(+CurrentParams.Differential, 1e-4f);
    EXPECT_EQ(+CurrentParams.BlockLength, 16);
    EXPECT_EQ(+CurrentParams.RecursionInit, 1);
    ASSERT_EQ(LibraryCalls.size(), 4u);
    EXPECT_EQ(LibraryCalls[0].Code, QUOB_MSG_STOP);
    EXPECT_EQ(LibraryCalls[1].Changes, TChanges({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1}));
    EXPECT_EQ(LibraryCalls[2].Changes, TChanges({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(LibraryCalls[3].Code, RedrawMessage);
    Show();
    EXPECT_TRUE(dialog->Zero->isChecked());
    EXPECT_EQ(dialog->Cycle->text(), "16");
}

struct IntegerFieldCase {
    const char *name;
    const char *n, *cycle;
    const char *message;
    int32_t iterationsLimit;  // stored before the error, or not
};

class PrecisionIntegerError : public PrecisionTest,
                              public ::testing::WithParamInterface<IntegerFieldCase> {};

TEST_P(PrecisionIntegerError, GoesToTheGeneralErrorDisplayAndKeepsTheDialog) {
    const IntegerFieldCase &c = GetParam();
    Show();
    Type(dialog->MaxR, "3");
    Type(dialog->dR, "0.5");
    Type(dialog->N, c.n);
    Type(dialog->Cycle, c.cycle);
    Click(dialog->OK);
    ASSERT_EQ(RecordedBoxes.size(), 1u);
    EXPECT_EQ(RecordedBoxes[0].Icon, TBoxIcon::Error);
    EXPECT_EQ(RecordedBoxes[0].Caption, "Spiralis 3.0");
    EXPECT_EQ(RecordedBoxes[0].Text, c.message);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(LibraryCalls.empty());
    // What came before the failing field is stored; the library has not seen it yet.
    EXPECT_EQ(+CurrentParams.MaxModule, 3.0f);
    EXPECT_EQ(+CurrentParams.Differential, 0.5f);
    EXPECT_EQ(+CurrentParams.IterationsLimit, c.iterationsLimit);
    EXPECT_EQ(+CurrentParams.BlockLength, +StartParams.BlockLength);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, PrecisionIntegerError,
    ::testing::Values(
        IntegerFieldCase{"Letters", "abc", "20", "'abc' is not a valid integer value.", 20},
        IntegerFieldCase{"Empty", "", "20", "'' is not a valid integer value.", 20},
        IntegerFieldCase{"CycleFails", "35", "1.5", "'1.5' is not a valid integer value.", 35}),
    [](const auto &info) { return info.param.name; });

TEST_F(PrecisionTest, RealsAreRoundedToFiveDecimalsOnTheWayBack) {
    Show();
    Type(dialog->dR, "0.000001");
    Click(dialog->OK);
    EXPECT_EQ(+CurrentParams.Differential, 0.000001f);
    Show();
    EXPECT_EQ(dialog->dR->text(), "0.00000");
    Click(dialog->OK);
    EXPECT_EQ(+CurrentParams.Differential, 0.0f);
    EXPECT_EQ(+CurrentParams.MaxModule, 2.0f);
}

TEST_F(PrecisionTest, CloseBoxAppliesNothing) {
    Show();
    Type(dialog->N, "999");
    Click(dialog->Zero);
    EXPECT_TRUE(dialog->close());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(+CurrentParams.IterationsLimit, 20);
    EXPECT_TRUE(LibraryCalls.empty());
    Show();
    EXPECT_EQ(dialog->N->text(), "20");
    EXPECT_TRUE(dialog->CurrP->isChecked());
}

}  // namespace
