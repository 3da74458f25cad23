// A stand-in libquob32.so that lacks most exports, for the loader's unresolved-ordinal path.
#include "quob32.h"

extern "C" __attribute__((visibility("default"))) int32_t QUOB_CreateFiller(
    const QUOB_FillerParams *) {
    return 0;
}
