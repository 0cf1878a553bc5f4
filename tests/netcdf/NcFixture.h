#pragma once
// Small GOES-style netCDF files written at test time with the netCDF library itself.

#include <netcdf.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

struct ScanFile {
    bool netcdf4 = false;
    nc_type dataType = NC_FLOAT;
    bool withTime = false; // data(time = 1, yc, xc) instead of data(yc, xc)
    std::size_t width = 4;
    std::size_t height = 3;
    bool heightUnlimited = false; // "yc" as an unlimited dimension (length 0 until written)
    bool writeData = true;
    bool defineData = true;
    // Scalar integer variables; a missing name is left out of the file.
    std::map<std::string, double> scalars{
        {"startLine", 4000}, {"startElem", 2500}, {"lineRes", 4}, {"elemRes", 4}, {"bands", 4}};
    nc_type scalarType = NC_INT;
    std::vector<double> data; // width x height values; empty: 0, 1, 2, ...
};

#define NC_CHECK(call) ASSERT_EQ((call), NC_NOERR) << nc_strerror(call)

inline void writeScanFile(const std::filesystem::path& path, const ScanFile& f)
{
    int id = 0;
    NC_CHECK(nc_create(path.c_str(), NC_CLOBBER | (f.netcdf4 ? NC_NETCDF4 : 0), &id));
    int xc = 0, yc = 0, time = 0;
    NC_CHECK(nc_def_dim(id, "yc", f.heightUnlimited ? NC_UNLIMITED : f.height, &yc));
    NC_CHECK(nc_def_dim(id, "xc", f.width, &xc));
    NC_CHECK(nc_def_dim(id, "time", 1, &time));
    std::map<std::string, int> vars;
    for (const auto& [name, value] : f.scalars) {
        int v = 0;
        // "bands" is a one-element array in the broadcast files, the others are scalars.
        if (name == "bands")
            NC_CHECK(nc_def_var(id, name.c_str(), f.scalarType, 1, &time, &v));
        else
            NC_CHECK(nc_def_var(id, name.c_str(), f.scalarType, 0, nullptr, &v));
        vars[name] = v;
    }
    int data = 0;
    if (f.defineData) {
        const int dims3[] = {time, yc, xc};
        NC_CHECK(nc_def_var(id, "data", f.dataType, f.withTime ? 3 : 2, f.withTime ? dims3 : dims3 + 1, &data));
    }
    NC_CHECK(nc_enddef(id));
    for (const auto& [name, value] : f.scalars)
        NC_CHECK(nc_put_var_double(id, vars[name], &value));
    if (f.defineData && f.writeData && !f.heightUnlimited) {
        std::vector<double> values = f.data;
        if (values.empty())
            for (std::size_t i = 0; i < f.width * f.height; ++i)
                values.push_back(static_cast<double>(i));
        if (f.dataType == NC_FLOAT) {
            // Written as floats, so that NaN and infinities reach the file as they are.
            const std::vector<float> floats(values.begin(), values.end());
            NC_CHECK(nc_put_var_float(id, data, floats.data()));
        } else {
            NC_CHECK(nc_put_var_double(id, data, values.data()));
        }
    }
    NC_CHECK(nc_close(id));
}

class TempDir {
public:
    TempDir()
    {
        std::string templ = (std::filesystem::temp_directory_path() / "orvanta-nc-XXXXXX").string();
        path_ = ::mkdtemp(templ.data());
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Real third-party files, when the shared data folder is beside the source tree (or named
// by ORVANTA_SHARED_DATA in the environment).
inline std::optional<std::filesystem::path> sharedData(const std::string& relative)
{
    for (const char* root : {static_cast<const char*>(std::getenv("ORVANTA_SHARED_DATA")), static_cast<const char*>(ORVANTA_SHARED_DATA)}) {
        if (root == nullptr)
            continue;
        const std::filesystem::path p = std::filesystem::path(root) / relative;
        if (std::filesystem::exists(p))
            return p;
    }
    return std::nullopt;
}
