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

    // The filler's sample loop of a recursive function whose samples are independent: every
    // pass of the execution copy's iterations, each followed by the filler's tests, in one call
    // per sample (sampleloop.h). With a guard exponent (GuardExponent) the iterations run in
    // groups guarded by the held values' magnitudes, and a pass whose guard fails goes on with
    // careful iterations that stop at the first operation that faults, or that would certainly
    // overflow, before computing with its result; otherwise every iteration is followed by the
    // flag test of the variant. The code ends with its own RET. False when the function has no
    // sample loop: its held registers must leave room for the tests.
    bool CompileSampleLoop(TCodeBuffer &code, int32_t guardExponent) const;

  private:
    static constexpr int32_t kX87Registers = kFloatStack;
    // The status flags that make a sample fault (the filler's test): invalid, denormal, zero
    // divide, overflow.
    static constexpr uint8_t kFaultFlags = 0x0F;

    // How an execution copy places the values, from the best choice to the one that needs the
    // fewest registers.
    struct Plan {
        bool holdConstants;  // hold the parameters that are not fed back too (else read from cells)
        bool waitInRegisters;  // a fed-back result still needed by the body waits in a register
    };

    struct Residence {
        Plan plan;
        int32_t fedBack = 0;           // K: results fed back into the first parameters
        int8_t slot[kMaxParams] = {};  // a held parameter's register counted from the bottom, or -1
        int32_t held = 0;
        int32_t lastRead[kMaxParams] = {};  // the last word that reads the parameter, or -1
        std::size_t word = 0;               // the word being compiled
        // Fed-back results that wait for the end of the iteration: in registers right above the
        // held ones (the newest on top), or in their cells.
        int32_t waiting[kMaxResults] = {};
        int32_t waitingCount = 0;
        int32_t stored[kMaxResults] = {};
        int32_t storedCount = 0;
    };

    struct Careful;  // the exits of the careful iterations of a sample loop

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
    void Hold();
    void Iteration();
    void Store();
    uint32_t ResultCell(int32_t k) const;
    // The sample loop (sampleloop.cpp).
    bool SampleLoop(int32_t guardExponent);
    void Guard(TLabel fail);
    void FlagTest(TLabel fault);
    void ClearFaultFlags();
    void PassTests(TLabel next, TLabel done, TLabel escaped);
    void LoadIterate(int32_t p, int32_t above);
    // Careful iterations: the fault test after an operation that can raise a flag, and the
    // operations that would certainly overflow, found before they run.
    void Checked();
    void CertainOverflow(int a, int b);
    TLabel FaultExit();
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
    Careful *careful_ = nullptr;       // the exits of a sample loop being compiled, or none
    bool inCareful_ = false;           // its careful iterations are being compiled
};

}  // namespace quob
