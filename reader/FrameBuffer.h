#pragma once
// The byte buffer holding every payload of one loaded recording. Storage is
// allocated once per load (kept when the caller asks to keep it) and filled
// from a running write position; offsets into it are 32-bit, as in the
// frame index.
#include <cstdint>
#include <memory>

class FrameBuffer
{
public:
    static constexpr uint64_t RecordFileCapacity = 167772160; // 160 MiB

    // Replaces the storage by capacity uninitialised bytes and empties it;
    // false (and no storage) when memory runs out or capacity is beyond 4 GiB.
    bool allocate(uint64_t capacity);
    // Empties the buffer, keeping its storage.
    void clear() { used_ = 0; }
    // Drops what was appended from offset on.
    void truncate(uint64_t offset)
    {
        if (offset < used_)
            used_ = offset;
    }
    // Marks the first n bytes as filled (a bank read straight into data()).
    void setUsed(uint64_t n) { used_ = n < capacity_ ? n : capacity_; }

    // Room for n more bytes at the write position, which advances past them;
    // null (nothing changed) when they do not fit.
    uint8_t *append(uint64_t n, uint32_t *offset);

    uint8_t *data() { return bytes_.get(); }
    const uint8_t *data() const { return bytes_.get(); }
    uint64_t capacity() const { return capacity_; }
    uint64_t used() const { return used_; }

private:
    std::unique_ptr<uint8_t[]> bytes_;
    uint64_t capacity_ = 0;
    uint64_t used_ = 0;
};
