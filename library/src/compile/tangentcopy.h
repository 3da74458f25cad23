// The execution copy of the tangent function's passes: the record's tangent iteration, value for
// value and bit for bit, with the iterate, its derivatives and what else fits held in the x87
// registers across iterations and passes. Within an iteration every value lives in a register
// while it is needed, and goes to a cell of its own (80 bits, exact) only when the eight
// registers are full; the order of the passes, their tests and of every fault is the record's.
#pragma once
#include <cstdint>
#include <map>

#include "compile/codebuffer.h"
#include "compile/frontend.h"

namespace quob {

// Emits the copy of the filler's passes, `blockLength` iterations a pass, into `code`, its cells
// (literals, constants, spilled values) placed from `cellsEnd` on, which it advances; the
// constants' values go to `constants` and `singles`. Of the ways to place the values it emits
// the one with the least memory traffic an iteration. false when none fits the buffer.
bool CompileTangentCopy(const TBody &body, int32_t blockLength, TCodeBuffer &code,
                        uint32_t &cellsEnd, std::map<uint32_t, long double> &constants,
                        std::map<uint32_t, float> &singles);

}  // namespace quob
