#include "bzip2/BZ2Block.h"

#include <algorithm>
#include <array>
#include <cstring>

// A block, after its 48-bit magic: CRC (32), randomised flag (1), origin pointer (24), the
// map of bytes in use (16 bits of groups, 16 bits per group present), the number of Huffman
// tables (3) and of selectors (15), the selectors as unary move-to-front indices, each
// table's code lengths (a 5-bit start, then per symbol +1/-1 steps ended by a 0 bit), then
// the symbols, 50 per selector. Symbols 0 and 1 spell a run length of the front byte in
// bijective base 2; the others are move-to-front indices plus one; the last ends the
// block. The result is the last column of the sorted rotations; the original follows from
// the origin pointer, and then runs of four equal bytes are followed by a count of more.
//
// Whatever this decoder accepts must be byte for byte what the library gives, and whatever
// the library refuses must be refused here: the block-parallel path trusts it alone. So
// where the library would go on with something odd (a code that is not a complete prefix
// code, a block ending inside a run of four), this one gives up and leaves the block to the
// library, which then produces the proper result or error.

namespace {

constexpr unsigned MaxCodeLength = 20;
constexpr unsigned LookupBits = 10;
constexpr unsigned MaxGroups = 6;
constexpr unsigned MaxSelectors = 18002;
constexpr unsigned GroupSize = 50;
constexpr unsigned MaxAlphabet = 258;

const std::array<std::array<std::uint32_t, 256>, 8>& crcTables()
{
    static const auto tables = [] {
        std::array<std::array<std::uint32_t, 256>, 8> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i << 24;
            for (int k = 0; k < 8; ++k)
                c = (c << 1) ^ ((c & 0x80000000u) ? 0x04C11DB7u : 0u);
            t[0][i] = c;
        }
        for (std::size_t k = 1; k < 8; ++k)
            for (std::uint32_t i = 0; i < 256; ++i)
                t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
        return t;
    }();
    return tables;
}

std::uint32_t loadBigEndian32(const std::uint8_t* p)
{
    std::uint32_t w;
    std::memcpy(&w, p, 4);
    return __builtin_bswap32(w);
}

class TBitReader {
public:
    TBitReader(std::span<const std::uint8_t> data, std::uint64_t bit) : data_(data), pos_(bit) {}

    // The next bits, the first in the top bit; at least 57 of them are meaningful, zeros
    // stand for bits beyond the input.
    std::uint64_t peek() const
    {
        const std::size_t i = static_cast<std::size_t>(pos_ >> 3);
        std::uint64_t w = 0;
        if (i + 8 <= data_.size()) {
            std::memcpy(&w, data_.data() + i, 8);
            w = __builtin_bswap64(w);
        } else {
            for (std::size_t k = 0; k < 8; ++k)
                w = (w << 8) | (i + k < data_.size() ? data_[i + k] : 0);
        }
        return w << (pos_ & 7);
    }
    void skip(unsigned n) { pos_ += n; }
    // n in 1..32.
    std::uint32_t bits(unsigned n)
    {
        const auto v = static_cast<std::uint32_t>(peek() >> (64 - n));
        pos_ += n;
        return v;
    }
    bool bit() { return bits(1) != 0; }
    std::uint64_t position() const { return pos_; }

private:
    std::span<const std::uint8_t> data_;
    std::uint64_t pos_;
};

// A canonical prefix code: codes are handed out in order of length, then of symbol.
class THuffman {
public:
    // False for lengths that do not form a complete prefix code.
    bool build(const std::uint8_t* lengths, unsigned alphabet)
    {
        std::array<unsigned, MaxCodeLength + 1> count{};
        for (unsigned s = 0; s < alphabet; ++s)
            ++count[lengths[s]];
        std::uint32_t kraft = 0;
        for (unsigned l = 1; l <= MaxCodeLength; ++l)
            kraft += count[l] << (MaxCodeLength - l);
        if (kraft != (1u << MaxCodeLength))
            return false;
        std::array<unsigned, MaxCodeLength + 2> index{};
        for (unsigned l = 1; l <= MaxCodeLength; ++l)
            index[l + 1] = index[l] + count[l];
        std::uint32_t code = 0;
        for (unsigned l = 1; l <= MaxCodeLength; ++l) {
            offset_[l] = static_cast<std::int32_t>(index[l]) - static_cast<std::int32_t>(code);
            code += count[l];
            limit_[l] = code << (MaxCodeLength - l);
            code <<= 1;
        }
        auto next = index;
        for (unsigned s = 0; s < alphabet; ++s)
            perm_[next[lengths[s]]++] = static_cast<std::uint16_t>(s);
        lookup_.fill(0);
        for (unsigned l = 1; l <= LookupBits; ++l)
            for (unsigned k = index[l]; k < index[l + 1]; ++k) {
                const std::uint32_t c = static_cast<std::uint32_t>(static_cast<std::int32_t>(k) - offset_[l]);
                const unsigned first = c << (LookupBits - l);
                const unsigned n = 1u << (LookupBits - l);
                const auto entry = static_cast<std::uint16_t>((perm_[k] << 5) | l);
                std::fill_n(lookup_.begin() + first, n, entry);
            }
        return true;
    }

