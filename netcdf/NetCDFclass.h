#pragma once
// The netCDF file a reader works on: opened read-only, closed when the reader goes.

#include <cstdint>
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

    const std::string& fileName() const { return FileName; }
    int ncId() const { return NcId; }
    bool isOpen() const { return NcId != 0; }

protected:
    void close();

    // The netCDF length of a dimension, or false when the file has no such dimension.
    bool dimensionLength(const char* name, std::size_t& length) const;
    // The first value of a numeric variable as an integer, or false when the file has no
    // such variable, it holds no value, or the value is not an integer in range. Reads one
    // value whatever the variable's shape, so a damaged file can't overrun the field.
    bool readInteger(const char* name, std::int32_t& value) const;

    std::string FileName;
    int NcId = 0; // 0: no file open
};
