// The stand-in simulator's FSUIPC offset memory: 64 KB of little-endian values shared by
// the link server, the data server, the control commands and the demo flight.
#pragma once

#include "formats/ByteOrder.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

// Told of every read, with the bytes it delivered; called with the memory's lock held, so
// it must be quick and must not touch the memory itself.
class ReadObserver {
public:
    virtual void Observed(std::uint32_t offset, std::uint32_t size, const std::uint8_t* bytes) = 0;

protected:
    ~ReadObserver() = default;
};

class OffsetMemory {
public:
    static constexpr std::size_t Size = 0x10000;

    OffsetMemory() : bytes_(Size, 0) {}

    // Copies size bytes at offset into out; bytes beyond the memory read as 0.
    void Read(std::uint32_t offset, std::uint32_t size, void* out) const {
        std::lock_guard<std::mutex> lock(mutex_);
        auto* dst = static_cast<std::uint8_t*>(out);
        for (std::uint32_t i = 0; i < size; ++i) {
            std::uint64_t at = std::uint64_t(offset) + i;
            dst[i] = at < Size ? bytes_[at] : 0;
        }
        if (observer_) observer_->Observed(offset, size, dst);
    }

    // Copies size bytes from in to offset; bytes beyond the memory are dropped.
    void Write(std::uint32_t offset, std::uint32_t size, const void* in) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto* src = static_cast<const std::uint8_t*>(in);
        for (std::uint32_t i = 0; i < size; ++i) {
            std::uint64_t at = std::uint64_t(offset) + i;
            if (at < Size) bytes_[at] = src[i];
        }
    }

    // Little-endian helpers for whole values of 1, 2, 4 or 8 bytes.
    std::uint64_t ReadUnsigned(std::uint32_t offset, std::uint32_t size) const {
        std::uint8_t b[8] = {};
        Read(offset, size > 8 ? 8 : size, b);
        return GetLe64(b);
    }
    void WriteUnsigned(std::uint32_t offset, std::uint32_t size, std::uint64_t value) {
        std::uint8_t b[8];
        PutLe64(b, value);
        Write(offset, size > 8 ? 8 : size, b);
    }

    // Sets the one observer of reads (nullptr: none). The observer must outlive its setting.
    void SetReadObserver(ReadObserver* observer) {
        std::lock_guard<std::mutex> lock(mutex_);
        observer_ = observer;
    }

private:
    mutable std::mutex mutex_;
    ReadObserver* observer_ = nullptr;
    std::vector<std::uint8_t> bytes_;
};