    // The symbol at the top of `window`; its length in `length`.
    unsigned decode(std::uint64_t window, unsigned& length) const
    {
        const unsigned e = lookup_[window >> (64 - LookupBits)];
        if (e != 0) {
            length = e & 31;
            return e >> 5;
        }
        const auto v = static_cast<std::uint32_t>(window >> (64 - MaxCodeLength));
        unsigned l = LookupBits + 1;
        while (v >= limit_[l])
            ++l;
        length = l;
        return perm_[offset_[l] + static_cast<std::int32_t>(v >> (MaxCodeLength - l))];
    }

private:
    std::array<std::uint16_t, 1u << LookupBits> lookup_{};  // symbol << 5 | length; 0: longer
    std::array<std::uint32_t, MaxCodeLength + 1> limit_{};  // end of length l's codes, left-aligned
    std::array<std::int32_t, MaxCodeLength + 1> offset_{};
    std::array<std::uint16_t, MaxAlphabet> perm_{};
};

} // namespace

void TBZ2Bytes::reserve(std::size_t n)
{
    if (n <= capacity_)
        return;
    auto bigger = std::make_unique_for_overwrite<char[]>(n);
    if (size_ > 0)
        std::memcpy(bigger.get(), data_.get(), size_);
    data_ = std::move(bigger);
    capacity_ = n;
}

std::uint32_t BZ2UpdateCRC(std::uint32_t crc, const std::uint8_t* p, std::size_t n)
{
    const auto& t = crcTables();
    for (; n >= 8; n -= 8, p += 8) {
        const std::uint32_t a = crc ^ loadBigEndian32(p);
        const std::uint32_t b = loadBigEndian32(p + 4);
        crc = t[7][a >> 24] ^ t[6][(a >> 16) & 0xFF] ^ t[5][(a >> 8) & 0xFF] ^ t[4][a & 0xFF] ^ t[3][b >> 24] ^
              t[2][(b >> 16) & 0xFF] ^ t[1][(b >> 8) & 0xFF] ^ t[0][b & 0xFF];
    }
    for (; n > 0; --n, ++p)
        crc = (crc << 8) ^ t[0][(crc >> 24) ^ *p];
    return crc;
}

bool TBZ2BlockDecoder::decode(std::span<const std::uint8_t> data, std::uint64_t startBit, std::uint64_t endBit,
                              int level, TBZ2Bytes& out)
{
    // The block must end exactly where the next magic was found, as in the library's view
    // of the block re-wrapped as a stream of its own.
    std::uint64_t end = 0;
    return decodeAt(data, startBit, level, out, end) == TResult::Good && end == endBit;
}

