// Creates, runs and deletes 10,000 functions through the library's exports, for valgrind's leak
// check, and deep buffers whose fills finish, are stopped or are left running; also leaves a few
// functions and a deep buffer alive, which unloading must release.
#include <cstdio>

#include "quob32.h"

int main() {
    for (int i = 0; i < 10000; ++i) {
        const int32_t f = CreateRecursiveFunction("f x y = x y * ret y 2 + ret", 10);
        const int32_t g = CreateRealFunction("g x = x 1 + x 3 \\ + x sin + ret");
        const int32_t bad = CreateRealFunction("h x = x x");
        if (!f || !g || bad) return 1;
        LaunchFunction(f);
        LaunchFunction(g);
        if (!DeleteFunction(f) || !DeleteFunction(g)) return 1;
    }
    // Deep buffers: a fill that finishes, one stopped with its orbit under way, one left.
    const char *const fractal = "tx ty x y = x ty sqr tx sqr -+ret y 2 tx ty **+ret";
    const char *const color = "x y = x 99 * ret y 99 * ret 0 ret";
    QUOB_FillerParams p = {1, nullptr, "leak probe", 8, 6,  fractal, color, 0, 1, 1e-30,
                           2, 0,       20,           0, 10, 0,       0};
    const int32_t filler = QUOB_CreateFiller(&p);
    if (!filler) return 1;
    constexpr int32_t redraw = QUOB_MSG_PREVIEW + QUOB_MSG_FILL_SMOOTH + QUOB_MSG_THREAD;
    const int32_t deep = QUOB_CreateDeepBuffer(8, 6, filler);
    if (!deep || !QUOB_DeepBufferView(deep, "0", "1", "1e-30") ||
        !QUOB_DeepBufferMessage(deep, redraw))
        return 1;
    while (!QUOB_DeepBufferFilled(deep)) {
    }
    if (!QUOB_DeepBufferView(deep, "0", "1", "1e-300") || !QUOB_DeepBufferMessage(deep, redraw) ||
        !QUOB_DeepBufferMessage(deep, QUOB_MSG_STOP) || !QUOB_DeleteDeepBuffer(deep))
        return 1;
    const int32_t left = QUOB_CreateDeepBuffer(8, 6, filler);
    if (!left || !QUOB_DeepBufferView(left, "0", "1", "1e-40") ||
        !QUOB_DeepBufferMessage(left, redraw))
        return 1;
    for (int i = 0; i < 5; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "k%d x = x ret", i);
        if (!CreateRealFunction(text)) return 1;
    }
    return 0;
}
