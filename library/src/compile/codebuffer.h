// TCodeBuffer: the machine code of one function while a back end emits it.
#pragma once
#include <cstdint>
#include <vector>

namespace quob {

class TCodeBuffer {
  public:
    static constexpr int32_t kCapacity = 1024;
    static constexpr int32_t kMaxRelocations = 255;

    // A function's code holds kCapacity bytes; code of the library's own (the deep fill's
    // iteration) may take more.
    explicit TCodeBuffer(int32_t capacity = kCapacity)
        : capacity_(capacity), code_(static_cast<std::size_t>(capacity)) {}

    // Each emit stores its bytes and returns 1 when they fit; otherwise it changes nothing,
    // returns 0 and marks the buffer overflowed, so that the compilation fails rather than
    // run truncated code.
    int EmitByte(uint8_t value);
    int EmitWord(uint16_t value);
    int EmitDword(uint32_t value);
    // Records the position of a 32-bit field holding an offset into the function's block.
    int EmitRelocatable(uint32_t offset);

    int32_t Capacity() const { return capacity_; }
    int32_t Length() const { return length_; }
    int32_t RelocationCount() const { return relocationCount_; }
    // The position in the code of the i-th recorded address field.
    int32_t Relocation(int32_t i) const { return relocations_[i]; }
    bool Overflowed() const { return overflowed_; }
    const uint8_t *Code() const { return code_.data(); }

    // Adds base to every recorded address field.
    void Relocate(uint32_t base);
    // Copies the code to destination + offset.
    void CopyOut(void *destination, int32_t offset) const;

  private:
    bool Fits(int32_t bytes);

    int32_t capacity_;
    int32_t length_ = 0;
    int32_t relocationCount_ = 0;
    std::vector<uint8_t> code_;
    int32_t relocations_[kMaxRelocations + 1] = {};
    bool overflowed_ = false;
};

}  // namespace quob
