#pragma once
// The netCDF file a reader works on: opened read-only, closed when the reader goes.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

class TNetCdf {
public:
    TNetCdf() = default;
    virtual ~TNetCdf();
    TNetCdf(const TNetCdf&) = delete;
    TNetCdf& operator=(const TNetCdf&) = delete;

    // Closes a file still open, then opens fileName read-only. After a failure no file is
    // open.
    bool Open(const std::string& fileName);
    // The same for a file's content held in memory, which must stay until the reader is
    // closed; fileName only names it. Without bytes the file itself is opened.
    bool OpenMemory(const std::string& fileName, std::span<const char> bytes);

    const std::string& fileName() const { return FileName; }
    // Why the last Open refused the bytes before the library saw them ("netCDF header is
    // damaged"); empty when the library itself was asked.
    const std::string& openProblem() const { return openProblem_; }
    int ncId() const { return NcId; }
    bool isOpen() const { return NcId != 0; }

protected:
    void close();
    // The length of the file, or of the content in memory.
    std::uint64_t contentLength() const;
    // ClassicVariableEnd of the file or of the content in memory.
    std::optional<std::uint64_t> classicVariableEnd(const char* variable) const;

    // The netCDF length of a dimension, or false when the file has no such dimension.
    bool dimensionLength(const char* name, std::size_t& length) const;
    // The first value of a numeric variable as an integer, or false when the file has no
    // such variable, it holds no value, or the value is not an integer in range. Reads one
    // value whatever the variable's shape, so a damaged file can't overrun the field.
    bool readInteger(const char* name, std::int32_t& value) const;

    std::string FileName;
    std::span<const char> Memory; // the content, when opened from memory
    int NcId = 0; // 0: no file open

private:
    std::string openProblem_;
};

// How many bytes a classic-format netCDF file (CDF-1, CDF-2 or CDF-5) must have to hold every
// value of `variable` where its header places them, taking one record for a record variable.
// nullopt for any other format, a header that cannot be read, or no such variable. The
// library itself reads past the end of a file cut short and hands back whatever its buffers
// held, so a reader checks this against the file's length first.
std::optional<std::uint64_t> ClassicVariableEnd(const std::string& fileName, const char* variable);
std::optional<std::uint64_t> ClassicVariableEnd(std::span<const unsigned char> content, const char* variable);

// The first and one-past-last byte of a variable's values, and their nc_type.
struct TClassicExtent {
    std::uint64_t Begin = 0, End = 0;
    std::uint64_t Type = 0;
};
// Where the values of `variable` lie in a classic file when it is not a record variable (its
// values are then one run of bytes); nullopt for another format, a damaged header, a record
// variable or no such variable.
std::optional<TClassicExtent> ClassicPlainVariable(std::span<const unsigned char> content, const char* variable);
// Where `variable` lies in a classic file whose head is given, when it comes after every other
// variable and none is a record variable: then all but its values is in place once the bytes
// up to its Begin are, and its values are the file's last bytes. nullopt otherwise.
std::optional<TClassicExtent> ClassicTrailingVariable(std::span<const unsigned char> head, const char* variable);
