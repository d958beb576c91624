// Reading the lines of a vector file back with OGR's C library.
#pragma once

#include <gtest/gtest.h>

#include <gdal.h>
#include <ogr_api.h>

#include <QString>

#include <utility>
#include <vector>

namespace qgrad::testing {

using Vertices = std::vector<std::pair<double, double>>;

// The vertices of every line of every layer of `source`, as OGR's `driver`
// reads them.
inline std::vector<Vertices> LinesRead(const QString& source, const char* driver) {
    GDALAllRegister();
    const char* const drivers[] = {driver, nullptr};
    GDALDatasetH ds = GDALOpenEx(source.toUtf8().constData(), GDAL_OF_VECTOR, drivers, nullptr, nullptr);
    EXPECT_NE(ds, nullptr) << driver << " " << source.toStdString();
    std::vector<Vertices> lines;
    if (!ds) return lines;
    for (int l = 0; l < GDALDatasetGetLayerCount(ds); ++l) {
        OGRLayerH layer = GDALDatasetGetLayer(ds, l);
        while (OGRFeatureH f = OGR_L_GetNextFeature(layer)) {
            OGRGeometryH g = OGR_F_GetGeometryRef(f);
            if (g && wkbFlatten(OGR_G_GetGeometryType(g)) == wkbLineString) {
                Vertices& v = lines.emplace_back();
                for (int i = 0; i < OGR_G_GetPointCount(g); ++i) v.emplace_back(OGR_G_GetX(g, i), OGR_G_GetY(g, i));
            }
            OGR_F_Destroy(f);
        }
    }
    GDALClose(ds);
    return lines;
}

}  // namespace qgrad::testing
