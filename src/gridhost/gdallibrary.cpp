#include "gridhost/gdallibrary.h"

#include "gridhost/gridjob.h"

#include <dlfcn.h>

#include <string>

namespace qgrad {
namespace {

[[noreturn]] void Missing(const std::string& what) {
    const char* why = dlerror();
    throw GridHostError("the GIS outputs need the GDAL library: " + what + (why ? std::string(": ") + why : ""));
}

GdalLibrary Load() {
    // Never unloaded: its drivers keep state for the life of the process.
    void* handle = dlopen(QGRAD_GDAL_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (!handle) Missing("cannot load " QGRAD_GDAL_SONAME);
    GdalLibrary gdal;
#define QGRAD_GDAL_FIND(name)                                                \
    gdal.name = reinterpret_cast<decltype(gdal.name)>(dlsym(handle, #name)); \
    if (!gdal.name) Missing(QGRAD_GDAL_SONAME " has no " #name);
    QGRAD_GDAL_FUNCTIONS(QGRAD_GDAL_FIND)
#undef QGRAD_GDAL_FIND
    gdal.GDALAllRegister();
    return gdal;
}

}  // namespace

const GdalLibrary& Gdal() {
    // A load that throws leaves the table unmade, for the next call to try.
    static const GdalLibrary gdal = Load();
    return gdal;
}

SpatialRef Epsg(int code) {
    SpatialRef srs(Gdal().OSRNewSpatialReference(nullptr));
    Gdal().OSRImportFromEPSG(srs.get(), code);
    Gdal().OSRSetAxisMappingStrategy(srs.get(), OAMS_TRADITIONAL_GIS_ORDER);
    return srs;
}

}  // namespace qgrad
