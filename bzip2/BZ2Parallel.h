#pragma once
// Block-parallel bzip2 decompression of a whole compressed file held in memory.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

// Decodes every block of every stream in `packed` on `workers` threads and hands the
// decoded bytes, in order, to `sink`. Returns false, having handed over nothing yet or
// part of the data, whenever the fast path cannot vouch for the result: something that
// is no clean sequence of bzip2 streams, a block that does not decode, a block or stream
// CRC that does not match, rubbish after the last stream. The caller then discards what
// it received and decodes sequentially, which also produces the proper error. Exceptions
// of the sink pass to the caller after all workers have stopped.
bool DecompressBZ2Parallel(std::span<const std::uint8_t> packed, unsigned workers,
                           const std::function<void(const char*, std::size_t)>& sink);

// Threads to use for one file: the machine's cores, at least 1.
unsigned BZ2DecompressionWorkers();
