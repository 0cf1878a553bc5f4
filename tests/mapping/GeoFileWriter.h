#pragma once
// Writes small geolocation netCDF files for the tests, laid out as the broadcast lays them out
// (dimensions "yc" and "xc", float grids "lat" and "lon"), with knobs to damage the layout.

#include <netcdf.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace geotest {

struct GeoFileLayout {
    std::string xName = "xc";
    std::string yName = "yc";
    std::string lonName = "lon";
    std::string latName = "lat";
    // Declared lengths of the grids' own dimensions, when they differ from the "xc"/"yc" counts.
    std::size_t lonRows = 0, lonColumns = 0;
    nc_type type = NC_FLOAT;
    bool writeLon = true;
    bool writeLat = true;
};

class NcFile {
public:
    explicit NcFile(const std::string& path)
    {
        if (nc_create(path.c_str(), NC_CLOBBER, &id_) != NC_NOERR)
            throw std::runtime_error("cannot create " + path);
    }
    ~NcFile() { nc_close(id_); }
    NcFile(const NcFile&) = delete;
    NcFile& operator=(const NcFile&) = delete;
    int Id() const { return id_; }
    void Check(int status, const char* what) const
    {
        if (status != NC_NOERR)
            throw std::runtime_error(std::string(what) + ": " + nc_strerror(status));
    }

private:
    int id_ = 0;
};

// lon and lat hold yCount rows of xCount values.
inline void WriteGeoFile(const std::string& path, std::size_t xCount, std::size_t yCount, const std::vector<float>& lon,
                         const std::vector<float>& lat, const GeoFileLayout& layout = {})
{
    NcFile file(path);
    const int nc = file.Id();
    int xDim = 0, yDim = 0;
    file.Check(nc_def_dim(nc, layout.xName.c_str(), xCount, &xDim), "xc");
    file.Check(nc_def_dim(nc, layout.yName.c_str(), yCount, &yDim), "yc");
    int gridDims[2] = {yDim, xDim};
    if (layout.lonRows != 0) {
        file.Check(nc_def_dim(nc, "grid_rows", layout.lonRows, &gridDims[0]), "rows");
        file.Check(nc_def_dim(nc, "grid_columns", layout.lonColumns, &gridDims[1]), "columns");
    }
    int lonVar = -1, latVar = -1;
    if (layout.writeLon)
        file.Check(nc_def_var(nc, layout.lonName.c_str(), layout.type, 2, gridDims, &lonVar), "lon");
    if (layout.writeLat)
        file.Check(nc_def_var(nc, layout.latName.c_str(), layout.type, 2, gridDims, &latVar), "lat");
    file.Check(nc_enddef(nc), "enddef");
    const std::size_t cells = layout.lonRows != 0 ? layout.lonRows * layout.lonColumns : xCount * yCount;
    const auto put = [&](int var, const std::vector<float>& values) {
        if (var < 0)
            return;
        std::vector<float> padded(values);
        padded.resize(cells, 0.0f);
        if (layout.type == NC_FLOAT)
            file.Check(nc_put_var_float(nc, var, padded.data()), "put");
        else
            file.Check(nc_put_var_double(nc, var, std::vector<double>(padded.begin(), padded.end()).data()), "put");
    };
    put(lonVar, lon);
    put(latVar, lat);
}

} // namespace geotest
