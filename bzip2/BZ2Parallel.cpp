#include "bzip2/BZ2Parallel.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "bzip2/BZ2Block.h"

// A bzip2 stream is "BZh" + level, then blocks each starting with the 48-bit magic
// 0x314159265359 and its CRC, then the end magic 0x177245385090 with the combined CRC,
// padded to a byte. Blocks are not byte-aligned and carry no length, so they are found
// by searching the bits for the magics. Every block is then decoded on any thread by our
// own block decoder, which must end exactly where the next magic was found and checks the
// block's CRC. A magic that happens to occur inside block data splits a block wrongly; such
// a piece fails to decode or its CRC fails, and the caller falls back to the sequential
// decoder, so the result never differs from it.
//
// The search for the next block is done by the worker that is about to decode it, so
// decoding starts after the first block has been found rather than after the whole input
// has been searched. Each worker keeps its decoder's work memory from
// block to block, and decoded blocks go back to a pool once the sink has them: a fresh
// multi-megabyte allocation per block costs page faults and zeroing on every block.

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
        if (i + 8 <= data_.size()) {
            std::uint64_t w;
            std::memcpy(&w, data_.data() + i, 8);
            return __builtin_bswap64(w);
        }
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

// Walks the input block by block; refuses anything that is not a clean sequence of streams
// whose combined CRCs agree with their blocks' CRCs.
class TBlockPlanner {
public:
    enum class TStep { Block, End, Bad };

    explicit TBlockPlanner(const TBitView& view) : view_(view) {}

    TStep next(TBlock& block)
    {
        const auto data = view_.data();
        for (;;) {
            if (!inStream_) {
                if (pos_ == data.size())
                    return anyStream_ ? TStep::End : TStep::Bad;
                if (data.size() - pos_ < 4 || data[pos_] != 'B' || data[pos_ + 1] != 'Z' || data[pos_ + 2] != 'h' ||
                    data[pos_ + 3] < '1' || data[pos_ + 3] > '9')
                    return TStep::Bad;
                level_ = data[pos_ + 3] - '0';
                bit_ = (static_cast<std::uint64_t>(pos_) + 4) * 8;
                combined_ = 0;
                inStream_ = true;
            }
            if (bit_ + 80 > view_.bits())
                return TStep::Bad;
            const std::uint64_t magic = view_.read(bit_, 48);
            const auto crc = static_cast<std::uint32_t>(view_.read(bit_ + 48, 32));
            if (magic == EndMagic) {
                if (crc != combined_)
                    return TStep::Bad;
                pos_ = static_cast<std::size_t>((bit_ + 80 + 7) / 8);
                inStream_ = false;
                anyStream_ = true;
                continue;
            }
            if (magic != BlockMagic)
                return TStep::Bad;
            const auto [nextAt, nextKind] = view_.findMagic(bit_ + 80);
            if (nextKind == TMagic::None)
                return TStep::Bad;
            block = {bit_, nextAt, level_, crc};
            combined_ = ((combined_ << 1) | (combined_ >> 31)) ^ crc;
            bit_ = nextAt;
            return TStep::Block;
        }
    }

private:
    const TBitView& view_;
    std::size_t pos_ = 0;       // next stream header, when between streams
    std::uint64_t bit_ = 0;     // next magic, inside a stream
    int level_ = 0;
    std::uint32_t combined_ = 0;
    bool inStream_ = false;
    bool anyStream_ = false;
};

} // namespace

unsigned BZ2DecompressionWorkers()
{
    return std::max(1u, std::thread::hardware_concurrency());
}

// Blocks are found, decoded and handed to the sink in order: workers take turns at finding
// the next block, decode it into the slot of its number, and the caller's thread hands the
// slots to the sink as they fill.
class TBlockPipeline {
public:
    TBlockPipeline(std::span<const std::uint8_t> packed, unsigned workers)
        : view_(packed), planner_(view_), workers_(std::max(1u, workers)),
          window_(2 * static_cast<std::size_t>(workers_) + 1), slots_(window_)
    {
    }
    // Whatever happens meanwhile (the sink may raise), the workers are stopped and joined.
    ~TBlockPipeline()
    {
        {
            std::lock_guard guard(lock_);
            stop_ = true;
        }
        changed_.notify_all();
        for (auto& t : threads_)
            t.join();
    }

