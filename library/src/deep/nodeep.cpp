// The deep image buffers' exports in a build without arbitrary precision (GNU MPFR): every deep
// buffer is refused, so that the library's exports are the same in every build.
#include "errors.h"
#include "quob32.h"

extern "C" {

QUOB_API int32_t QUOB_CALL QUOB_CreateDeepBuffer(int32_t, int32_t, int32_t) {
    quob::RecordError(QUOB_ERR_DEEP_UNAVAILABLE);
    return 0;
}

QUOB_API int32_t QUOB_CALL QUOB_DeleteDeepBuffer(int32_t) { return 0; }

QUOB_API int32_t QUOB_CALL QUOB_DeepBufferView(int32_t, const char *, const char *, const char *) {
    return 0;
}

QUOB_API int32_t QUOB_CALL QUOB_DeepBufferMessage(int32_t, int32_t) { return 0; }

QUOB_API void *QUOB_CALL QUOB_DeepBufferDC(int32_t) { return nullptr; }

QUOB_API int32_t QUOB_CALL QUOB_DeepBufferFilled(int32_t) { return 1; }

QUOB_API int32_t QUOB_CALL QUOB_DeepBufferStatus(int32_t, QUOB_DeepStatus *) { return 0; }

QUOB_API int32_t QUOB_CALL QUOB_DeepBufferApproximation(int32_t, int32_t) { return 0; }

}  // extern "C"
