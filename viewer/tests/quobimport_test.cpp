// The ordinal loader: the real library binds all nine imports; a missing library and a library
// without an export end with a sentence for the user, leaving nothing bound.
#include "quobimport.h"

#include <gtest/gtest.h>

namespace {

TEST(QuobImport, BindsTheNineImportsOfTheRealLibrary) {
    std::string error;
    ASSERT_TRUE(LoadQuob32(QUOB_LIBRARY_DIR, error)) << error;
    EXPECT_NE(Quob.CreateIBufferEx, nullptr);
    EXPECT_NE(Quob.DeleteIBuffer, nullptr);
    EXPECT_NE(Quob.IBufferMessage, nullptr);
    EXPECT_NE(Quob.IBufferDC, nullptr);
    EXPECT_NE(Quob.IBufferFilled, nullptr);
    EXPECT_NE(Quob.CreateFiller, nullptr);
    EXPECT_NE(Quob.DeleteFiller, nullptr);
    EXPECT_NE(Quob.UpdateFiller, nullptr);
    EXPECT_NE(Quob.GetFiller, nullptr);
    EXPECT_EQ(Quob.IBufferFilled(0), 1);  // an empty slot counts as filled
    UnloadQuob32();
    EXPECT_EQ(Quob.CreateFiller, nullptr);
}

TEST(QuobImport, AMissingLibraryIsReported) {
    std::string error;
    // The loader's search path does not hold libquob32.so in the test's environment.
    EXPECT_FALSE(LoadQuob32("/nonexistent-folder", error));
    EXPECT_NE(error.find("libquob32.so"), std::string::npos) << error;
    EXPECT_NE(error.find("/nonexistent-folder"), std::string::npos) << error;
    EXPECT_EQ(Quob.CreateFiller, nullptr);
}

TEST(QuobImport, AnUnresolvedOrdinalIsReported) {
    std::string error;
    EXPECT_FALSE(LoadQuob32(FAKE_LIBRARY_DIR, error));
    EXPECT_EQ(error,
              "The ordinal 258 could not be located in the dynamic link library libquob32.so");
    EXPECT_EQ(Quob.CreateFiller, nullptr);  // nothing stays bound
}

}  // namespace
