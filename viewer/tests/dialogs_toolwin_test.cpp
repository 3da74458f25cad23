// The tool window against a shown main window, the About box, the forms of start-up and the help
// window, and the whole text of every label and button.
#include <QAbstractButton>
#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QSpontaneKeyEvent>
#include <QToolButton>
#include <functional>

#include "about.h"
#include "exactp.h"
#include "fdef.h"
#include "help.h"
#include "toolwin.h"
#include "viewer_testing.h"

namespace {

// The main window with its forms, the tool window shown with it.
class ToolWindowTest : public MainWinTest {
  protected:
    void SetUp() override {
        withForms = true;
        MainWinTest::SetUp();
        tools = Child<TTools>(win.get(), "TTools");
        ASSERT_TRUE(QTest::qWaitForWindowExposed(tools));
    }
    QToolButton *Button(const char *name) const { return Child<QToolButton>(tools, name); }
    QPoint ClientOrigin() const { return win->centralWidget()->mapToGlobal(QPoint(0, 0)); }

    TTools *tools = nullptr;
};

TEST_F(ToolWindowTest, TenButtonsInAColumnWithPicturesOfTheirOwn) {
    QList<QImage> pictures;
    int top = 2;
    for (const char *name :
         {"SpeedButton9", "SpeedButton10", "SpeedButton4", "SpeedButton2", "SpeedButton8",
          "SpeedButton6", "SpeedButton7", "SpeedButton5", "SpeedButton1", "SpeedButton3"}) {
        QToolButton *button = Button(name);
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(button->geometry(), QRect(2, top, 25, 25)) << name;
        const QImage picture = button->icon().pixmap(16, 16).toImage();
        EXPECT_EQ(picture.size(), QSize(16, 16)) << name;
        EXPECT_FALSE(pictures.contains(picture)) << name << " repeats a picture";
        pictures.append(picture);
        top += 26;
    }
}

TEST_F(ToolWindowTest, AlwaysOnTopWithoutCloseBoxAndDeafToCloseRequests) {
    const Qt::WindowFlags flags = tools->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(flags & (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint));
    QCloseEvent request;  // from the window system: its close command or shortcut
    QSpontaneKeyEvent::setSpontaneous(&request);
    QApplication::instance()->notify(tools, &request);
    EXPECT_FALSE(request.isAccepted());
    EXPECT_TRUE(tools->isVisible());
    EXPECT_TRUE(tools->close());  // the application's own, as it quits
}

TEST_F(ToolWindowTest, SitsAtTheClientOriginAndFollowsMoves) {
    EXPECT_TRUE(tools->isVisible());
    EXPECT_EQ(tools->frameGeometry(), QRect(ClientOrigin() + QPoint(2, 2), QSize(35, 285)));
    for (const QPoint to : {QPoint(160, 120), QPoint(30, 40)}) {
        win->move(to);
        QTRY_COMPARE_WITH_TIMEOUT(win->pos(), to, 5000);
        EXPECT_EQ(tools->frameGeometry().topLeft(), ClientOrigin() + QPoint(2, 2));
    }
}

struct CommandCase {
    const char *button, *item;
};

class ToolWindowCommand : public ToolWindowTest,
                          public ::testing::WithParamInterface<CommandCase> {};

TEST_P(ToolWindowCommand, HasTheEffectOfItsMenuCommand) {
    // What the command leaves behind: the view, the history and the library calls.
    const auto run = [&](const std::function<void()> &command) {
        // From the home view with the history holding it alone, two steps and one back: Back
        // and Forward both have somewhere to go.
        *Viewer().History() = {};
        Child<QAction>(win.get(), "Home1")->trigger();
        Child<QAction>(win.get(), "Zoomin1")->trigger();
        Child<QAction>(win.get(), "Zoomin1")->trigger();
        Child<QAction>(win.get(), "Back1")->trigger();
        LibraryCalls.clear();
        command();
        std::vector<double> effect = {CurrentParams().CenterRe, CurrentParams().CenterIm,
                                      CurrentParams().Scale, double(History()->Count)};
        for (const TLibraryCall &call : LibraryCalls) effect.push_back(call.Code);
        return effect;
    };
    const auto byMenu = run([&] { Child<QAction>(win.get(), GetParam().item)->trigger(); });
    const auto byButton = run([&] { Click(Button(GetParam().button)); });
    EXPECT_EQ(byButton, byMenu);
    EXPECT_GT(byMenu.size(), 4u);  // each of these commands reaches the buffer
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Commands, ToolWindowCommand, ::testing::Values(
    CommandCase{"SpeedButton9", "Home1"}, CommandCase{"SpeedButton10", "Back1"},
    CommandCase{"SpeedButton4", "Defaultview1"}, CommandCase{"SpeedButton2", "Stop1"},
    CommandCase{"SpeedButton8", "Zoomin1"}, CommandCase{"SpeedButton6", "Zoomout1"}),
    [](const auto &info) { return std::string(info.param.button); });
// clang-format on

TEST_F(ToolWindowTest, ExactCoordinatesOnlyRaisesTheShownDialog) {
    auto *exact = Child<TExactPosition>(win.get(), "TExactPosition");
    Click(Button("SpeedButton7"));
    ASSERT_TRUE(exact->isVisible());
    Child<QLineEdit>(exact, "Name")->setText("unsaved");
    Click(Child<QPushButton>(exact, "Add"));
    const THotList *const list = exact->List();
    Click(Button("SpeedButton7"));
    EXPECT_EQ(exact->List(), list);
    EXPECT_EQ(Lines(Child<QListWidget>(exact, "NameList")), QStringList({"unsaved"}));
    EXPECT_EQ(ReadFile("hotspots.dat"), "(missing)");  // not saved and read again
}

TEST_F(ToolWindowTest, SaveAsBmpRunsTheSaveDialog) {
    bool asked = false;
    QTimer::singleShot(0, [&] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            asked = true;
            dialog->reject();
        }
    });
    Click(Button("SpeedButton3"));
    EXPECT_TRUE(asked);
}

