#pragma once
// Decompression of an archived .bz2 file beside itself.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// More than any incoming file holds (the largest, a full-disk geolocation file, is about
// 113 MB); decompression stops with EBZDecompressionError beyond it.
inline constexpr std::uint64_t MaxDecompressedSize = std::uint64_t{512} << 20;

// The name less its last extension ("a.nc.bz2" -> "a.nc"); empty when the file name
// has no extension to remove.
std::string BZ2TargetName(const std::string& fileName);
// Whether the name ends in ".bz2", in any case.
bool HasBZ2Extension(std::string_view fileName);

// Decompresses fileName into BZ2TargetName(fileName) and gives the result the source's
// modification time. False (nothing written) for a missing file, one shorter than 40
// bytes or one without an extension; false too when the content is empty (the empty
// target is left). Damaged or truncated data raises EBZCompressionError and leaves no
// output: the target appears, complete, only once all of it has been decompressed.
// Blocks are decoded on all of the machine's cores, with a result identical to decoding
// them one after the other.
bool DecompressBZ2File(const std::string& fileName);
// The same with a given number of threads; 1 decodes in the calling thread only.
bool DecompressBZ2File(const std::string& fileName, unsigned workers);

// How many leading bytes of a decompressed content are worth holding, decided from its first
// BoundHeadBytes bytes (all of it when shorter): what follows is only counted against the
// limit, so a small file that expands to nothing useful costs no memory.
using TKeepBound = std::function<std::uint64_t(std::span<const char> head)>;
inline constexpr std::size_t BoundHeadBytes = 65536;

// Told, in the decoding thread, the leading bytes of the content held so far each time more
// are: they stay where they are and no longer change, so another thread may read them while
// the rest is decoded. An empty span comes before the decoding starts over from the first
// byte; the call must not return while anything still reads what was held.
using TContentProgress = std::function<void(std::span<const char> held)>;

// The whole content of a .bz2 file held in memory, decoded as DecompressBZ2File decodes a
// file: the same errors, the same limit. nullopt where it would write nothing (fewer than 40
// bytes); an empty content comes back empty. With a bound, at most what it allows is held.
std::optional<std::vector<char>> DecompressBZ2Bytes(std::span<const std::uint8_t> packed, unsigned workers,
                                                    const TKeepBound& bound = {},
                                                    const TContentProgress& progress = {});

// DecompressBZ2File's work with the content kept in memory: the target is written (whole,
// with the source's time) only when write asks for it, or left empty for an empty content
// as DecompressBZ2File leaves it. nullopt where DecompressBZ2File writes nothing; the same
// errors, the same limit.
std::optional<std::vector<char>> DecompressBZ2FileToMemory(const std::string& fileName, bool write,
                                                           const TKeepBound& bound = {},
                                                           const TContentProgress& progress = {});

// Writes content as the decompressed file of compressedFile (BZ2TargetName), whole, with the
// compressed file's modification time, as DecompressBZ2FileToMemory writes it; an empty
// content leaves its empty file. Raises EFOpenError or EWriteError when it cannot.
void WriteDecompressedContent(const std::string& compressedFile, std::span<const char> content);
