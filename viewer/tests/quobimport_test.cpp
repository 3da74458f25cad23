// The ordinal loader: the real library binds all eleven imports; a missing library and a library
// without an export end with a sentence for the user, leaving nothing bound.
#include "quobimport.h"

#include <gtest/gtest.h>

namespace {

TEST(QuobImport, BindsTheElevenImportsOfTheRealLibrary) {
    std::string error;
    ASSERT_TRUE(LoadQuob32(QUOB_LIBRARY_DIR, error)) << error;
    for (const void *import :
         {(void *)Quob.CreateIBufferEx, (void *)Quob.DeleteIBuffer, (void *)Quob.IBufferMessage,
          (void *)Quob.IBufferDC, (void *)Quob.IBufferFilled, (void *)Quob.CreateFiller,
          (void *)Quob.DeleteFiller, (void *)Quob.UpdateFiller, (void *)Quob.GetFiller,
          (void *)Quob.GetLastError, (void *)Quob.GetLastErrorEx})
        EXPECT_NE(import, nullptr);
    EXPECT_EQ(Quob.IBufferFilled(0), 1);  // an empty slot counts as filled
    EXPECT_EQ(Quob.GetLastError(), 0);
    EXPECT_STREQ(Quob.GetLastErrorEx(), "QUOB: Success (code 0)");
    UnloadQuob32();
    EXPECT_EQ(Quob.CreateFiller, nullptr);
}

TEST(QuobImport, AMissingLibraryOrOrdinalIsReported) {
    std::string error;
    // The loader's search path does not hold libquob32.so in the test's environment.
    EXPECT_FALSE(LoadQuob32("/nonexistent-folder", error));
    EXPECT_NE(error.find("libquob32.so"), std::string::npos) << error;
    EXPECT_NE(error.find("/nonexistent-folder"), std::string::npos) << error;
    EXPECT_EQ(Quob.CreateFiller, nullptr);
    EXPECT_FALSE(LoadQuob32(FAKE_LIBRARY_DIR, error));
    EXPECT_EQ(error,
              "The ordinal 258 could not be located in the dynamic link library libquob32.so");
    EXPECT_EQ(Quob.CreateFiller, nullptr);  // nothing stays bound
}

}  // namespace
