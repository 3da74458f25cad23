// TFloatHardware: the floating-point back end. The language's stack is the x87 register stack.
#pragma once
#include <cstdint>

#include "emitter.h"
#include "functions.h"

namespace quob {

class TFloatHardware {
public:
    TFloatHardware(const BackEndInput &in, Target target);

    // Compiles a real function's body; returns R, or 0 with a code recorded (or none, for an
    // unrecognised word: the driver then records 10).
    int32_t CompileBody();

    // Compiles a recursive function: the loop around the body, N iterations per call.
    // With earlyExit the loop also leaves right after an iteration whose fed-back value has an
    // all-ones exponent (infinity or NaN): the filler's variant.
    int32_t CompileRecursive(int32_t blockLength, bool earlyExit);

private:
    bool Need(int n);
    bool Push();
    bool Temporaries(int n);
    void Resolve();
    bool Keyword(int keyword);
    bool Literal(const char *token);

    bool pendingExchange_ = false;
    int32_t depth_ = 0;
    TScanner &scanner_;
    QUOB_FunctionRecord record_;  // the back end's private copy
    TEmitter emit_;
    int32_t results_ = 0;       // "ret" words compiled so far
    uint32_t codeStart_ = 0;    // block offset of the code: 10 * (P + R')
};

}  // namespace quob
