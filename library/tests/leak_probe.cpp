// Creates, runs and deletes 10,000 functions through the library's exports, for valgrind's leak
// check; also leaves a few functions alive, which unloading must release.
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
    for (int i = 0; i < 5; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "k%d x = x ret", i);
        if (!CreateRealFunction(text)) return 1;
    }
    return 0;
}
