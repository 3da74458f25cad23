// The built libquob32.so as a client sees it: exactly the 25 exports of the ordinal table and the
// 8 of the deep buffers' table, and a
// load that shows the banner, starts with code 0 and leaves the loader's floating-point
// environment alone.
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "quob32.h"

namespace {

// The export table of the interface, family by family, written out independently of the header.
struct Export {
    int32_t family, member;
    const char *name;
};
const Export kExports[] = {
    {0, 1, "QUOB_SetLastError"},   {0, 2, "QUOB_GetLastError"},  {0, 3, "QUOB_GetLastErrorEx"},
    {0, 4, "QUOB_ShowLastError"},  {1, 1, "QUOB_CreateIBuffer"}, {1, 2, "QUOB_CreateIBufferEx"},
    {1, 3, "QUOB_DeleteIBuffer"},  {1, 4, "QUOB_GetIBuffer"},    {1, 5, "QUOB_SelectFiller"},
    {1, 6, "QUOB_IBufferMessage"}, {1, 7, "QUOB_IBufferDC"},     {1, 8, "QUOB_IBufferFilled"},
    {2, 1, "CreateIntFunction"},   {2, 2, "CreateRealFunction"}, {2, 3, "DeleteFunction"},
    {2, 4, "LaunchFunction"},      {2, 5, "AccessResult"},       {2, 6, "AccessParam"},
    {2, 7, "AccessParamByName"},   {2, 8, "GetFunction"},        {2, 9, "CreateRecursiveFunction"},
    {3, 1, "QUOB_CreateFiller"},   {3, 2, "QUOB_DeleteFiller"},  {3, 3, "QUOB_UpdateFiller"},
    {3, 4, "QUOB_GetFiller"},
};
const Export kDeepExports[] = {
    {4, 1, "QUOB_CreateDeepBuffer"}, {4, 2, "QUOB_DeleteDeepBuffer"},
    {4, 3, "QUOB_DeepBufferView"},   {4, 4, "QUOB_DeepBufferMessage"},
    {4, 5, "QUOB_DeepBufferDC"},     {4, 6, "QUOB_DeepBufferFilled"},
    {4, 7, "QUOB_DeepBufferStatus"}, {4, 8, "QUOB_DeepBufferApproximation"},
};

TEST(Exports, OrdinalTableListsEachExportOnce) {
    ASSERT_EQ(QUOB_EXPORT_COUNT, 25);
    ASSERT_EQ(std::size(kExports), 25u);
    for (size_t i = 0; i < std::size(kExports); ++i) {
        EXPECT_EQ(QUOB_ORDINALS[i].Ordinal, kExports[i].family * 256 + kExports[i].member);
        EXPECT_STREQ(QUOB_ORDINALS[i].Name, kExports[i].name);
    }
    ASSERT_EQ(QUOB_DEEP_EXPORT_COUNT, 8);
    ASSERT_EQ(std::size(kDeepExports), 8u);
    for (size_t i = 0; i < std::size(kDeepExports); ++i) {
        EXPECT_EQ(QUOB_DEEP_ORDINALS[i].Ordinal,
                  kDeepExports[i].family * 256 + kDeepExports[i].member);
        EXPECT_STREQ(QUOB_DEEP_ORDINALS[i].Name, kDeepExports[i].name);
    }
}

// Names of the defined global and weak symbols in the file's dynamic symbol table.
std::set<std::string> DefinedDynamicSymbols(const char *path) {
    std::set<std::string> names;
    const int fd = open(path, O_RDONLY);
    EXPECT_GE(fd, 0) << path;
    if (fd < 0) return names;
    struct stat st {};
    fstat(fd, &st);
    void *map = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    EXPECT_NE(map, MAP_FAILED);
    if (map == MAP_FAILED) return names;
    const auto *file = static_cast<const uint8_t *>(map);
    const auto *header = reinterpret_cast<const ElfW(Ehdr) *>(file);
    EXPECT_EQ(std::memcmp(header->e_ident, ELFMAG, SELFMAG), 0);
    const auto *sections = reinterpret_cast<const ElfW(Shdr) *>(file + header->e_shoff);
    for (int i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type != SHT_DYNSYM) continue;
        const ElfW(Shdr) &strings = sections[sections[i].sh_link];
        const auto *symbols = reinterpret_cast<const ElfW(Sym) *>(file + sections[i].sh_offset);
        const size_t count = sections[i].sh_size / sizeof(ElfW(Sym));
        for (size_t s = 0; s < count; ++s) {
            const int bind = symbols[s].st_info >> 4;  // ST_BIND, the same for both classes
            if (symbols[s].st_shndx == SHN_UNDEF || bind == STB_LOCAL) continue;
            names.insert(reinterpret_cast<const char *>(file + strings.sh_offset) +
                         symbols[s].st_name);
        }
    }
    munmap(map, static_cast<size_t>(st.st_size));
    return names;
}

