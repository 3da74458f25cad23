// The thin layer between the library and the processor and Linux: executable memory below 2^31,
// execution copies, the x87 unit's control word, the host's message box.
#pragma once
#include <cstddef>
#include <cstdint>

namespace quob::platform {

// Zero-filled readable, writable and executable memory whose every address fits the 32-bit
// address fields of records and generated code (on x86-64: below 2^31). nullptr on failure.
void *AllocateLowBlock(std::size_t size);
bool FreeLowBlock(void *block, std::size_t size);

// Zero-filled readable and writable memory at 32-bit addresses, likewise (the lookup tables, which
// generated code reads by 32-bit absolute address). nullptr on failure; released with FreeLowBlock.
void *AllocateLowData(std::size_t size);

// A read-and-execute copy of code, in pages of its own: stores into a function's value cells
// then never land near the instructions that run.
void *CreateExecutionCopy(const void *code, std::size_t length);
void FreeExecutionCopy(void *copy, std::size_t length);

// The x87 unit of the calling thread under a control word of the library's own while the object
// lives: every place that runs generated code saves and restores through it. With kControlWord
// the caller's control word comes back at the end, after the status flags are cleared when any is
// set (FNCLEX waits for the whole unit, so only then), so that no exception raised here is left
// pending under the caller's mask. With kEnvironment the caller's whole x87 environment (control
// word, status flags, register tags) is saved, the unit starts empty, and all of it comes back.
class TX87Control {
  public:
    enum Scope : uint8_t { kControlWord, kEnvironment };
    TX87Control(uint16_t control, Scope scope);
    ~TX87Control();
    TX87Control(const TX87Control &) = delete;
    TX87Control &operator=(const TX87Control &) = delete;

  private:
    struct Environment {
        uint8_t bytes[28];  // FNSTENV's 32-bit layout, in both modes of the processor
    };
    const Scope scope_;
    uint16_t callerControl_ = 0;
    Environment environment_ = {};
};

// Keeps the computation of value before the x87 operations that follow it in program order (the
// end of a TX87Control): the compiler may otherwise move register arithmetic across them.
inline void ComputedBefore(uint32_t value) { asm volatile("" ::"r"(value)); }

// Message box styles of the host interface.
constexpr unsigned MB_ICONSTOP = 16;
constexpr unsigned MB_ICONINFORMATION = 64;

// Shows a modal box through the host's QUOB_HostMessageBox when the process defines one; else
// writes caption and text to standard error and returns 1 (OK) at once.
int MessageBox(const char *text, const char *caption, unsigned style);

}  // namespace quob::platform
