// How many x87 operations a sample runs on an infinity, a NaN or a denormal, or with a result that
// overflows: the operations that some processors finish by a slow microcode assist, counted on any
// processor by stepping through the pixel routine an instruction at a time (the trap flag) and
// looking at each x87 instruction's operands before it runs and at the overflow flag after.
#include <gtest/gtest.h>
#include <signal.h>
#include <ucontext.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "fill/filler.h"
#include "render_support.h"

namespace quob::test {
namespace {

#if defined(__x86_64__)

// ---- one x87 instruction and its operands ---------------------------------------------------

bool SpecialExtended(const _libc_fpxreg &r) {
    const uint16_t e = r.exponent & 0x7FFF;
    const bool integer = r.significand[3] & 0x8000;
    const bool fraction =
        (r.significand[3] & 0x7FFF) | r.significand[2] | r.significand[1] | r.significand[0];
    if (e == 0x7FFF) return true;            // an infinity or a NaN
    if (e == 0) return integer || fraction;  // a denormal
    return !integer;                         // an encoding the unit does not support
}

bool SpecialSingle(uint32_t b) {
    const uint32_t e = b >> 23 & 0xFF;
    return e == 0xFF || (e == 0 && (b & 0x7FFFFF));
}

bool SpecialDouble(uint64_t b) {
    const uint64_t e = b >> 52 & 0x7FF;
    return e == 0x7FF || (e == 0 && (b & 0xFFFFFFFFFFFFFull));
}

// Whether the instruction at rip is an x87 operation that computes (moves, loads of extended
// values, control and status instructions do not) and whether an operand of it is special.
struct TInstruction {
    bool computes = false;
    bool special = false;
};

TInstruction Decode(const uint8_t *p, const ucontext_t &uc) {
    static const int kGreg[16] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP,
                                  REG_RSI, REG_RDI, REG_R8,  REG_R9,  REG_R10, REG_R11,
                                  REG_R12, REG_R13, REG_R14, REG_R15};
    bool address32 = false;
    for (;; ++p) {
        if (*p == 0x67)
            address32 = true;
        else if (*p != 0x66 && *p != 0xF2 && *p != 0xF3 && *p != 0x2E && *p != 0x3E && *p != 0x26 &&
                 *p != 0x36 && *p != 0x64 && *p != 0x65)
            break;
    }
    uint8_t rex = 0;
    if ((*p & 0xF0) == 0x40) rex = *p++;
    const uint8_t op = *p++;
    if (op < 0xD8 || op > 0xDF) return {};
    const uint8_t modrm = *p++;
    const int mod = modrm >> 6, reg = modrm >> 3 & 7, rm = modrm & 7;
    const _libc_fpxreg *st = uc.uc_mcontext.fpregs->_st;
    auto regs = [&](std::initializer_list<int> which) {
        TInstruction t{true, false};
        for (const int i : which) t.special = t.special || SpecialExtended(st[i]);
        return t;
    };
    if (mod == 3) {
        switch (op) {
            case 0xD8:
                return regs({0, rm});
            case 0xDC:
            case 0xDE:
                return regs({rm, 0});
            case 0xDA:
                return modrm == 0xE9 ? regs({0, 1}) : TInstruction{};
            case 0xDB:
            case 0xDF:
                return reg == 5 || reg == 6 ? regs({0, rm}) : TInstruction{};
            case 0xDD:
                return reg == 4 || reg == 5 ? regs({0, rm}) : TInstruction{};
            default:
                break;
        }
        switch (modrm) {  // D9
            case 0xE4:
            case 0xF0:
            case 0xF2:
            case 0xF4:
            case 0xFA:
            case 0xFB:
            case 0xFC:
            case 0xFE:
            case 0xFF:
                return regs({0});
            case 0xF1:
            case 0xF3:
            case 0xF5:
            case 0xF8:
            case 0xF9:
            case 0xFD:
                return regs({0, 1});
            default:
                return {};
        }
    }
    // The memory operand's address.
    auto greg = [&](int r) { return static_cast<uint64_t>(uc.uc_mcontext.gregs[kGreg[r]]); };
    uint64_t address = 0;
    if (rm == 4) {
        const uint8_t sib = *p++;
        const int base = (sib & 7) | (rex & 1) << 3, index = (sib >> 3 & 7) | (rex & 2) << 2;
        if (index != 4) address += greg(index) << (sib >> 6);
        if ((sib & 7) == 5 && mod == 0) {
            int32_t d;
            std::memcpy(&d, p, 4), p += 4;
            address += static_cast<uint64_t>(int64_t{d});
        } else {
            address += greg(base);
        }
    } else if (rm == 5 && mod == 0) {
        int32_t d;
        std::memcpy(&d, p, 4), p += 4;
        address = reinterpret_cast<uint64_t>(p) + static_cast<uint64_t>(int64_t{d});
    } else {
        address = greg(rm | (rex & 1) << 3);
    }
    if (mod == 1) address += static_cast<uint64_t>(int64_t{static_cast<int8_t>(*p)});
    if (mod == 2) {
        int32_t d;
        std::memcpy(&d, p, 4);
        address += static_cast<uint64_t>(int64_t{d});
    }
    if (address32) address &= 0xFFFFFFFFull;
    const auto *m = reinterpret_cast<const uint8_t *>(address);
    auto single = [&] {
        uint32_t b;
        std::memcpy(&b, m, 4);
        return SpecialSingle(b);
    };
    auto dbl = [&] {
        uint64_t b;
        std::memcpy(&b, m, 8);
        return SpecialDouble(b);
    };
    switch (op) {
        case 0xD8:
            return {true, SpecialExtended(st[0]) || single()};
        case 0xDC:
            return {true, SpecialExtended(st[0]) || dbl()};
        case 0xDA:
        case 0xDE:
            return regs({0});
        case 0xD9:
            if (reg == 0) return {true, single()};
            return reg == 2 || reg == 3 ? TInstruction{true, false} : TInstruction{};
        case 0xDD:
            if (reg == 0) return {true, dbl()};
            if (reg == 1) return regs({0});
            return reg == 2 || reg == 3 ? TInstruction{true, false} : TInstruction{};
        case 0xDB:
            return reg >= 1 && reg <= 3 ? regs({0}) : TInstruction{};
        default:  // DF
            return reg == 1 || reg == 2 || reg == 3 || reg == 6 || reg == 7 ? regs({0})
                                                                            : TInstruction{};
    }
}

// ---- stepping ------------------------------------------------------------------------------

struct TCounter {
    int64_t count = 0;
    bool pending = false;  // an x87 instruction ran since the last trap
    bool pendingSpecial = false;
    uint16_t statusBefore = 0;
};
TCounter gCounter;

void OnTrap(int, siginfo_t *, void *context) {
    const auto &uc = *static_cast<const ucontext_t *>(context);
    const uint16_t status = uc.uc_mcontext.fpregs->swd;
    // An overflow the instruction itself raised (its operands were not special).
    if (gCounter.pending && !gCounter.pendingSpecial && !(gCounter.statusBefore & 0x08) &&
        (status & 0x08))
        ++gCounter.count;
    gCounter.pending = false;
    const TInstruction i =
        Decode(reinterpret_cast<const uint8_t *>(uc.uc_mcontext.gregs[REG_RIP]), uc);
    if (!i.computes) return;
    gCounter.pending = true;
    gCounter.pendingSpecial = i.special;
    gCounter.statusBefore = status;
    if (i.special) ++gCounter.count;
}

// The slow operations of one sample of the pixel routine.
int64_t SlowOperations(int32_t x, int32_t y) {
    struct sigaction action {
    }, old{};
    action.sa_sigaction = OnTrap;
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGTRAP, &action, &old);
    gCounter = {};
    asm volatile("pushfq\n\torq $0x100, (%%rsp)\n\tpopfq" ::: "memory", "cc");
    const uint32_t colour = quob_pixel_routine(x, y);
    asm volatile("pushfq\n\tandq $-0x101, (%%rsp)\n\tpopfq" ::: "memory", "cc");
    sigaction(SIGTRAP, &old, nullptr);
    (void)colour;
    return gCounter.count;
}

