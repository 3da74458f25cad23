// libFuzzer target: formula texts through the filler and its pixel routine. The input holds the
// fractal formula up to its first NUL byte and the colour formula after it (without a NUL, the
// colour formula stays the viewer's). Each input is handed to the filler in one update, a small
// picture is drawn with whatever the filler then holds, and the viewer's formulas come back.
// The update always succeeds, the filler keeps exactly its two functions, and the picture ends.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "quob32.h"
#include "viewer_defaults.h"

namespace {

constexpr QUOB_ChangeSet kFormulas = {0, 0, 0, 0, 0, 1, 1};
int32_t filler = 0, buffer = 0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const QUOB_FillerParams defaults = ViewerDefaults();
    filler = QUOB_CreateFiller(&defaults);
    buffer = QUOB_CreateIBufferEx(7, 5, filler);  // also gives the filler its picture size
    Check(filler != 0 && buffer != 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string input(reinterpret_cast<const char *>(data), size);
    const size_t nul = input.find('\0');
    const std::string fractal = input.substr(0, nul);
    const std::string color = nul == std::string::npos ? kDefaultColor : input.substr(nul + 1);
    QUOB_FillerParams params = ViewerDefaults();
    params.FractalFormula = fractal.c_str();
    params.ColorFormula = color.c_str();  // up to its own first NUL
    Check(QUOB_UpdateFiller(filler, &params, kFormulas) == 1);
    Check(LiveFunctions() == 2);
    Check(QUOB_IBufferMessage(buffer, QUOB_MSG_PREVIEW | QUOB_MSG_FILL_SMOOTH) != 0);
    Check(QUOB_IBufferFilled(buffer) == 1);
    const QUOB_FillerParams defaults = ViewerDefaults();
    Check(QUOB_UpdateFiller(filler, &defaults, kFormulas) == 1);
    Check(LiveFunctions() == 2);
    return 0;
}
