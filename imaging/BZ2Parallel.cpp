#include "imaging/BZ2Parallel.h"

#include <bzlib.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// A bzip2 stream is "BZh" + level, then blocks each starting with the 48-bit magic
// 0x314159265359 and its CRC, then the end magic 0x177245385090 with the combined CRC,
// padded to a byte. Blocks are not byte-aligned and carry no length, so they are found
// by searching the bits for the magics. Every block is then re-wrapped as a one-block
// stream of its own (header, the block's bits, end magic, the block CRC as combined CRC)
// that the library decodes on any thread. A magic that happens to occur inside block
// data splits a block wrongly; such a piece fails to decode or its CRC fails, and the
// caller falls back to the sequential decoder, so the result never differs from it.

namespace {

constexpr std::uint64_t BlockMagic = 0x314159265359ULL;
constexpr std::uint64_t EndMagic = 0x177245385090ULL;
constexpr std::uint64_t Mask48 = 0xFFFFFFFFFFFFULL;

enum class TMagic { None, Block, End };

class TBitView {
public:
    explicit TBitView(std::span<const std::uint8_t> data) : data_(data) {}

    std::uint64_t bits() const { return static_cast<std::uint64_t>(data_.size()) * 8; }

    // 64 bits big-endian from byte i; zeros beyond the end.
    std::uint64_t window(std::size_t i) const
    {
        std::uint64_t w = 0;
        for (std::size_t k = 0; k < 8; ++k)
            w = (w << 8) | (i + k < data_.size() ? data_[i + k] : 0);
        return w;
    }

    // n (<= 57) bits starting at bit position `bit`; the caller keeps bit + n within range.
    std::uint64_t read(std::uint64_t bit, unsigned n) const
    {
        const std::uint64_t w = window(static_cast<std::size_t>(bit >> 3));
        return (w << (bit & 7)) >> (64 - n);
    }

    // The first block or end magic that starts at or after `from`.
    std::pair<std::uint64_t, TMagic> findMagic(std::uint64_t from) const
    {
        if (from + 48 > bits())
            return {0, TMagic::None};
        // Filter on the byte after the one where a magic starts: for each bit shift it is a
        // fixed byte of the pattern, so most bytes are passed over by one table look-up.
        static const auto table = [] {
            std::array<std::uint16_t, 256> t{};
            for (unsigned s = 0; s < 8; ++s) {
                // A magic at bit s of byte i puts its bits 8 - s .. 15 - s into byte i + 1.
                t[(BlockMagic << (16 - s) >> 48) & 0xFF] |= static_cast<std::uint16_t>(1u << s);
                t[(EndMagic << (16 - s) >> 48) & 0xFF] |= static_cast<std::uint16_t>(1u << (s + 8));
            }
            return t;
        }();
        const std::size_t last = static_cast<std::size_t>((bits() - 48) >> 3);
        for (std::size_t i = static_cast<std::size_t>(from >> 3); i <= last; ++i) {
            const std::uint8_t next = i + 1 < data_.size() ? data_[i + 1] : 0;
            const unsigned candidates = table[next];
            if (candidates == 0)
                continue;
            const std::uint64_t w = window(i);
            for (unsigned s = 0; s < 8; ++s) {
                const std::uint64_t at = static_cast<std::uint64_t>(i) * 8 + s;
                if (at < from || at + 48 > bits())
                    continue;
                const std::uint64_t v = (w << s) >> 16 & Mask48;
                if ((candidates & (1u << s)) && v == BlockMagic)
                    return {at, TMagic::Block};
                if ((candidates & (1u << (s + 8))) && v == EndMagic)
                    return {at, TMagic::End};
            }
        }
        return {0, TMagic::None};
    }

    std::span<const std::uint8_t> data() const { return data_; }

private:
    std::span<const std::uint8_t> data_;
};

struct TBlock {
    std::uint64_t startBit;  // at the block magic
    std::uint64_t endBit;    // at the next magic
    int level;
    std::uint32_t crc;
};

// Splits the input into blocks; false when it is not a clean sequence of streams whose
// combined CRCs agree with their blocks' CRCs.
bool planBlocks(const TBitView& view, std::vector<TBlock>& blocks)
{
    const auto data = view.data();
    std::size_t pos = 0;
    bool anyStream = false;
    while (pos < data.size()) {
        if (data.size() - pos < 4 || data[pos] != 'B' || data[pos + 1] != 'Z' || data[pos + 2] != 'h' ||
            data[pos + 3] < '1' || data[pos + 3] > '9')
            return false;
        const int level = data[pos + 3] - '0';
        std::uint64_t bit = (static_cast<std::uint64_t>(pos) + 4) * 8;
        std::uint32_t combined = 0;
        for (;;) {
            const auto [at, kind] = view.findMagic(bit);
            if (kind == TMagic::None || at != bit)
                return false;
            if (at + 80 > view.bits())
                return false;
            const auto crc = static_cast<std::uint32_t>(view.read(at + 48, 32));
            if (kind == TMagic::End) {
                if (crc != combined)
                    return false;
                pos = static_cast<std::size_t>((at + 80 + 7) / 8);
                break;
            }
            const auto [nextAt, nextKind] = view.findMagic(at + 80);
            if (nextKind == TMagic::None)
                return false;
            blocks.push_back({at, nextAt, level, crc});
            combined = ((combined << 1) | (combined >> 31)) ^ crc;
            bit = nextAt;
        }
        anyStream = true;
    }
    return anyStream;
}

class TBitWriter {
public:
    void put(std::uint64_t value, unsigned n)
    {
        for (unsigned i = n; i-- > 0;) {
            if (used_ == 0)
                bytes_.push_back(0);
            if ((value >> i) & 1)
                bytes_.back() = static_cast<char>(bytes_.back() | (0x80 >> used_));
            used_ = (used_ + 1) & 7;
        }
    }