// ---- views ---------------------------------------------------------------------------------

struct SlowCase {
    const char *name;
    double re, im, scale;
    int32_t blockLength;
    int64_t mostWithFastPaths;  // per sample
    double fewestWithout;       // on average over the samples, with the fast paths off
};

void PrintTo(const SlowCase &c, std::ostream *os) { *os << c.name; }

class SlowOperationsPerSample : public RenderTest,
                                public ::testing::WithParamInterface<SlowCase> {};

// With the fast paths, an escaping sample meets at most one slow operation (an overflow its
// pass could not tell in advance); without them, the rest of the overflowing iteration computes
// with infinities and NaNs, or the colour formula does.
TEST_P(SlowOperationsPerSample, AtMostOneWithTheFastPaths) {
    const SlowCase &c = GetParam();
    QUOB_FillerParams p = DefaultParams();
    p.CenterRe = c.re, p.CenterIm = c.im, p.Scale = c.scale, p.BlockLength = c.blockLength;
    p.Width = 32, p.Height = 24;
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_WIDTH, QUOB_FP_HEIGHT}.flags), 1);
    int64_t most = 0, without = 0, samples = 0;
    for (int32_t y = 0; y < 24; y += 5)
        for (int32_t x = 0; x < 32; x += 5) {
            most = std::max(most, SlowOperations(x, y));
            UseFastPaths(false);
            without += SlowOperations(x, y);
            UseFastPaths(true);
            ++samples;
        }
    std::printf("%s: at most %lld with the fast paths, %.1f on average without\n", c.name,
                static_cast<long long>(most), static_cast<double>(without) / samples);
    EXPECT_LE(most, c.mostWithFastPaths);
    EXPECT_GE(static_cast<double>(without) / samples, c.fewestWithout);
}

INSTANTIATE_TEST_SUITE_P(
    Views, SlowOperationsPerSample,
    ::testing::Values(
        // Every sample overflows in its thirteenth iteration, inside the pass of 20.
        SlowCase{"Escaping", 3, 3, 0.5, 20, 1, 4.5},
        // The pass of 12 ends before: the colour formula meets the huge iterate.
        SlowCase{"EscapingBlock12", 3, 3, 0.5, 12, 1, 8}, SlowCase{"Outside", 5, 5, 2, 20, 1, 4.5},
        // The home view: most samples escape inside their pass, the others settle.
        SlowCase{"Home", -0.5, 0, 2, 20, 1, 2}),
    [](const auto &info) { return std::string(info.param.name); });

#else

TEST(SlowOperationsPerSample, CountedOnX86_64) { GTEST_SKIP() << "the counter reads x86-64 state"; }

#endif

}  // namespace
}  // namespace quob::test