TEST_F(ViewerTest, AboutBoxHidesOnOK) {
    TAbout about;
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    QTest::keyClick(&about, Qt::Key_Return);
    EXPECT_FALSE(about.isVisible());
}

TEST_F(ViewerTest, StartUpCreatesTheFormsHiddenInOrder) {
    {
        TMainWin mainWin(Viewer());
        mainWin.CreateForms();
        QStringList forms;  // the viewer's own windows, in the order of creation
        for (QObject *child : mainWin.children())
            if (auto *form = qobject_cast<QWidget *>(child);
                form && form->isWindow() && *form->metaObject()->className() == 'T') {
                forms.append(form->metaObject()->className());
                EXPECT_FALSE(form->isVisible()) << forms.back().toStdString();
            }
        EXPECT_EQ(forms, QStringList({"TExactPosition", "TPrecision", "TFractals",
                                      "TColorAdjustment", "TAbout", "TTools"}));
        for (const char *item :
             {"Exactposition1", "PrecisionvsSpeed1", "Fractal1", "Colorajustment1", "About1"})
            EXPECT_TRUE(Child<QAction>(&mainWin, item)->isEnabled()) << item;
        mainWin.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&mainWin));
        EXPECT_TRUE(Child<TTools>(&mainWin, "TTools")->isVisible());
        Child<QAction>(&mainWin, "Fractal1")->trigger();
        EXPECT_TRUE(Child<TFractals>(&mainWin, "TFractals")->isVisible());
    }
    EXPECT_EQ(ReadFile("fractals.dat"), "");  // the shown dialog saved its list at the end
}

// In the desktop's font, the platform's default or the larger one of a desktop such as GNOME's,
// every label and button of every form is at least as large as its own size hint: no text loses
// its end. A label that wraps holds its lines at its width.
class WholeTexts : public ToolWindowTest, public ::testing::WithParamInterface<double> {
  protected:
    void SetUp() override {
        if (GetParam() > 0) {
            QFont font = QApplication::font();
            font.setPointSizeF(GetParam());
            QApplication::setFont(font);
        }
        ToolWindowTest::SetUp();
    }
    void TearDown() override {
        ToolWindowTest::TearDown();
        QApplication::setFont(initial);
    }
    const QFont initial = QApplication::font();
};

TEST_P(WholeTexts, EveryLabelAndButtonShowsItsWholeText) {
    win->Help2Click();
    int checked = 0;
    for (QObject *child : win->children()) {
        auto *form = qobject_cast<QWidget *>(child);
        if (!form || !form->isWindow() || *form->metaObject()->className() != 'T') continue;
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
        for (QWidget *control : form->findChildren<QWidget *>()) {
            if (control->window() != form || !control->isVisibleTo(form)) continue;
            const auto *label = qobject_cast<const QLabel *>(control);
            if (!label && !qobject_cast<const QAbstractButton *>(control)) continue;
            SCOPED_TRACE(std::string(form->metaObject()->className()) + " " +
                         control->objectName().toStdString());
            const QSize size = control->size();
            if (label && label->wordWrap()) {
                EXPECT_LE(label->minimumSizeHint().width(), size.width());
                EXPECT_LE(label->heightForWidth(size.width()), size.height());
            } else {
                EXPECT_LE(control->sizeHint().width(), size.width());
                EXPECT_LE(control->sizeHint().height(), size.height());
            }
            ++checked;
        }
        form->hide();
    }
    EXPECT_GT(checked, 50);
}

INSTANTIATE_TEST_SUITE_P(Fonts, WholeTexts, ::testing::Values(0.0, 11.0), [](const auto &info) {
    return info.param > 0 ? "Points" + std::to_string(int(info.param)) : std::string("Default");
});

}  // namespace
