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
    Type(dialog->MaxR, c.maxR);
    Type(dialog->dR, c.dR);
    Type(dialog->N, c.n);
    Type(dialog->Cycle, c.cycle);
    Click(dialog->Zero);
    Click(dialog->OK);
    ASSERT_EQ(RecordedBoxes.size(), 1u);
    EXPECT_EQ(RecordedBoxes[0].Icon, TBoxIcon::Error);
    EXPECT_EQ(RecordedBoxes[0].Caption, "Spiralis 3.0");
    EXPECT_EQ(RecordedBoxes[0].Text, c.message);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(LibraryCalls.empty());
    EXPECT_EQ(+CurrentParams.MaxModule, +StartParams.MaxModule);
    EXPECT_EQ(+CurrentParams.Differential, +StartParams.Differential);
    EXPECT_EQ(+CurrentParams.IterationsLimit, +StartParams.IterationsLimit);
    EXPECT_EQ(+CurrentParams.BlockLength, +StartParams.BlockLength);
    EXPECT_EQ(+CurrentParams.RecursionInit, +StartParams.RecursionInit);
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
