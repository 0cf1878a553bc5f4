#pragma once
// One bzip2 block decoded without the library: for the block-parallel path, where every
// block is decoded on its own.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// Bytes without the zero-filling of std::vector, for buffers that are written before read.
class TBZ2Bytes {
public:
    char* data() { return data_.get(); }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    void clear() { size_ = 0; }
    void setSize(std::size_t n) { size_ = n; }
    // Keeps the first size() bytes.
    void reserve(std::size_t n);

private:
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Decodes blocks one after another, keeping its tables and work memory from block to block.
class TBZ2BlockDecoder {
public:
    // The block whose magic starts at bit `startBit` of `data` and whose last bit comes right
    // before `endBit`, for a stream of level `level` (1..9). On success `out` holds exactly
    // the block's bytes and their CRC equals the one the block header carries. False, with
    // `out` unspecified, for anything the decoder cannot vouch for: damaged data, a block
    // that ends before or after `endBit`, a CRC that does not match, and also randomised
    // blocks (written only by encoders of the 1990s), which are left to the library.
    bool decode(std::span<const std::uint8_t> data, std::uint64_t startBit, std::uint64_t endBit, int level,
                TBZ2Bytes& out);

    enum class TResult { Good, WrongCrc, Refused };
    // The block at `startBit`, wherever it ends: with Good or WrongCrc, `out` holds the bytes
    // the block spells (all the library would deliver before it checks the CRC) and `endBit`
    // the bit after the block.
    TResult decodeAt(std::span<const std::uint8_t> data, std::uint64_t startBit, int level, TBZ2Bytes& out,
                     std::uint64_t& endBit);

private:
    std::vector<std::uint32_t> tt_;
    std::vector<std::uint8_t> selectors_;
};

// The block CRC of `n` bytes continued from `crc` (start with 0xFFFFFFFF, invert at the end).
std::uint32_t BZ2UpdateCRC(std::uint32_t crc, const std::uint8_t* p, std::size_t n);
