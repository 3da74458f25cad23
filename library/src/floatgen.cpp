// The floating-point back end: straight-line x87 code for real functions, and the counted loop of
// recursive functions.
#include "floatgen.h"

#include <cstring>

#include "errors.h"
#include "scanner.h"

namespace quob {

TFloatHardware::TFloatHardware(const BackEndInput &in, Target target)
    : scanner_(in.scanner), record_(in.record), emit_(in.code, target) {}

bool TFloatHardware::Need(int n) {
    if (depth_ >= n) return true;
    RecordError(QUOB_ERR_NOT_ENOUGH_PARAMETERS);
    return false;
}

bool TFloatHardware::Push() {
    if (depth_ >= 8) {
        RecordError(QUOB_ERR_STACK_OVERFLOW);
        return false;
    }
    ++depth_;
    return true;
}

// Room for n registers beyond the current depth, used and released within one keyword.
bool TFloatHardware::Temporaries(int n) {
    if (depth_ + n <= 8) return true;
    RecordError(QUOB_ERR_STACK_OVERFLOW);
    return false;
}

void TFloatHardware::Resolve() {
    if (pendingExchange_ && depth_ > 1) emit_.fxch_st(1);
    pendingExchange_ = false;
}

bool TFloatHardware::Keyword(int keyword) {
    switch (keyword) {
        case kfAdd:
        case kfMul:
            if (!Need(2)) return false;
            pendingExchange_ = false;  // commutative: the order does not matter
            keyword == kfAdd ? emit_.faddp() : emit_.fmulp();
            --depth_;
            return true;
        case kfSub:
        case kfDiv:
            // Top minus (divided by) second: with the pair exchanged, the plain form does it.
            if (!Need(2)) return false;
            if (keyword == kfSub)
                pendingExchange_ ? emit_.fsubp() : emit_.fsubrp();
            else
                pendingExchange_ ? emit_.fdivp() : emit_.fdivrp();
            pendingExchange_ = false;
            --depth_;
            return true;
        case kfRem:
            if (!Need(2)) return false;
            Resolve();
            emit_.fprem();
            emit_.fstp_st(1);
            --depth_;
            return true;
        case kfNeg:
        case kfAbs:
        case kfSqrt:
        case kfSqr:
        case kfSin:
        case kfCos:
        case kf2Px:
        case kfInt:
            if (!Need(1)) return false;
            Resolve();
            switch (keyword) {
                case kfNeg:
                    emit_.fchs();
                    break;
                case kfAbs:
                    emit_.fabs();
                    break;
                case kfSqrt:
                    emit_.fsqrt();
                    break;
                case kfSqr:
                    emit_.fmul_st0_st(0);
                    break;
                case kfSin:
                    emit_.fsin();
                    break;
                case kfCos:
                    emit_.fcos();
                    break;
                case kf2Px:
                    emit_.f2xm1();
                    break;
                default:
                    emit_.frndint();
                    break;
            }
            return true;
        case kfScale:
            if (!Need(2)) return false;
            Resolve();
            emit_.fscale();
            return true;
        case kfSinCos:
        case kfCopy:
            if (!Need(1)) return false;
            if (!Push()) return false;
            Resolve();
            keyword == kfSinCos ? emit_.fsincos() : emit_.fld_st(0);
            return true;
        case kfTan:
        case kfLog2:
            if (!Need(1) || !Temporaries(1)) return false;
            Resolve();
            keyword == kfTan ? emit_.fptan() : emit_.fxtract();
            emit_.ffree_st(0);  // drop FPTAN's 1.0, or FXTRACT's significand
            emit_.fincstp();
            return true;
        case kfPatan:
        case kfYxLog2X:
            if (!Need(2)) return false;
            Resolve();
            keyword == kfPatan ? emit_.fpatan() : emit_.fyl2x();
            --depth_;
            return true;
        case kfSwap:
            if (!Need(2)) return false;
            pendingExchange_ = !pendingExchange_;
            return true;
        case kfPi:
        case kfZero:
        case kfOne:
        case kfLog2Ten:
        case kfLog2E:
        case kfLog10Two:
        case kfLnTwo:
            if (!Push()) return false;
            Resolve();
            switch (keyword) {
                case kfPi:
                    emit_.fldpi();
                    break;
                case kfZero:
                    emit_.fldz();
                    break;
                case kfOne:
                    emit_.fld1();
                    break;
                case kfLog2Ten:
                    emit_.fldl2t();
                    break;
                case kfLog2E:
                    emit_.fldl2e();
                    break;
                case kfLog10Two:
                    emit_.fldlg2();
                    break;
                default:
                    emit_.fldln2();
                    break;
            }
            return true;
        case kfRet:
            if (!Need(1)) return false;
            Resolve();
            emit_.fstp_m80(
                Mem::Cell(static_cast<uint32_t>(kRealWidth * (record_.ParamCount + results_))));
            ++results_;
            --depth_;
            return true;
        case kfDel:
            if (!Need(1)) return false;
            Resolve();
            emit_.ffree_st(0);
            emit_.fincstp();
            --depth_;
            return true;
        case kfExp:
            if (!Need(1) || !Temporaries(2)) return false;
            Resolve();
            emit_.fldl2e();
            emit_.fmulp();  // t = x * log2 e
            emit_.fld_st(0);
            emit_.frndint();       // n
            emit_.fsub_st1_st0();  // f = t - n, below n
            emit_.fld1();
            emit_.fscale();    // 2^n
            emit_.fstp_st(1);  // drop n
            emit_.fxch_st(1);
            emit_.f2xm1();  // 2^f - 1
            emit_.fld1();
            emit_.faddp();  // 2^f
            emit_.fmulp();  // 2^f * 2^n
            return true;
    }
    return false;
}

bool TFloatHardware::Literal(const char *token) {
    RealLiteral literal;
    if (!ParseRealLiteral(token, literal)) return false;  // the driver records 10
    if (!Push()) return false;
    Resolve();
    // The constant sits inline behind a short jump; its address is its position in the code
    // plus the code's start offset in the block.
    uint8_t bytes[10];
    const float single = static_cast<float>(literal.value);
    if (literal.extended)
        std::memcpy(bytes, &literal.value, 10);
    else
        std::memcpy(bytes, &single, 4);
    const TLabel value = emit_.NewLabel();
    const TLabel after = emit_.NewLabel();
    emit_.jmp(after);
    emit_.Bind(value);
    emit_.Data(bytes, literal.extended ? 10 : 4);
    emit_.Bind(after);
    const Mem at = Mem::Cell(codeStart_ + static_cast<uint32_t>(emit_.Position(value)));
    literal.extended ? emit_.fld_m80(at) : emit_.fld_m32(at);
    return true;
}

int32_t TFloatHardware::CompileBody() {
    // Count the "ret" words first: the code's start offset in the block, which inline
    // constants are addressed by, depends on the number of results.
    scanner_.Mark();
    int32_t rets = 0;
    for (const char *t = scanner_.NextToken(); t[0]; t = scanner_.NextToken())
        if (std::strcmp(t, "ret") == 0) ++rets;
    scanner_.Reset();
    codeStart_ = static_cast<uint32_t>(kRealWidth * (record_.ParamCount + rets));

    for (const char *t = scanner_.NextToken(); t[0]; t = scanner_.NextToken()) {
        const int keyword = KeywordIndex(kFloatKeywords, t);
        if (keyword >= 0) {
            if (!Keyword(keyword)) return 0;
            continue;
        }
        int param = -1;
        for (int p = 0; p < record_.ParamCount; ++p)
            if (std::strcmp(record_.Params[p].Name, t) == 0) {
                param = p;
                break;
            }
        if (param >= 0) {
            if (!Push()) return 0;
            Resolve();
            emit_.fld_m80(Mem::Cell(record_.Params[param].Address));
            continue;
        }
        if (!Literal(t)) return 0;
    }
    if (depth_ != 0) {
        RecordError(QUOB_ERR_STACK_NOT_EMPTY);
        return 0;
    }
    if (results_ == 0) {
        RecordError(QUOB_ERR_INVALID_EXPRESSION);
        return 0;
    }
    return results_;
}

int32_t TFloatHardware::CompileRecursive(int32_t blockLength, bool earlyExit) {
    emit_.mov_r_imm(EAX, static_cast<uint32_t>(blockLength));
    const TLabel loop = emit_.NewLabel();
    const TLabel loopEnd = emit_.NewLabel();
    emit_.Bind(loop);
    const int32_t results = CompileBody();
    if (results < 1 || record_.ParamCount == 0) {
        RecordError(record_.ParamCount == 0 ? QUOB_ERR_RECURSIVE_NO_PARAMETER
                                            : QUOB_ERR_RECURSIVE_NO_RESULT);
        return 0;
    }
    const int32_t fed = results < record_.ParamCount ? results : record_.ParamCount;
    const uint32_t resultsAt = static_cast<uint32_t>(kRealWidth * record_.ParamCount);
    // Each test of an exponent word leaves the loop, past the remaining copies and tests.
    auto exponentTest = [&] {
        emit_.and_r_imm(ECX, 0x7FFF);
        emit_.cmp_r_imm(ECX, 0x7FFF);
        emit_.jcc(Cond::E, loopEnd);
    };
    if (emit_.target() == Target::IA32) {
        // REP MOVSW copies results 0..K-1 over parameters 0..K-1, 10 bytes each.
        emit_.mov_r_cell(EDI, 0);
        emit_.mov_r_cell(ESI, resultsAt);
        emit_.mov_r_imm(ECX, static_cast<uint32_t>(5 * fed));
        emit_.rep_movsw();
        if (earlyExit) {
            for (int32_t k = 0; k < fed; ++k) {
                emit_.movzx_r_m16(ECX, Mem::Cell(static_cast<uint32_t>(kRealWidth * k + 8)));
                exponentTest();
            }
        }
    } else {
        // Each value moves as 8 + 2 bytes through RCX: the next iteration's 80-bit loads then
        // take their data straight from these stores, which the 2-byte stores of REP MOVSW
        // prevent. The exponent word ends up in CX, ready for the variant's test.
        for (int32_t k = 0; k < fed; ++k) {
            const auto result = resultsAt + static_cast<uint32_t>(kRealWidth * k);
            const auto param = static_cast<uint32_t>(kRealWidth * k);
            emit_.mov_r64_m(ECX, Mem::Cell(result));
            emit_.mov_m_r64(Mem::Cell(param), ECX);
            emit_.movzx_r_m16(ECX, Mem::Cell(result + 8));
            emit_.mov_m_r16(Mem::Cell(param + 8), ECX);
            if (earlyExit) exponentTest();
        }
    }
    emit_.dec_r(EAX);
    emit_.jcc(Cond::NE, loop, JumpForm::Near);
    emit_.Bind(loopEnd);
    return results;
}

}  // namespace quob
