// Runs the viewer tests on Qt's offscreen platform with libquob32 bound through the viewer's own
// ordinal loader. The library's banner goes to standard error here: the tests do not export a
// host message box.
#include <QGuiApplication>
#include <cstdio>

#include "viewer_testing.h"

bool RenderingAvailable = false;
std::vector<TRecordedBox> RecordedBoxes;

namespace {
void RecordBox(TBoxIcon icon, const QString &caption, const QString &text) {
    RecordedBoxes.push_back({icon, caption, text});
}
}  // namespace

void ResetViewer() {
    HotSpot.reset();
    CurrentParams.CenterRe = static_cast<double>(HomeRe);
    CurrentParams.CenterIm = static_cast<double>(HomeIm);
    CurrentParams.Scale = static_cast<double>(HomeScale);
    History = std::make_unique<THotSpotStack>();
    History->Push(HomeRe, HomeIm, HomeScale);
    while (QGuiApplication::overrideCursor()) QGuiApplication::restoreOverrideCursor();
    RecordedBoxes.clear();
}

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    MessageBoxHook = RecordBox;
    std::string error;
    if (!LoadQuob32(QUOB_LIBRARY_DIR, error)) {
        std::fprintf(stderr, "viewer_tests: %s\n", error.c_str());
        return 1;
    }
    RenderingAvailable = ViewerInit();
    if (!RenderingAvailable)
        std::fprintf(stderr,
                     "viewer_tests: the rendering engine is unavailable; tests of pictures skip\n");
    const int result = RUN_ALL_TESTS();
    ViewerDone();
    UnloadQuob32();
    return result;
}