    // Appends the bits [from, to) of the source, whole bytes at a time where possible.
    void copy(const TBitView& src, std::uint64_t from, std::uint64_t to)
    {
        while (from < to && used_ != 0) {
            put(src.read(from, 1), 1);
            ++from;
        }
        const auto data = src.data();
        const unsigned shift = static_cast<unsigned>(from & 7);
        std::size_t byte = static_cast<std::size_t>(from >> 3);
        const std::uint64_t whole = (to - from) / 8;
        bytes_.reserve(bytes_.size() + whole + 16);
        for (std::uint64_t k = 0; k < whole; ++k, ++byte) {
            const unsigned hi = data[byte];
            const unsigned lo = byte + 1 < data.size() ? data[byte + 1] : 0;
            bytes_.push_back(static_cast<char>(shift == 0 ? hi : ((hi << shift) | (lo >> (8 - shift))) & 0xFF));
        }
        from += whole * 8;
        if (from < to)
            put(src.read(from, static_cast<unsigned>(to - from)), static_cast<unsigned>(to - from));
    }

    std::vector<char>& bytes() { return bytes_; }

private:
    std::vector<char> bytes_;
    unsigned used_ = 0;  // bits used in the last byte
};

// One block as a stream of its own, decoded; nullopt when the library refuses it.
std::optional<std::vector<char>> decodeBlock(const TBitView& view, const TBlock& block)
{
    TBitWriter w;
    w.put('B', 8);
    w.put('Z', 8);
    w.put('h', 8);
    w.put(static_cast<std::uint64_t>('0' + block.level), 8);
    w.copy(view, block.startBit, block.endBit);
    w.put(EndMagic, 48);
    w.put(block.crc, 32);
    std::vector<char>& in = w.bytes();

    bz_stream s{};
    if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK)
        return std::nullopt;
    // Runs of one byte are stored shortened, so a block may decode to far more than its
    // level's 100 kB steps; grow as needed.
    std::vector<char> out(static_cast<std::size_t>(block.level) * 100000 + 1024);
    s.next_in = in.data();
    s.avail_in = static_cast<unsigned>(in.size());
    std::size_t produced = 0;
    int rc = BZ_OK;
    while (rc == BZ_OK) {
        if (produced == out.size())
            out.resize(out.size() * 2);
        s.next_out = out.data() + produced;
        s.avail_out = static_cast<unsigned>(std::min<std::size_t>(out.size() - produced, 1u << 30));
        const unsigned before = s.avail_out;
        rc = BZ2_bzDecompress(&s);
        produced += before - s.avail_out;
        if (rc == BZ_OK && s.avail_in == 0 && s.avail_out != 0)
            rc = BZ_UNEXPECTED_EOF;
    }
    BZ2_bzDecompressEnd(&s);
    if (rc != BZ_STREAM_END)
        return std::nullopt;
    out.resize(produced);
    return out;
}

} // namespace

unsigned BZ2DecompressionWorkers()
{
    return std::max(1u, std::thread::hardware_concurrency());
}

bool DecompressBZ2Parallel(std::span<const std::uint8_t> packed, unsigned workers,
                           const std::function<void(const char*, std::size_t)>& sink)
{
    const TBitView view(packed);
    std::vector<TBlock> blocks;
    if (!planBlocks(view, blocks))
        return false;
    workers = std::max(1u, std::min<unsigned>(workers, static_cast<unsigned>(std::max<std::size_t>(blocks.size(), 1))));
    // Blocks decoded ahead of the writer: enough to keep every worker busy, few enough
    // that memory stays at a handful of blocks per worker.
    const std::size_t window = 2 * static_cast<std::size_t>(workers) + 1;

    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::optional<std::vector<char>>> results(blocks.size());
    std::vector<bool> ready(blocks.size(), false);
    std::size_t next = 0;     // next block to hand out
    std::size_t written = 0;  // blocks passed to the sink
    bool failed = false;
    bool stop = false;

    auto work = [&] {
        for (;;) {
            std::size_t index;
            {
                std::unique_lock guard(lock);
                changed.wait(guard, [&] { return stop || failed || next >= blocks.size() || next < written + window; });
                if (stop || failed || next >= blocks.size())
                    return;
                index = next++;
            }
            std::optional<std::vector<char>> decoded;
            try {
                decoded = decodeBlock(view, blocks[index]);
            } catch (...) {
                decoded.reset();
            }
            std::lock_guard guard(lock);
            if (!decoded)
                failed = true;
            else
                results[index] = std::move(decoded);
            ready[index] = true;
            changed.notify_all();
        }
    };

    std::vector<std::thread> threads;
    // Whatever happens below (the sink may raise), the workers are stopped and joined.
    struct TJoin {
        std::vector<std::thread>& threads;
        std::mutex& lock;
        std::condition_variable& changed;
        bool& stop;
        ~TJoin()
        {
            {
                std::lock_guard guard(lock);
                stop = true;
            }
            changed.notify_all();
            for (auto& t : threads)
                t.join();
        }
    } join{threads, lock, changed, stop};
    for (unsigned i = 0; i < workers; ++i)
        threads.emplace_back(work);

    while (written < blocks.size()) {
        std::vector<char> piece;
        {
            std::unique_lock guard(lock);
            changed.wait(guard, [&] { return failed || ready[written]; });
            if (failed)
                return false;
            piece = std::move(*results[written]);
            results[written].reset();
        }
        sink(piece.data(), piece.size());
        {
            std::lock_guard guard(lock);
            ++written;
        }
        changed.notify_all();
    }
    return true;
}
