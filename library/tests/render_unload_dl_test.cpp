// Unloading the library while a worker fills a picture: the worker is stopped, the buffers and
// the filler go, and a new load starts from empty tables.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "quob32.h"

namespace {

struct Library {
    void *handle = dlopen(QUOB_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    template <class F>
    F *Get(const char *name) const {
        return reinterpret_cast<F *>(dlsym(handle, name));
    }
};

TEST(RenderUnload, RunningFillEndsWithTheLibrary) {
    for (int round = 0; round < 3; ++round) {
        Library lib;
        ASSERT_NE(lib.handle, nullptr) << dlerror();
        auto create = lib.Get<decltype(QUOB_CreateFiller)>("QUOB_CreateFiller");
        auto buffer = lib.Get<decltype(QUOB_CreateIBufferEx)>("QUOB_CreateIBufferEx");
        auto message = lib.Get<decltype(QUOB_IBufferMessage)>("QUOB_IBufferMessage");
        auto filled = lib.Get<decltype(QUOB_IBufferFilled)>("QUOB_IBufferFilled");
        ASSERT_TRUE(create && buffer && message && filled);

        QUOB_FillerParams p{};
        p.Version = 1;
        p.FractalFormula = "tx ty x y = x ty sqr tx sqr -+ret y 2 tx ty **+ret";
        p.ColorFormula = "x y = x ret y ret 0 ret";
        p.CenterRe = -0.5;
        p.Scale = 2;
        p.MaxModule = 2;
        p.IterationsLimit = 100;  // points inside never settle: a long fill
        p.BlockLength = 1000;
        EXPECT_EQ(create(&p), 1);           // the filler of the previous load is gone
        EXPECT_EQ(buffer(400, 300, 1), 1);  // and so is its buffer
        ASSERT_EQ(message(1, QUOB_MSG_FILL_SMOOTH | QUOB_MSG_THREAD), 1);
        EXPECT_EQ(filled(1), 0);
        ASSERT_EQ(dlclose(lib.handle), 0);
        EXPECT_EQ(dlopen(QUOB_LIBRARY_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);  // really unloaded
    }
}

}  // namespace
