// The precision parameters dialog, driven through Qt's events.
#include <QPushButton>
#include <QRadioButton>

#include "prec.h"
#include "viewer_testing.h"

namespace {

class PrecisionTest : public DialogTest<TPrecision> {
  protected:
    void Start() override {
        dialog = std::make_unique<TPrecision>(Viewer());
        for (auto [edit, name] :
             {std::pair{&N, "N"}, {&MaxR, "MaxR"}, {&dR, "dR"}, {&Cycle, "Cycle"}})
            *edit = Get<QLineEdit>(name);
        Zero = Get<QRadioButton>("Zero");
        CurrP = Get<QRadioButton>("CurrP");
        OK = Get<QPushButton>("OK");
    }
    // The precision fields of CurrentParams.
    std::tuple<int32_t, float, float, int32_t, int32_t> Fields() const {
        const QUOB_FillerParams &p = CurrentParams();
        return {+p.IterationsLimit, +p.MaxModule, +p.Differential, +p.BlockLength,
                +p.RecursionInit};
    }

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
    EXPECT_EQ(Fields(), std::tuple(-7, 4.5f, 1e-4f, 16, 1));
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
    const auto before = Fields();
    for (auto [edit, text] : {std::pair{MaxR, c.maxR}, {dR, c.dR}, {N, c.n}, {Cycle, c.cycle}})
        Type(edit, text);
    Click(Zero);
    Click(OK);
    ExpectOneBox("Spiralis 3.0", c.message);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(LibraryCalls.empty());
    EXPECT_EQ(Fields(), before);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Fields, PrecisionFieldError, ::testing::Values(
    FieldErrorCase{"Letters", "3", "0.5", "abc", "20", "'abc' is not a valid integer value."},
    FieldErrorCase{"CycleFails", "3", "0.5", "35", "1.5", "'1.5' is not a valid integer value."},
    FieldErrorCase{"DecimalComma", "3", "0,5", "35", "20",
                   "Differential: '0,5' is not a valid floating point value."},
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