TEST(Exports, DynamicSymbolTableHoldsExactlyTheExports) {
    std::set<std::string> expected;
    for (const Export &e : kExports) expected.insert(e.name);
    for (const Export &e : kDeepExports) expected.insert(e.name);
    EXPECT_EQ(DefinedDynamicSymbols(QUOB_LIBRARY_PATH), expected);
}

struct FloatingPointEnvironment {
    uint16_t control, status;
    uint32_t mxcsr;
    bool operator==(const FloatingPointEnvironment &) const = default;
};

FloatingPointEnvironment Environment() {
    FloatingPointEnvironment env;
    __asm__ volatile("fnstcw %0" : "=m"(env.control));
    __asm__ volatile("fnstsw %0" : "=m"(env.status));
    __asm__ volatile("stmxcsr %0" : "=m"(env.mxcsr));
    return env;
}

void SetEnvironment(uint16_t control, uint32_t mxcsr) {
    __asm__ volatile("fldcw %0" : : "m"(control));
    __asm__ volatile("ldmxcsr %0" : : "m"(mxcsr));
}

// One test, because the load happens once per process.
TEST(Load, BannerFirstCodeAndFloatingPointEnvironment) {
    // Rounding down, double precision, all exceptions masked; MXCSR rounding up;
    // and a sticky division-by-zero flag in the x87 status.
    const FloatingPointEnvironment saved = Environment();
    SetEnvironment(0x067F, 0x5F80);
    volatile long double zero = 0.0L;
    volatile long double infinity = 1.0L / zero;
    (void)infinity;
    const FloatingPointEnvironment before = Environment();

    testing::internal::CaptureStderr();
    void *library = dlopen(QUOB_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    const FloatingPointEnvironment after = Environment();
    const std::string banner = testing::internal::GetCapturedStderr();
    __asm__ volatile("fnclex");
    SetEnvironment(saved.control, saved.mxcsr);

    ASSERT_NE(library, nullptr) << dlerror();
    EXPECT_EQ(before.status & 0x04, 0x04) << "the division by zero set its flag";
    EXPECT_EQ(after.control, before.control);
    EXPECT_EQ(after.status, before.status);
    EXPECT_EQ(after.mxcsr, before.mxcsr);
    EXPECT_NE(banner.find("QUOB32 You're welcome!"), std::string::npos) << banner;
    EXPECT_NE(banner.find("Quob Graphics Library beta 1.0"), std::string::npos) << banner;

    for (const Export &e : kExports) EXPECT_NE(dlsym(library, e.name), nullptr) << e.name;
    const auto getLastError =
        reinterpret_cast<decltype(&QUOB_GetLastError)>(dlsym(library, "QUOB_GetLastError"));
    const auto getLastErrorEx =
        reinterpret_cast<decltype(&QUOB_GetLastErrorEx)>(dlsym(library, "QUOB_GetLastErrorEx"));
    ASSERT_NE(getLastError, nullptr);
    ASSERT_NE(getLastErrorEx, nullptr);
    EXPECT_EQ(getLastError(), 0);
    EXPECT_STREQ(getLastErrorEx(), "QUOB: Success (code 0)");

    // A function left alive is released by the unload.
    const auto create =
        reinterpret_cast<decltype(&CreateRealFunction)>(dlsym(library, "CreateRealFunction"));
    ASSERT_NE(create, nullptr);
    EXPECT_EQ(create("f x = x ret"), 1);
    EXPECT_EQ(dlclose(library), 0);
}

#if defined(__i386__)
// The system convention on IA-32: the callee removes its arguments (RET n). Calls the export with
// zero arguments on a 16-byte aligned stack; returns how many bytes it removed.
uint32_t BytesRemovedByCallee(void *function) {
    uint32_t removed;
    __asm__ volatile(
        "mov %%esp, %%esi\n\t"
        "and $-16, %%esp\n\t"
        "sub $16, %%esp\n\t"
        "movl $0, (%%esp)\n\tmovl $0, 4(%%esp)\n\t"
        "movl $0, 8(%%esp)\n\tmovl $0, 12(%%esp)\n\t"
        "mov %%esp, %%edi\n\t"
        "call *%%edx\n\t"
        "mov %%esp, %%eax\n\t"
        "sub %%edi, %%eax\n\t"
        "mov %%esi, %%esp"
        : "=a"(removed), "+d"(function)
        :
        : "ecx", "esi", "edi", "memory", "cc");
    return removed;
}

TEST(CallingConvention, CalleeRemovesItsArguments) {
    void *library = dlopen(QUOB_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    // Exports that do nothing harmful with zero arguments, one of each argument count.
    const std::pair<const char *, uint32_t> cases[] = {{"QUOB_GetLastError", 0},
                                                       {"QUOB_SetLastError", 4},
                                                       {"AccessParam", 8},
                                                       {"QUOB_UpdateFiller", 12}};
    for (const auto &[name, bytes] : cases)
        EXPECT_EQ(BytesRemovedByCallee(dlsym(library, name)), bytes) << name;
    EXPECT_EQ(dlclose(library), 0);
}
#endif

}  // namespace
