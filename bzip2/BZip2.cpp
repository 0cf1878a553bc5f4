#include "bzip2/BZip2.h"

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <limits>

namespace {

void* bzAlloc(void*, int count, int size)
{
    if (count < 0 || size < 0)
        return nullptr;
    return std::calloc(static_cast<std::size_t>(count), static_cast<std::size_t>(size));
}

void bzFree(void*, void* block)
{
    std::free(block);
}

const std::string invalidOperation = "Invalid stream operation";

} // namespace

std::string BZErrorMessage(int status)
{
    return "error " + std::to_string(status);
}

TCustomBZip2Stream::TCustomBZip2Stream(std::istream& source)
    : Source(source), SourcePosition(static_cast<std::int64_t>(source.tellg())),
      Buffer(new char[BufferSize])
{
    BZState.bzalloc = bzAlloc;
    BZState.bzfree = bzFree;
    BZState.opaque = nullptr;
}

TBZDecompressionStream::TBZDecompressionStream(std::istream& source) : TCustomBZip2Stream(source)
{
    init();
}

TBZDecompressionStream::~TBZDecompressionStream()
{
    end();
}

void TBZDecompressionStream::init()
{
    BZState.next_in = Buffer.get();
    BZState.avail_in = 0;
    const int rc = BZ2_bzDecompressInit(&BZState, 0, 0);
    if (rc < 0)
        throw EBZDecompressionError(BZErrorMessage(rc));
    initialised_ = true;
}

void TBZDecompressionStream::end()
{
    if (initialised_) {
        initialised_ = false;
        BZ2_bzDecompressEnd(&BZState);
    }
}

bool TBZDecompressionStream::refill()
{
    Source.clear();
    if (SourcePosition >= 0 && static_cast<std::int64_t>(Source.tellg()) != SourcePosition)
        Source.seekg(SourcePosition);
    Source.read(Buffer.get(), static_cast<std::streamsize>(BufferSize));
    const auto got = Source.gcount();
    Source.clear();
    if (got <= 0)
        return false;
    BZState.next_in = Buffer.get();
    BZState.avail_in = static_cast<unsigned>(got);
    if (SourcePosition >= 0)
        SourcePosition += got;
    return true;
}

void TBZDecompressionStream::startNextStream()
{
    // Keep whatever input the finished stream left unread: it is the next stream's start.
    char* const pending = BZState.next_in;
    const unsigned pendingCount = BZState.avail_in;
    end();
    init();
    BZState.next_in = pending;
    BZState.avail_in = pendingCount;
}

std::size_t TBZDecompressionStream::Read(void* buffer, std::size_t count)
{
    BZState.next_out = static_cast<char*>(buffer);
    std::size_t remaining = count;
    bool firstStream = streamCount_ == 0;
    while (remaining > 0 && !finished_) {
        const unsigned chunk = static_cast<unsigned>(
            std::min<std::size_t>(remaining, std::numeric_limits<unsigned>::max()));
        BZState.avail_out = chunk;
        if (BZState.avail_in == 0 && !refill()) {
            const bool streamUntouched = BZState.total_in_lo32 == 0 && BZState.total_in_hi32 == 0;
            if (streamUntouched && !firstStream) {
                finished_ = true;
                break;
            }
            // The input stops inside a stream: a cut-off file must not pass for a whole one.
            throw EBZCompressionError(BZErrorMessage(BZ_UNEXPECTED_EOF));
        }
        const int rc = BZ2_bzDecompress(&BZState);
        const unsigned produced = chunk - BZState.avail_out;
        remaining -= produced;
        delivered_ += produced;
        if (rc == BZ_DATA_ERROR_MAGIC && !firstStream && BZState.total_out_lo32 == 0 &&
            BZState.total_out_hi32 == 0) {
            // Bytes after the last stream that are no bzip2 stream: ignored, as bzip2 does.
            finished_ = true;
            break;
        }
        if (rc < 0)
            throw EBZCompressionError(BZErrorMessage(rc));
        if (rc == BZ_STREAM_END) {
            ++streamCount_;
            firstStream = false;
            startNextStream();
        }
    }
    return count - remaining;
}

std::size_t TBZDecompressionStream::Write(const void*, std::size_t)
{
    throw EBZDecompressionError(invalidOperation);
}

std::int64_t TBZDecompressionStream::Seek(std::int64_t offset, TSeekOrigin origin)
{
    if (offset == 0 && origin == TSeekOrigin::soBeginning) {
        end();
        init();
        finished_ = false;
        streamCount_ = 0;
        delivered_ = 0;
        Source.clear();
        Source.seekg(0);
        SourcePosition = 0;
        return 0;
    }
    if (origin == TSeekOrigin::soBeginning && offset > delivered_)
        offset -= delivered_;
    else if (origin != TSeekOrigin::soCurrent || offset < 0)
        throw EBZDecompressionError(invalidOperation);
    char scrap[4096];
    while (offset > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(offset, sizeof scrap));
        if (Read(scrap, piece) != piece)
            throw EReadError("Stream read error");
        offset -= static_cast<std::int64_t>(piece);
    }
    return delivered_;
}
