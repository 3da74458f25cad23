#include "compile/codebuffer.h"

#include <cstring>

namespace quob {

bool TCodeBuffer::Fits(int32_t bytes) {
    if (length_ + bytes <= capacity_) return true;
    overflowed_ = true;
    return false;
}

int TCodeBuffer::EmitByte(uint8_t value) {
    if (!Fits(1)) return 0;
    code_[length_++] = value;
    return 1;
}

int TCodeBuffer::EmitWord(uint16_t value) {
    if (!Fits(2)) return 0;
    std::memcpy(code_.data() + length_, &value, 2);  // x86 is little-endian, as the code is
    length_ += 2;
    return 1;
}

int TCodeBuffer::EmitDword(uint32_t value) {
    if (!Fits(4)) return 0;
    std::memcpy(code_.data() + length_, &value, 4);
    length_ += 4;
    return 1;
}

int TCodeBuffer::EmitRelocatable(uint32_t offset) {
    if (relocationCount_ >= kMaxRelocations) {
        overflowed_ = true;
        return 0;
    }
    if (!Fits(4)) return 0;
    relocations_[relocationCount_++] = length_;
    return EmitDword(offset);
}

void TCodeBuffer::Relocate(uint32_t base) {
    for (int32_t i = 0; i < relocationCount_; ++i) {
        uint32_t field;
        std::memcpy(&field, code_.data() + relocations_[i], 4);
        field += base;
        std::memcpy(code_.data() + relocations_[i], &field, 4);
    }
}

void TCodeBuffer::CopyOut(void *destination, int32_t offset) const {
    if (length_ > 0)
        std::memcpy(static_cast<uint8_t *>(destination) + offset, code_.data(), length_);
}

}  // namespace quob
