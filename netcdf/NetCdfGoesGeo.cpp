#include "netcdf/NetCdfGoesGeo.h"

#include <netcdf.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

// The length of dimension `name`, or 0 when the file has none that fits a count.
std::int32_t DimensionLength(int ncid, const char* name)
{
    int dimId = 0;
    if (nc_inq_dimid(ncid, name, &dimId) != NC_NOERR)
        return 0;
    std::size_t length = 0;
    if (nc_inq_dimlen(ncid, dimId, &length) != NC_NOERR ||
        length > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return 0;
    return static_cast<std::int32_t>(length);
}

} // namespace

TNetCdfGoesGeo::~TNetCdfGoesGeo()
{
    if (NcId != 0)
        nc_close(NcId);
}

bool TNetCdfGoesGeo::Open(const std::string& fileName)
{
    if (NcId != 0) {
        nc_close(NcId);
        NcId = 0;
    }
    FileName = fileName;
    int id = 0;
    if (nc_open(fileName.c_str(), NC_NOWRITE, &id) != NC_NOERR)
        return false;
    NcId = id;
    return true;
}

void TNetCdfGoesGeo::ReadDimensions()
{
    if (NcId == 0)
        return;
    XCount = DimensionLength(NcId, "xc");
    YCount = DimensionLength(NcId, "yc");
}

bool TNetCdfGoesGeo::ReadVariable(const std::string& name, std::span<float> grid)
{
    if (NcId == 0 || XCount <= 0 || YCount <= 0)
        return false;
    const std::size_t cells = static_cast<std::size_t>(XCount) * static_cast<std::size_t>(YCount);
    if (grid.size() != cells)
        return false;

    int varId = 0;
    if (nc_inq_varid(NcId, name.c_str(), &varId) != NC_NOERR)
        return false;
    // The library fills as many values as the variable holds: one of another size than the
    // grid would be written past the block, so it is refused here.
    int dimensionCount = 0;
    if (nc_inq_varndims(NcId, varId, &dimensionCount) != NC_NOERR || dimensionCount < 1 || dimensionCount > NC_MAX_VAR_DIMS)
        return false;
    std::vector<int> dimensions(static_cast<std::size_t>(dimensionCount));
    if (nc_inq_vardimid(NcId, varId, dimensions.data()) != NC_NOERR)
        return false;
    std::size_t values = 1;
    for (int dimension : dimensions) {
        std::size_t length = 0;
        if (nc_inq_dimlen(NcId, dimension, &length) != NC_NOERR)
            return false;
        if (length != 0 && values > cells / length + 1)
            return false; // would overflow, and is far too large anyway
        values *= length;
    }
    if (values != cells)
        return false;

    std::vector<float> block(cells);
    if (nc_get_var_float(NcId, varId, block.data()) != NC_NOERR)
        return false;
    std::copy(block.begin(), block.end(), grid.begin());
    return true;
}
