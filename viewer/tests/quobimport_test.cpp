// The ordinal loader: the real library binds all sixteen imports, from the first folder that holds
// it; a missing library and a library without an export end with a sentence for the user, leaving
// nothing bound.
#include "quobimport.h"

#include <gtest/gtest.h>

namespace {

TEST(QuobImport, BindsTheSixteenImportsOfTheRealLibrary) {
    TQuobLibrary library;
    const TQuobImports &imports = library.Imports();
    std::string error;
    ASSERT_TRUE(library.Load({QUOB_LIBRARY_DIR}, error)) << error;
    for (const void *import :
         {(void *)imports.CreateIBufferEx, (void *)imports.DeleteIBuffer,
          (void *)imports.IBufferMessage, (void *)imports.IBufferDC, (void *)imports.IBufferFilled,
          (void *)imports.CreateFiller, (void *)imports.DeleteFiller, (void *)imports.UpdateFiller,
          (void *)imports.GetFiller, (void *)imports.GetLastError, (void *)imports.GetLastErrorEx,
          (void *)imports.CreateRealFunction, (void *)imports.DeleteFunction,
          (void *)imports.AccessParamByName, (void *)imports.GetFunction,
          (void *)imports.CreateRecursiveFunction})
        EXPECT_NE(import, nullptr);
    EXPECT_EQ(imports.IBufferFilled(0), 1);  // an empty slot counts as filled
    EXPECT_EQ(imports.GetLastError(), 0);
    EXPECT_STREQ(imports.GetLastErrorEx(), "QUOB: Success (code 0)");
    library.Unload();
    EXPECT_EQ(imports.CreateFiller, nullptr);
    // The installed viewer's library lies in a folder after its own.
    ASSERT_TRUE(library.Load({"/nonexistent-folder", QUOB_LIBRARY_DIR}, error)) << error;
    EXPECT_NE(imports.CreateFiller, nullptr);
}

TEST(QuobImport, AMissingLibraryOrOrdinalIsReported) {
    TQuobLibrary library;
    const TQuobImports &imports = library.Imports();
    std::string error;
    // The loader's search path does not hold libquob32.so in the test's environment.
    EXPECT_FALSE(library.Load({"/nonexistent-folder", "/nonexistent-lib"}, error));
    EXPECT_NE(error.find("libquob32.so"), std::string::npos) << error;
    EXPECT_NE(error.find("/nonexistent-folder"), std::string::npos) << error;
    EXPECT_NE(error.find("/nonexistent-lib"), std::string::npos) << error;
    EXPECT_EQ(imports.CreateFiller, nullptr);
    EXPECT_FALSE(library.Load({FAKE_LIBRARY_DIR}, error));
    EXPECT_EQ(error,
              "The ordinal 258 could not be located in the dynamic link library libquob32.so");
    EXPECT_EQ(imports.CreateFiller, nullptr);  // nothing stays bound
}

}  // namespace