TBZ2BlockDecoder::TResult TBZ2BlockDecoder::decodeAt(std::span<const std::uint8_t> data, std::uint64_t startBit,
                                                     int level, TBZ2Bytes& out, std::uint64_t& endBit)
{
    constexpr TResult Refused = TResult::Refused;
    if (level < 1 || level > 9 || startBit >= static_cast<std::uint64_t>(data.size()) * 8)
        return Refused;
    TBitReader in(data, startBit);
    if (in.bits(24) != 0x314159 || in.bits(24) != 0x265359)
        return Refused;
    const std::uint32_t storedCrc = in.bits(32);
    if (in.bit())
        return Refused;  // randomised: left to the library
    const std::uint32_t origPtr = in.bits(24);
    const std::uint32_t maxBlock = 100000u * static_cast<std::uint32_t>(level);

    std::array<std::uint8_t, 256> byteOf{};
    unsigned inUse = 0;
    const std::uint32_t groups16 = in.bits(16);
    for (unsigned i = 0; i < 16; ++i) {
        if (!(groups16 & (0x8000u >> i)))
            continue;
        const std::uint32_t map = in.bits(16);
        for (unsigned j = 0; j < 16; ++j)
            if (map & (0x8000u >> j))
                byteOf[inUse++] = static_cast<std::uint8_t>(i * 16 + j);
    }
    if (inUse == 0)
        return Refused;
    const unsigned alphabet = inUse + 2;
    const unsigned endOfBlock = inUse + 1;

    const unsigned groups = in.bits(3);
    if (groups < 2 || groups > MaxGroups)
        return Refused;
    const unsigned selectorCount = in.bits(15);
    if (selectorCount < 1 || selectorCount > MaxSelectors)
        return Refused;
    selectors_.resize(selectorCount);
    std::array<std::uint8_t, MaxGroups> groupOrder{0, 1, 2, 3, 4, 5};
    for (unsigned i = 0; i < selectorCount; ++i) {
        unsigned j = 0;
        while (in.bit())
            if (++j >= groups)
                return Refused;
        const std::uint8_t g = groupOrder[j];
        for (; j > 0; --j)
            groupOrder[j] = groupOrder[j - 1];
        groupOrder[0] = g;
        selectors_[i] = g;
    }

    std::array<THuffman, MaxGroups> codes;
    for (unsigned t = 0; t < groups; ++t) {
        std::array<std::uint8_t, MaxAlphabet> lengths{};
        unsigned length = in.bits(5);
        for (unsigned s = 0; s < alphabet; ++s) {
            for (;;) {
                if (length < 1 || length > MaxCodeLength)
                    return Refused;
                if (!in.bit())
                    break;
                length = in.bit() ? length - 1 : length + 1;
            }
            lengths[s] = static_cast<std::uint8_t>(length);
        }
        if (!codes[t].build(lengths.data(), alphabet))
            return Refused;
    }

    // The last column, one byte per entry for now; the upper bits take the links below.
    if (tt_.size() < maxBlock)
        tt_.resize(maxBlock);
    std::uint32_t* const tt = tt_.data();
    std::array<std::uint32_t, 256> frequency{};
    std::array<std::uint8_t, 256> front;
    for (unsigned i = 0; i < 256; ++i)
        front[i] = static_cast<std::uint8_t>(i);
    std::uint32_t n = 0;
    std::uint64_t run = 0;
    unsigned runWeight = 0;
    unsigned selector = 0;
    unsigned left = 0;
    const THuffman* code = nullptr;
    for (;;) {
        if (left == 0) {
            if (selector >= selectorCount)
                return Refused;
            code = &codes[selectors_[selector++]];
            left = GroupSize;
        }
        --left;
        unsigned length;
        const unsigned symbol = code->decode(in.peek(), length);
        in.skip(length);
        if (symbol <= 1) {
            run += static_cast<std::uint64_t>(symbol + 1) << runWeight;
            ++runWeight;
            if (run > maxBlock)
                return Refused;
            continue;
        }
        if (run > 0) {
            if (n + run > maxBlock)
                return Refused;
            const std::uint8_t b = byteOf[front[0]];
            frequency[b] += static_cast<std::uint32_t>(run);
            std::fill_n(tt + n, run, b);
            n += static_cast<std::uint32_t>(run);
            run = 0;
            runWeight = 0;
        }
        if (symbol == endOfBlock)
            break;
        if (n >= maxBlock)
            return Refused;
        const unsigned index = symbol - 1;
        const std::uint8_t v = front[index];
        // The second place is by far the most frequent after runs.
        if (index == 1)
            front[1] = front[0];
        else
            std::memmove(front.data() + 1, front.data(), index);
        front[0] = v;
        const std::uint8_t b = byteOf[v];
        ++frequency[b];
        tt[n++] = b;
    }
    endBit = in.position();
    if (origPtr >= n)
        return Refused;

    // Each entry learns where the rotation one further on stands in the sorted order.
    std::array<std::uint32_t, 256> start{};
    for (unsigned b = 1; b < 256; ++b)
        start[b] = start[b - 1] + frequency[b - 1];
    for (std::uint32_t i = 0; i < n; ++i)
        tt[start[tt[i] & 0xFF]++] |= i << 8;

    // The walk along the vector gives the block's bytes in order, one cache miss each; the
    // run-of-four undo rides along, so the bytes are not stored and read a second time. After
    // four equal bytes the next one is a count of further copies. Bytes outside such runs come
    // out one for one, so room for what is left of the block is always kept and only a run's
    // copies need to look for more.
    out.clear();
    out.reserve(static_cast<std::size_t>(n) + (n >> 2) + 4096);
    auto* o = reinterpret_cast<std::uint8_t*>(out.data());
    std::size_t written = 0;
    std::uint32_t at = tt[origPtr] >> 8;
    int last = -1;  // no byte yet, or the one after a count
    unsigned equal = 0;  // how many times last came in a row
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t e = tt[at];
        at = e >> 8;
        const auto b = static_cast<std::uint8_t>(e);
        if (equal == 4) {
            const std::size_t copies = b;
            const std::size_t need = written + copies + (n - i);
            if (need > out.capacity()) {
                out.setSize(written);
                out.reserve(std::max(need, out.capacity() * 2));
                o = reinterpret_cast<std::uint8_t*>(out.data());
            }
            std::memset(o + written, last, copies);
            written += copies;
            equal = 0;
            last = -1;
            continue;
        }
        o[written++] = b;
        if (b == last) {
            ++equal;
        } else {
            equal = 1;
            last = b;
        }
    }
    // The library reads past the block for a missing count and refuses the block.
    if (equal == 4)
        return Refused;
    out.setSize(written);
    const std::uint32_t crc = ~BZ2UpdateCRC(0xFFFFFFFFu, o, written);
    return crc == storedCrc ? TResult::Good : TResult::WrongCrc;
}
