// Executable memory, execution copies, the x87 control word and the host message box on Linux.
#include "platform/platform.h"

#include <dlfcn.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstring>

namespace quob::platform {

namespace {

void *MapLow(std::size_t size, int protection) {
    if (size == 0) return nullptr;
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#if defined(__x86_64__)
    flags |= MAP_32BIT;  // the first 2 GiB: every address fits the record's 32-bit fields
#endif
    void *p = mmap(nullptr, size, protection, flags, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

}  // namespace

void *AllocateLowBlock(std::size_t size) {
    return MapLow(size, PROT_READ | PROT_WRITE | PROT_EXEC);
}

void *AllocateLowData(std::size_t size) { return MapLow(size, PROT_READ | PROT_WRITE); }

bool FreeLowBlock(void *block, std::size_t size) { return munmap(block, size) == 0; }

void *CreateExecutionCopy(const void *code, std::size_t length) {
    if (length == 0) return nullptr;
    void *p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    std::memcpy(p, code, length);
    if (mprotect(p, length, PROT_READ | PROT_EXEC) != 0) {
        munmap(p, length);
        return nullptr;
    }
    return p;
}

void FreeExecutionCopy(void *copy, std::size_t length) {
    if (copy) munmap(copy, length);
}

TX87Control::TX87Control(uint16_t control, Scope scope) : scope_(scope) {
    if (scope == kEnvironment)
        asm volatile("fnstenv %0\n\tfninit" : "=m"(environment_)::"memory");
    else
        asm volatile("fnstcw %0" : "=m"(callerControl_)::"memory");
    asm volatile("fldcw %0" ::"m"(control) : "memory");
}

TX87Control::~TX87Control() {
    if (scope_ == kEnvironment) {
        asm volatile("fldenv %0" ::"m"(environment_) : "memory");
        return;
    }
    // The six exception flags, stack fault, error summary and busy: what FNCLEX clears.
    constexpr uint16_t kStatusFlags = 0x80FF;
    uint16_t status;
    asm volatile("fnstsw %0" : "=m"(status)::"memory");
    if (status & kStatusFlags) asm volatile("fnclex" ::: "memory");
    asm volatile("fldcw %0" ::"m"(callerControl_) : "memory");
}

int MessageBox(const char *text, const char *caption, unsigned style) {
    using HostBox = int (*)(const char *, const char *, unsigned);
    if (auto host = reinterpret_cast<HostBox>(dlsym(RTLD_DEFAULT, "QUOB_HostMessageBox")))
        return host(text, caption, style);
    std::fprintf(stderr, "[%s] %s\n", caption ? caption : "Error", text);
    return 1;
}

}  // namespace quob::platform