    bool Run(const std::function<void(const char*, std::size_t)>& sink)
    {
        for (unsigned i = 0; i < workers_; ++i)
            threads_.emplace_back([this] { work(); });
        return drain(sink);
    }

private:
    struct TSlot {
        bool ready = false;
        TBZ2Bytes bytes;
    };

    // Waits for this worker's turn to find the next block; false when there is nothing left
    // to do. out gets a buffer the sink is done with, if any.
    bool takeTurn(std::size_t& index, TBZ2Bytes& out)
    {
        std::unique_lock guard(lock_);
        changed_.wait(guard, [&] {
            return stop_ || failed_ || plannedAll_ || (!planning_ && planned_ < written_ + window_);
        });
        if (stop_ || failed_ || plannedAll_)
            return false;
        planning_ = true;
        index = planned_;
        if (!pool_.empty()) {
            out = std::move(pool_.back());
            pool_.pop_back();
        }
        return true;
    }

    // Searches for the next block; anything but a block ends the search (a fault in the
    // input fails the fast path, so the caller decodes sequentially and finds the error).
    bool findBlock(TBlock& block)
    {
        TBlockPlanner::TStep step = TBlockPlanner::TStep::Bad;
        try {
            step = planner_.next(block);
        } catch (...) {
        }
        {
            std::lock_guard guard(lock_);
            planning_ = false;
            if (step == TBlockPlanner::TStep::Block)
                ++planned_;
            else if (step == TBlockPlanner::TStep::End)
                plannedAll_ = true;
            else
                failed_ = true;
        }
        changed_.notify_all();
        return step == TBlockPlanner::TStep::Block;
    }

    void work()
    {
        TBZ2BlockDecoder decoder;
        for (;;) {
            std::size_t index = 0;
            TBZ2Bytes out;
            TBlock block{};
            if (!takeTurn(index, out) || !findBlock(block))
                return;
            bool ok = false;
            try {
                ok = decoder.decode(view_.data(), block.startBit, block.endBit, block.level, out);
            } catch (...) {
                ok = false;
            }
            std::lock_guard guard(lock_);
            if (!ok)
                failed_ = true;
            TSlot& slot = slots_[index % window_];
            slot.bytes = std::move(out);
            slot.ready = true;
            changed_.notify_all();
        }
    }

    // Hands the blocks to the sink in order, each as soon as it is decoded.
    bool drain(const std::function<void(const char*, std::size_t)>& sink)
    {
        for (;;) {
            TBZ2Bytes piece;
            {
                std::unique_lock guard(lock_);
                TSlot& slot = slots_[written_ % window_];
                changed_.wait(guard, [&] { return failed_ || slot.ready || (plannedAll_ && written_ == planned_); });
                if (failed_)
                    return false;
                if (!slot.ready)
                    return true;
                piece = std::move(slot.bytes);
                slot.ready = false;
            }
            sink(piece.data(), piece.size());
            {
                std::lock_guard guard(lock_);
                ++written_;
                pool_.push_back(std::move(piece));
            }
            changed_.notify_all();
        }
    }

    const TBitView view_;
    TBlockPlanner planner_;
    const unsigned workers_;
    // Blocks decoded ahead of the sink: enough to keep every worker busy, few enough that
    // memory stays at a handful of blocks per worker.
    const std::size_t window_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<TSlot> slots_;     // block i lives in slot i % window
    std::vector<TBZ2Bytes> pool_;  // decoded buffers the sink is done with
    std::size_t planned_ = 0;      // blocks found so far
    std::size_t written_ = 0;      // blocks passed to the sink
    bool planning_ = false;        // a worker is searching for the next block
    bool plannedAll_ = false;
    bool failed_ = false;
    bool stop_ = false;
    std::vector<std::thread> threads_;  // last: joined while everything above still stands
};

bool DecompressBZ2Parallel(std::span<const std::uint8_t> packed, unsigned workers,
                           const std::function<void(const char*, std::size_t)>& sink)
{
    TBlockPipeline pipeline(packed, workers);
    return pipeline.Run(sink);
}
