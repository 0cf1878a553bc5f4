#pragma once
// Read-only bzip2 decompression over any seekable source stream.

#include <bzlib.h>

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <stdexcept>
#include <string>

#include "base/StreamErrors.h"

class EBZip2Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EBZCompressionError : public EBZip2Error {
public:
    using EBZip2Error::EBZip2Error;
};

class EBZDecompressionError : public EBZip2Error {
public:
    using EBZip2Error::EBZip2Error;
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TCustomBZip2Stream {
public:
    static constexpr std::size_t BufferSize = 131072;

    TCustomBZip2Stream(const TCustomBZip2Stream&) = delete;
    TCustomBZip2Stream& operator=(const TCustomBZip2Stream&) = delete;
    virtual ~TCustomBZip2Stream() = default;

    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

protected:
    explicit TCustomBZip2Stream(std::istream& source);

    std::istream& Source;
    std::int64_t SourcePosition;
    bz_stream BZState{};
    std::unique_ptr<char[]> Buffer;
};

class TBZDecompressionStream final : public TCustomBZip2Stream {
public:
    explicit TBZDecompressionStream(std::istream& source);
    ~TBZDecompressionStream() override;

    // Delivers decompressed bytes. Streams written one after another (as parallel
    // compressors do) read as one; bytes after the last stream that do not start a new
    // one are ignored, as bzip2 itself does. Damaged or truncated data raises
    // EBZCompressionError "error <status>" (-7 when the input ends inside a stream).
    std::size_t Read(void* buffer, std::size_t count) override;
    // Always raises: the stream is read-only.
    std::size_t Write(const void* buffer, std::size_t count) override;
    // Forward only (or back to the very start); returns the decompressed bytes delivered.
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

    std::int64_t Position() const { return delivered_; }

private:
    void init();
    void end();
    bool refill();
    // One stream has ended: the decoder is made ready for a following one.
    void startNextStream();

    std::int64_t delivered_ = 0;
    bool initialised_ = false;
    bool finished_ = false;
    int streamCount_ = 0;
};

// "error <status>" with the bzip2 library's status code.
std::string BZErrorMessage(int status);
