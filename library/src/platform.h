// The thin layer between the library and Linux: executable memory below 2^31, execution copies,
// the host's message box.
#pragma once
#include <cstddef>

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

// Message box styles of the host interface.
constexpr unsigned MB_ICONSTOP = 16;
constexpr unsigned MB_ICONINFORMATION = 64;

// Shows a modal box through the host's QUOB_HostMessageBox when the process defines one; else
// writes caption and text to standard error and returns 1 (OK) at once.
int MessageBox(const char *text, const char *caption, unsigned style);

}  // namespace quob::platform
