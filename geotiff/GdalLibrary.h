#pragma once
// GDAL, loaded the first time a GeoTIFF is written or read. Linked into the program it would
// cost every start, including the single-file runs and the desktop that never write a
// GeoTIFF, about 35 ms of CPU for the hundred libraries it pulls in.

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <string>

#define ORVANTA_GDAL_FUNCTIONS(X)                                                                                      \
    X(CPLErrorReset) X(CPLGetLastErrorMsg) X(CPLGetLastErrorType) X(CPLPopErrorHandler) X(CPLPushErrorHandler)        \
    X(CPLQuietErrorHandler) X(CSLDestroy) X(CSLSetNameValue) X(GDALAddBand) X(GDALAllRegister) X(GDALBuildOverviews)   \
    X(GDALClose) X(GDALCreate) X(GDALCreateCopy) X(GDALCreateDatasetMaskBand) X(GDALGetDriverByName)                   \
    X(GDALGetMaskBand) X(GDALGetRasterBand) X(GDALGetRasterCount) X(GDALGetRasterDataType) X(GDALGetRasterXSize)       \
    X(GDALGetRasterYSize) X(GDALOpenEx) X(GDALRasterIO) X(GDALSetGeoTransform) X(GDALSetMetadataItem)                  \
    X(GDALSetRasterColorInterpretation) X(GDALSetSpatialRef) X(OSRDestroySpatialReference) X(OSRImportFromProj4)       \
    X(OSRNewSpatialReference) X(VSIFree) X(VSIGetMemFileBuffer) X(VSIUnlink)

// The functions this program calls, under their own names.
struct TGdal {
#define ORVANTA_GDAL_POINTER(name) decltype(&::name) name = nullptr;
    ORVANTA_GDAL_FUNCTIONS(ORVANTA_GDAL_POINTER)
#undef ORVANTA_GDAL_POINTER
};

// The library with its drivers registered, loaded once for the whole process; nullptr with
// why when it cannot be loaded (not installed, or a version without one of the functions).
const TGdal* Gdal(std::string& why);
