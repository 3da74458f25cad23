// Placeholder for the rendering unit until the filler and the image buffers are built:
// every operation fails as on an empty slot.
#include "quob32.h"
#include "rendering.h"

namespace quob {
void RenderingUnitInit() {}
void RenderingUnitDone() {}
}  // namespace quob

extern "C" {
QUOB_API int32_t QUOB_CALL QUOB_CreateIBuffer(int32_t, int32_t) { return 0; }
QUOB_API int32_t QUOB_CALL QUOB_CreateIBufferEx(int32_t, int32_t, int32_t) { return 0; }
QUOB_API int32_t QUOB_CALL QUOB_DeleteIBuffer(int32_t) { return 0; }
QUOB_API int32_t QUOB_CALL QUOB_GetIBuffer(int32_t, QUOB_IBufferInfo *) { return 0; }
QUOB_API int32_t QUOB_CALL QUOB_SelectFiller(int32_t, int32_t) { return 0; }
QUOB_API int32_t QUOB_CALL QUOB_IBufferMessage(int32_t, int32_t) { return 0; }
QUOB_API void *QUOB_CALL QUOB_IBufferDC(int32_t) { return nullptr; }
QUOB_API int32_t QUOB_CALL QUOB_IBufferFilled(int32_t) { return 1; }
QUOB_API int32_t QUOB_CALL QUOB_CreateFiller(const QUOB_FillerParams *) { return 0; }
QUOB_API int32_t QUOB_CALL QUOB_DeleteFiller(int32_t) { return 0; }
QUOB_API int32_t QUOB_CALL QUOB_UpdateFiller(int32_t, const QUOB_FillerParams *, const uint8_t *) {
    return 0;
}
QUOB_API int32_t QUOB_CALL QUOB_GetFiller(int32_t, QUOB_FillerParams *) { return 0; }
}
