// Any bytes, decoded by the block-parallel path (our own block decoder) and by the library
// one stream after the other: whatever the parallel path vouches for must be exactly what
// the library gives. A wrong byte passing as good stops the run.
//
// Mutated input almost never keeps its CRCs, so the same bytes are also taken as one block
// after a stream header (level from the first byte): whenever our decoder gets through the
// block, with or without the right CRC, the library must deliver exactly those bytes before
// it checks the CRC, and fail the CRC exactly when ours does.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include <bzlib.h>

#include <vector>

#include "bzip2/BZ2Block.h"
#include "bzip2/BZ2Parallel.h"
#include "bzip2/BZip2.h"

namespace {

// Enough for a few blocks of the longest runs; larger outputs only cost the fuzzer time.
constexpr std::size_t MaxOutput = std::size_t{64} << 20;

struct TTooLarge {};

void compareOneBlock(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return;
    const int level = data[0] % 9 + 1;
    std::vector<std::uint8_t> stream{'B', 'Z', 'h', static_cast<std::uint8_t>('0' + level)};
    stream.insert(stream.end(), data + 1, data + size);
    static TBZ2BlockDecoder decoder;
    TBZ2Bytes ours;
    std::uint64_t end = 0;
    const auto result = decoder.decodeAt(stream, 32, level, ours, end);
    // The library waits for more input where ours reads zeros past the end.
    if (result == TBZ2BlockDecoder::TResult::Refused || end > stream.size() * 8)
        return;

    static std::vector<char> library(std::size_t{48} << 20);
    bz_stream s{};
    if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK)
        __builtin_trap();
    s.next_in = reinterpret_cast<char*>(stream.data());
    s.avail_in = static_cast<unsigned>(stream.size());
    s.next_out = library.data();
    s.avail_out = static_cast<unsigned>(library.size());
    int rc = BZ_OK;
    while (rc == BZ_OK && s.total_out_lo32 <= ours.size() && s.avail_in > 0) {
        const unsigned before = s.avail_in;
        rc = BZ2_bzDecompress(&s);
        if (rc == BZ_OK && s.avail_in == before)
            break;
    }
    const std::size_t delivered = s.total_out_lo32;
    BZ2_bzDecompressEnd(&s);
    if (delivered < ours.size() || std::memcmp(library.data(), ours.data(), ours.size()) != 0)
        __builtin_trap();
    if (result == TBZ2BlockDecoder::TResult::WrongCrc && (rc != BZ_DATA_ERROR || delivered != ours.size()))
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    compareOneBlock(data, size);

    std::string ours;
    bool vouched = false;
    try {
        vouched = DecompressBZ2Parallel({data, size}, 1, [&](const char* p, std::size_t n) {
            if (ours.size() + n > MaxOutput)
                throw TTooLarge{};
            ours.append(p, n);
        });
    } catch (const TTooLarge&) {
        return 0;
    }
    if (!vouched)
        return 0;

    std::string library;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    try {
        TBZDecompressionStream stream(in);
        char block[65536];
        while (const std::size_t n = stream.Read(block, sizeof block)) {
            library.append(block, n);
            if (library.size() > MaxOutput)
                __builtin_trap();
        }
    } catch (const EBZip2Error&) {
        __builtin_trap();
    }
    if (library != ours)
        __builtin_trap();
    return 0;
}
