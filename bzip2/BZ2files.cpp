#include "bzip2/BZ2files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <streambuf>
#include <optional>
#include <span>
#include <vector>

#include "bzip2/BZ2Parallel.h"

#include "bzip2/BZip2.h"
#include "base/PartialFile.h"
#include "base/StreamErrors.h"
#include "base/Files.h"
#include "base/Text.h"

namespace {

constexpr off_t MinimumCompressedSize = 40;
constexpr std::size_t CopyBlock = 32768;

// Writes decompressed data, refusing to go past what any incoming file can hold: a small
// hostile file must not fill the archive disk.
void writeBounded(TPartialFile& output, const char* data, std::size_t count)
{
    if (static_cast<std::uint64_t>(output.size()) + count > MaxDecompressedSize)
        throw EBZDecompressionError("decompressed data exceeds " + std::to_string(MaxDecompressedSize >> 20) + " MiB");
    output.write(data, count);
}

// The compressed file mapped read-only for the block-parallel decoder.
class TMappedFile {
public:
    explicit TMappedFile(const std::string& fileName)
    {
        const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        struct stat info{};
        if (::fstat(fd, &info) == 0 && info.st_size > 0) {
            size_ = static_cast<std::size_t>(info.st_size);
            void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
            if (p != MAP_FAILED) {
                data_ = p;
                ::madvise(p, size_, MADV_SEQUENTIAL);
            }
        }
        ::close(fd);
    }
    TMappedFile(const TMappedFile&) = delete;
    TMappedFile& operator=(const TMappedFile&) = delete;
    ~TMappedFile()
    {
        if (data_)
            ::munmap(data_, size_);
    }
    bool valid() const { return data_ != nullptr; }
    std::span<const std::uint8_t> bytes() const { return {static_cast<const std::uint8_t*>(data_), size_}; }

private:
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

void decompressStream(std::istream& source, const std::function<void(const char*, std::size_t)>& sink)
{
    TBZDecompressionStream stream(source);
    std::vector<char> block(CopyBlock);
    for (;;) {
        const std::size_t got = stream.Read(block.data(), block.size());
        if (got == 0)
            break;
        sink(block.data(), got);
    }
}

void decompressSequentially(const std::string& fileName, TPartialFile& output)
{
    std::ifstream source(fileName, std::ios::binary);
    if (!source)
        throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
    decompressStream(source, [&](const char* data, std::size_t n) { writeBounded(output, data, n); });
}

// Bytes in memory as a seekable input stream.
class TMemoryBuffer : public std::streambuf {
public:
    explicit TMemoryBuffer(std::span<const std::uint8_t> bytes)
    {
        char* p = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
        setg(p, p, p + bytes.size());
    }

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir, std::ios_base::openmode) override
    {
        const off_type base = dir == std::ios_base::beg ? 0 : dir == std::ios_base::cur ? gptr() - eback() : egptr() - eback();
        return seekpos(pos_type(base + offset), std::ios_base::in);
    }
    pos_type seekpos(pos_type position, std::ios_base::openmode) override
    {
        const off_type at = position;
        if (at < 0 || at > egptr() - eback())
            return pos_type(off_type(-1));
        setg(eback(), eback() + at, egptr());
        return position;
    }
};

} // namespace

bool HasBZ2Extension(std::string_view fileName) { return UpperCase(FileExtension(fileName)) == ".BZ2"; }

std::string BZ2TargetName(const std::string& fileName)
{
    const auto slash = fileName.find_last_of('/');
    const auto nameStart = slash == std::string::npos ? 0 : slash + 1;
    const auto dot = fileName.find_last_of('.');
    if (dot == std::string::npos || dot <= nameStart)
        return {};
    return fileName.substr(0, dot);
}

bool DecompressBZ2File(const std::string& fileName)
{
    return DecompressBZ2File(fileName, BZ2DecompressionWorkers());
}

