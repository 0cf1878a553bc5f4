#include "netcdf/NetCDFclass.h"

#include <netcdf.h>

#include <array>
#include <limits>

TNetCdf::~TNetCdf() { close(); }

void TNetCdf::close()
{
    if (NcId != 0)
        nc_close(NcId);
    NcId = 0;
}

bool TNetCdf::Open(const std::string& fileName)
{
    close();
    FileName = fileName;
    int id = 0;
    if (nc_open(fileName.c_str(), NC_NOWRITE, &id) != NC_NOERR)
        return false;
    NcId = id;
    return true;
}

bool TNetCdf::dimensionLength(const char* name, std::size_t& length) const
{
    int dim = 0;
    return NcId != 0 && nc_inq_dimid(NcId, name, &dim) == NC_NOERR &&
           nc_inq_dimlen(NcId, dim, &length) == NC_NOERR;
}

bool TNetCdf::readInteger(const char* name, std::int32_t& value) const
{
    int var = 0;
    if (NcId == 0 || nc_inq_varid(NcId, name, &var) != NC_NOERR)
        return false;
    // The index of the first element, whatever the number of dimensions; unused entries
    // are ignored by the library.
    std::array<std::size_t, NC_MAX_VAR_DIMS> first{};
    long v = 0;
    if (nc_get_var1_long(NcId, var, first.data(), &v) != NC_NOERR)
        return false;
    if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
        return false;
    value = static_cast<std::int32_t>(v);
    return true;
}
