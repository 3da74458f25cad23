// TFloatHardware: the floating-point back end. The language's stack is the x87 register stack.
#pragma once
#include <cstdint>
#include <vector>

#include "compile/backend.h"
#include "compile/emitter.h"

namespace quob {

class TFloatHardware {
  public:
    TFloatHardware(const BackEndInput &in, Target target);

    // Compiles a real function's body; returns R.
    int32_t CompileBody();

    // Compiles a recursive function: the loop around the body, N iterations per call.
    int32_t CompileRecursive(int32_t blockLength);

    // After a successful compilation: the execution copy of the function, register-resident
    // code with the same arithmetic on the same values in the same order (see floatgen.cpp).
    // leaveOnFault (recursive functions, the filler's variant): the loop also leaves right after
    // an iteration that raised a fault flag (invalid, denormal, zero divide, overflow). False
    // when the function keeps the record's code as its execution copy, and without a variant.
    bool CompileExecutionCopy(TCodeBuffer &code, bool leaveOnFault) const;

  private:
    struct Residence;  // what the execution copy keeps in x87 registers
    struct Plan;

    TFloatHardware(const TFloatHardware &compiled, TCodeBuffer &code, Residence &residence);

    int32_t Base() const;  // registers below the language's stack
    // Room for n more registers beyond the current depth; an execution copy that has none gives up.
    void Room(int n) const;
    void Resolve();
    // Compiles words_[i] (and, in the execution copy, an operation fused with it); returns the
    // number of words taken.
    std::size_t Word(std::size_t i);
    void Keyword(int keyword);
    void Param(int32_t p);
    void FusedParam(int32_t p, int keyword);
    void Literal(std::size_t i);
    void Return();
    void Translate(bool leaveOnFault);
    int32_t HeldPosition(int32_t p) const;  // ST(i) of a held parameter
    void CopyCell(uint32_t from, uint32_t to);

    bool pendingExchange_ = false;
    int32_t depth_ = 0;
    const TBody &body_;
    QUOB_FunctionRecord record_;  // the back end's private copy
    TEmitter emit_;
    int32_t results_ = 0;              // "ret" words compiled so far
    uint32_t codeStart_ = 0;           // block offset of the code: 10 * (P + R')
    int32_t blockLength_ = 0;          // recursive functions: iterations per call
    std::vector<uint32_t> literalAt_;  // per word: a literal's block offset in the record's code
    Residence *residence_ = nullptr;   // the execution copy being compiled, or none
};

}  // namespace quob