bool DecompressBZ2File(const std::string& fileName, unsigned workers)
{
    struct stat info{};
    if (::stat(fileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size < MinimumCompressedSize)
        return false;
    const std::string target = BZ2TargetName(fileName);
    // Without an extension the target would be the source itself.
    if (target.empty())
        return false;

    std::optional<TPartialFile> output;
    if (workers > 1) {
        const TMappedFile packed(fileName);
        if (packed.valid()) {
            output.emplace(target);
            const bool whole = DecompressBZ2Parallel(
                packed.bytes(), workers, [&](const char* data, std::size_t n) { writeBounded(*output, data, n); });
            // Anything the fast path could not vouch for is decoded again, one block after
            // the other, which gives the same bytes or the proper error.
            if (!whole)
                output.reset();
        }
    }
    if (!output) {
        output.emplace(target);
        decompressSequentially(fileName, *output);
    }
    const bool result = output->size() > 0;
    output->commit(result ? &info.st_mtim : nullptr);
    return result;
}

std::optional<std::vector<char>> DecompressBZ2Bytes(std::span<const std::uint8_t> packed, unsigned workers,
                                                    const TKeepBound& bound, const TContentProgress& progress)
{
    if (packed.size() < static_cast<std::size_t>(MinimumCompressedSize))
        return std::nullopt;
    std::vector<char> plain;
    // Address space only: pages are taken as they are written, and the data never moves.
    plain.reserve(static_cast<std::size_t>(MaxDecompressedSize));
    std::uint64_t total = 0;
    std::uint64_t held = MaxDecompressedSize;
    bool bounded = !bound;
    const auto decideBound = [&] {
        held = std::max<std::uint64_t>(bound(std::span<const char>(plain.data(), plain.size())), plain.size());
        bounded = true;
    };
    const auto append = [&](const char* data, std::size_t n) {
        if (total + n > MaxDecompressedSize)
            throw EBZDecompressionError("decompressed data exceeds " + std::to_string(MaxDecompressedSize >> 20) + " MiB");
        total += n;
        if (!bounded) {
            const std::size_t head = std::min<std::size_t>(n, BoundHeadBytes - plain.size());
            plain.insert(plain.end(), data, data + head);
            data += head;
            n -= head;
            if (plain.size() < BoundHeadBytes)
                return;
            decideBound();
        }
        if (plain.size() < held) {
            plain.insert(plain.end(), data, data + std::min<std::uint64_t>(n, held - plain.size()));
            if (progress)
                progress(std::span<const char>(plain.data(), plain.size()));
        }
    };
    const auto finish = [&] {
        if (!bounded)
            decideBound();
        if (plain.size() > held)
            plain.resize(static_cast<std::size_t>(held));
        // Moved, not copied: the content stays where the progress said it was.
        return std::move(plain);
    };
    if (workers > 1 && DecompressBZ2Parallel(packed, workers, append))
        return finish();
    if (progress)
        progress({});
    plain.clear();
    total = 0;
    held = MaxDecompressedSize;
    bounded = !bound;
    TMemoryBuffer buffer(packed);
    std::istream source(&buffer);
    decompressStream(source, append);
    return finish();
}

std::optional<std::vector<char>> DecompressBZ2FileToMemory(const std::string& fileName, bool write,
                                                           const TKeepBound& bound, const TContentProgress& progress)
{
    struct stat info{};
    if (::stat(fileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size < MinimumCompressedSize)
        return std::nullopt;
    const std::string target = BZ2TargetName(fileName);
    if (target.empty())
        return std::nullopt;
    // Made first, as DecompressBZ2File makes it: a directory that takes no new file fails
    // before the data is looked at.
    std::optional<TPartialFile> output;
    if (write)
        output.emplace(target);
    std::optional<std::vector<char>> plain;
    if (const TMappedFile packed(fileName); packed.valid()) {
        plain = DecompressBZ2Bytes(packed.bytes(), BZ2DecompressionWorkers(), bound, progress);
    } else {
        std::ifstream source(fileName, std::ios::binary);
        if (!source)
            throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(source)), {});
        plain = DecompressBZ2Bytes(bytes, BZ2DecompressionWorkers(), bound, progress);
    }
    if (!plain)
        return std::nullopt;
    // An empty content leaves its empty file, kept or not, as DecompressBZ2File does.
    if (plain->empty() && !output)
        output.emplace(target);
    if (output) {
        output->write(plain->data(), plain->size());
        output->commit(plain->empty() ? nullptr : &info.st_mtim);
    }
    return plain;
}

void WriteDecompressedContent(const std::string& compressedFile, std::span<const char> content)
{
    struct stat info{};
    const bool stamped = !content.empty() && ::stat(compressedFile.c_str(), &info) == 0;
    TPartialFile output(BZ2TargetName(compressedFile));
    output.write(content.data(), content.size());
    output.commit(stamped ? &info.st_mtim : nullptr);
}
