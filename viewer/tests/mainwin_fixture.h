// A shown main window whose display has a chosen size, driven with Qt Test's window-level event
// helpers, which pass through Qt's own double-click detection like events of the window system.
#ifndef SPIRALIS_MAINWIN_FIXTURE_H
#define SPIRALIS_MAINWIN_FIXTURE_H

#include <QTest>
#include <QWindow>

#include "viewer_testing.h"

class MainWinTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetViewer();
        win = std::make_unique<TMainWin>();
        win->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(win.get()));
        ResizeDisplay(QSize(314, 125));
        win->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(win.get()));
        RecordedBoxes.clear();
    }
    void TearDown() override {
        win.reset();
        ResetViewer();
    }

    void ResizeDisplay(QSize size) {
        win->resize(win->size() + size - win->Display->size());
        QTRY_COMPARE_WITH_TIMEOUT(win->Display->size(), size, 5000);
        QCoreApplication::processEvents();
    }

    QWindow *Window() const { return win->windowHandle(); }
    QPoint At(QPoint p) const { return Window()->mapFromGlobal(win->Display->mapToGlobal(p)); }
    void Press(QPoint p) { QTest::mousePress(Window(), Qt::LeftButton, {}, At(p)); }
    void Release(QPoint p) { QTest::mouseRelease(Window(), Qt::LeftButton, {}, At(p)); }
    void Move(QPoint p) { QTest::mouseMove(Window(), At(p)); }
    void Click(QPoint p) { QTest::mouseClick(Window(), Qt::LeftButton, {}, At(p)); }
    void DoubleClick(QPoint p) { QTest::mouseDClick(Window(), Qt::LeftButton, {}, At(p)); }
    void Key(int key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(win.get(), static_cast<Qt::Key>(key), modifiers);
        QCoreApplication::processEvents();
    }

    // Waits until the buffer's worker has ended, so that its pixels stay put.
    void WaitFilled() { QTRY_VERIFY_WITH_TIMEOUT(Quob.IBufferFilled(BufferHandle), 20000); }

    std::unique_ptr<TMainWin> win;
};

#endif  // SPIRALIS_MAINWIN_FIXTURE_H
