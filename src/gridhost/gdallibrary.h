// The functions of GDAL's C interface that the GIS outputs call, found in
// the library once it is first needed. Loading GDAL and the hundred
// libraries it brings takes longer than gridding a small survey, and most
// runs of the host write no GIS output.
#pragma once

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>
#include <gdal_alg.h>
#include <gdal_utils.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>
#include <sqlite3.h>

#include <memory>
#include <type_traits>

namespace qgrad {

#define QGRAD_GDAL_FUNCTIONS(X)                                                                                      \
    X(CPLCloseFileInZip) X(CPLCloseZip) X(CPLCreateFileInZip) X(CPLCreateZip) X(CPLErrorReset) X(CPLGetLastErrorMsg) \
    X(CPLGetLastErrorType) X(CPLPopErrorHandler) X(CPLPushErrorHandler) X(CPLQuietErrorHandler) X(CPLWriteFileInZip) \
    X(CSLAddString) X(CSLDestroy) X(GDALAllRegister) X(GDALBuildOverviews) X(GDALClose) X(GDALCreate)                \
    X(GDALCreateCopy)                                                                                                \
    X(GDALDatasetCommitTransaction) X(GDALDatasetCreateLayer) X(GDALDatasetStartTransaction) X(GDALGetDriverByName)  \
    X(GDALGetGeoTransform) X(GDALGetRasterBand) X(GDALGetRasterXSize) X(GDALGetRasterYSize) X(GDALPolygonize)        \
    X(GDALRasterIO) X(GDALSetDescription) X(GDALSetGeoTransform) X(GDALSetRasterNoDataValue)                         \
    X(GDALSetRasterUnitType) X(GDALSetSpatialRef) X(GDALWarp) X(GDALWarpAppOptionsFree) X(GDALWarpAppOptionsNew)     \
    X(OGR_F_Create) X(OGR_F_Destroy) X(OGR_F_GetGeometryRef) X(OGR_F_SetFieldDouble) X(OGR_F_SetFieldInteger)        \
    X(OGR_F_SetFieldNull) X(OGR_F_SetFieldString) X(OGR_F_SetGeometryDirectly) X(OGR_Fld_Create) X(OGR_Fld_Destroy)  \
    X(OGR_G_Area) X(OGR_G_Clone) X(OGR_G_CreateGeometry) X(OGR_G_DestroyGeometry) X(OGR_G_ExportToKML)               \
    X(OGR_G_SetPointCount) X(OGR_G_SetPoint_2D) X(OGR_L_CreateFeature) X(OGR_L_CreateField) X(OGR_L_GetLayerDefn)    \
    X(OGR_L_GetNextFeature) X(OGR_L_ResetReading) X(OSRImportFromEPSG) X(OSRNewSpatialReference) X(OSRRelease)       \
    X(OSRSetAxisMappingStrategy) X(OCTNewCoordinateTransformation) X(OCTTransform)                                   \
    X(OCTDestroyCoordinateTransformation) X(VSIFree)                                                                 \
    X(GDALDatasetDeleteLayer) X(GDALDatasetExecuteSQL) X(GDALDatasetReleaseResultSet) X(GDALGetInternalHandle)       \
    X(OGR_F_SetFID) X(sqlite3_bind_blob) X(sqlite3_bind_int64) X(sqlite3_bind_text) X(sqlite3_column_int)            \
    X(sqlite3_column_text) X(sqlite3_errmsg) X(sqlite3_exec) X(sqlite3_finalize) X(sqlite3_prepare_v2)               \
    X(sqlite3_reset) X(sqlite3_step)

// Each member is the library's function of the same name; the sqlite3_
// ones are SQLite's as GDAL loaded it, for the connection a GeoPackage
// dataset hands out.
struct GdalLibrary {
#define QGRAD_GDAL_POINTER(name) decltype(&::name) name = nullptr;
    QGRAD_GDAL_FUNCTIONS(QGRAD_GDAL_POINTER)
#undef QGRAD_GDAL_POINTER
};

// Loads GDAL and registers its drivers on the first call, from any thread.
// Throws GridHostError naming what is missing when the library or one of
// its functions cannot be found; a later call tries again.
const GdalLibrary& Gdal();

struct SrsReleaser {
    void operator()(OGRSpatialReferenceH srs) const { Gdal().OSRRelease(srs); }
};
using SpatialRef = std::unique_ptr<std::remove_pointer_t<OGRSpatialReferenceH>, SrsReleaser>;

// The system of an EPSG code, its axes east first whatever the code's order.
SpatialRef Epsg(int code);

inline constexpr int kWgs84 = 4326;

}  // namespace qgrad
